#pragma once

#include <QByteArray>

// The one set-up of libcurl that every network client of the program uses (the service's requests,
// downloads, the FTP drop box), so that they follow one policy:
// - certificates: https and FTPS servers are checked against the system's certificate authorities,
//   host name included, with TLS 1.2 at least; nothing turns the check off. The one exception is
//   the drop box's opportunistic TLS (see DropBoxTls).
// - proxies: HTTP and HTTPS go through the proxies of the environment (http_proxy, https_proxy,
//   all_proxy, no_proxy), as other programs of the desktop do; loopback addresses are always reached
//   directly. FTP is always direct: an HTTP proxy cannot carry the drop box's commands.
// - redirects: followed for HTTP, at most kMaxRedirects, to http and https only, and never from
//   https down to plain http (what came over a checked connection stays on one).
// - the user agent "vb wininet" on every HTTP request; libcurl raises no signals (threads use it).
typedef void CURL;  // as libcurl declares it

namespace pelio::web {

enum class CurlUse {
    Service,   // the service's short requests
    Download,  // files fetched to disk
    DropBox,   // the FTP drop box
};

inline constexpr long kMaxRedirects = 10;
inline constexpr char kUserAgent[] = "vb wininet";

// TLS on the drop box's FTP connection (explicit, AUTH TLS). Without `required`, TLS is used whenever
// the server offers it and plain FTP otherwise; without a pin its certificate is then not checked
// (opportunistic encryption, RFC 7435: it keeps passive listeners out and is never worse than the
// plain FTP the server would otherwise get). With `required`, a server without TLS is refused and
// its certificate must pass the system's authorities, or match `pin` when one is given. A pin
// ("sha256//" + Base64 of the SHA-256 of the public key) is checked in both modes.
struct DropBoxTls {
    bool required = false;
    QByteArray pin;
};

// Starts libcurl for the process, once, from any thread.
void CurlGlobalInit();

// Applies the policy above to a fresh (or reset) handle for a transfer to `url`.
void ApplyCurlPolicy(CURL* easy, CurlUse use, const QByteArray& url);

// Applies the drop box's TLS mode; call after ApplyCurlPolicy.
void ApplyDropBoxTls(CURL* easy, const DropBoxTls& tls);

// The value for libcurl's no-proxy list: the environment's (no_proxy, NO_PROXY) and the loopback
// names and addresses.
QByteArray NoProxyList();

}  // namespace pelio::web
