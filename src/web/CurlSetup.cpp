#include "web/CurlSetup.h"

#include <curl/curl.h>

#include <cstdlib>
#include <mutex>

namespace pelio::web {

void CurlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

QByteArray NoProxyList() {
    QByteArray list = "localhost,127.0.0.1,::1";
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        const QByteArray value = QByteArray(std::getenv(name)).trimmed();
        if (value == "*") return value;  // nothing goes through a proxy
        if (!value.isEmpty()) list += ',' + value;
    }
    return list;
}

void ApplyCurlPolicy(CURL* easy, CurlUse use, const QByteArray& url) {
    // libcurl keeps a copy of every string option.
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
    if (use == CurlUse::DropBox) {
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "ftp");
        curl_easy_setopt(easy, CURLOPT_PROXY, "");  // direct
        return;
    }
    curl_easy_setopt(easy, CURLOPT_NOPROXY, NoProxyList().constData());
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    const bool secure = url.left(6).toLower() == "https:";
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
}

void ApplyDropBoxTls(CURL* easy, const DropBoxTls& tls) {
    curl_easy_setopt(easy, CURLOPT_USE_SSL, long(tls.required ? CURLUSESSL_ALL : CURLUSESSL_TRY));
    // AUTH TLS first, as the standard asks; servers that know only AUTH SSL take that as well.
    curl_easy_setopt(easy, CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS));
    if (!tls.pin.isEmpty()) {
        // The pin stands for the certificate: a self-signed one is fine when its key matches.
        curl_easy_setopt(easy, CURLOPT_PINNEDPUBLICKEY, tls.pin.constData());
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    } else if (!tls.required) {
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    }
}

}  // namespace pelio::web
