#include "web/NetFailure.h"

#include <curl/curl.h>

namespace pelio::web {

QString NetErrorName(NetError kind) {
    switch (kind) {
        case NetError::None:
            return QStringLiteral("no failure");
        case NetError::Refused:
            return QStringLiteral("refused");
        case NetError::NameNotResolved:
            return QStringLiteral("name not resolved");
        case NetError::TimedOut:
            return QStringLiteral("timed out");
        case NetError::Tls:
            return QStringLiteral("TLS");
        case NetError::HttpStatus:
            return QStringLiteral("HTTP status");
        case NetError::ServerRefused:
            return QStringLiteral("refused by the server");
        case NetError::SizeCap:
            return QStringLiteral("size cap");
        case NetError::CutShort:
            return QStringLiteral("cut short");
        case NetError::BadAddress:
            return QStringLiteral("bad address");
        case NetError::Other:
            break;
    }
    return QStringLiteral("other");
}

NetError NetErrorOfCurlCode(int curlCode) {
    switch (static_cast<CURLcode>(curlCode)) {
        case CURLE_OK:
            return NetError::None;
        case CURLE_COULDNT_CONNECT:
            return NetError::Refused;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return NetError::NameNotResolved;
        case CURLE_OPERATION_TIMEDOUT:
            return NetError::TimedOut;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_USE_SSL_FAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CLIENTCERT:
            return NetError::Tls;
        case CURLE_HTTP_RETURNED_ERROR:
            return NetError::HttpStatus;
        case CURLE_LOGIN_DENIED:
        case CURLE_REMOTE_ACCESS_DENIED:
        case CURLE_REMOTE_FILE_NOT_FOUND:
        case CURLE_REMOTE_FILE_EXISTS:
        case CURLE_REMOTE_DISK_FULL:
        case CURLE_QUOTE_ERROR:
        case CURLE_UPLOAD_FAILED:
        case CURLE_FTP_COULDNT_RETR_FILE:
        case CURLE_FTP_COULDNT_SET_TYPE:
        case CURLE_FTP_COULDNT_USE_REST:
            return NetError::ServerRefused;
        case CURLE_FILESIZE_EXCEEDED:
            return NetError::SizeCap;
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            return NetError::CutShort;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return NetError::BadAddress;
        default:
            return NetError::Other;
    }
}

NetFailure CurlFailure(int curlCode, const QString& detail) {
    const NetError kind = NetErrorOfCurlCode(curlCode);
    if (kind == NetError::None) return {};
    return {kind, detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(static_cast<CURLcode>(curlCode)))
                                   : detail};
}

}  // namespace pelio::web
