// The tunnel's TLS handshake: the context, the pin check of the server's key, and the check code.
#include "secure/LinkLiveness.h"
#include "secure/SecureLog.h"
#include "secure/TlsTunnelImpl.h"

#include <openssl/err.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace pelio::components::secure {

namespace {

// The TLS exporter's label for the check code: ours alone, so the code is worth nothing elsewhere.
constexpr char kCheckCodeLabel[] = "EXPORTER-pelio-check-code";
}  // namespace

std::string TakeOpenSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "no detail";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

// Runs for the certificates of the server's chain; only the server's own (depth 0) counts, and it
// counts through its key's pin alone: errors about issuers, names or dates are no reason to refuse,
// a key with another pin is.
int TlsTunnel::Impl::VerifyPin(int, X509_STORE_CTX* store) {
    if (X509_STORE_CTX_get_error_depth(store) != 0) return 1;
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* self = ssl ? static_cast<Impl*>(SSL_get_app_data(ssl)) : nullptr;
    if (!self) return 0;
    const std::optional<Pin> pin = PinOfCertificate(X509_STORE_CTX_get_current_cert(store));
    if (pin && *pin == self->expected) {
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }
    self->pinMismatch = true;
    X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
    return 0;
}

bool TlsTunnel::Impl::Setup(int socket, const AgentKey* key) {
    net = socket;
    if (net < 0) return false;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
    plain = pair[0];
    relayEnd = pair[1];
    wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return false;
    if (::fcntl(net, F_SETFL, ::fcntl(net, F_GETFL) | O_NONBLOCK) != 0 ||
        ::fcntl(relayEnd, F_SETFL, ::fcntl(relayEnd, F_GETFL) | O_NONBLOCK) != 0)
        return false;
    const int one = 1;
    ::setsockopt(net, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // the relay writes whole messages
    WatchLiveness(net);

    context = SSL_CTX_new(client ? TLS_client_method() : TLS_server_method());
    if (!context) return false;
    SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION);
    SSL_CTX_set_max_proto_version(context, TLS1_3_VERSION);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (client) {
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, VerifyPin);
    } else {
        if (!key || !key->IsValid() || SSL_CTX_use_certificate(context, key->Certificate()) != 1 ||
            SSL_CTX_use_PrivateKey(context, key->Key()) != 1 || SSL_CTX_check_private_key(context) != 1)
            return false;
        SSL_CTX_set_num_tickets(context, 0);
        SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    }
    ssl = SSL_new(context);
    if (!ssl || SSL_set_fd(ssl, net) != 1) return false;
    SSL_set_app_data(ssl, this);
    SSL_set_read_ahead(ssl, 1);
    return true;
}

TlsTunnel::Failure TlsTunnel::Impl::Handshake() {
    const auto deadline = TunnelClock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        ERR_clear_error();
        const int result = client ? SSL_connect(ssl) : SSL_accept(ssl);
        if (result == 1) break;
        const int error = SSL_get_error(ssl, result);
        short events = 0;
        if (error == SSL_ERROR_WANT_READ) {
            events = POLLIN;
        } else if (error == SSL_ERROR_WANT_WRITE) {
            events = POLLOUT;
        } else {
            qCInfo(lcSecure, "handshake: %s", TakeOpenSslError().c_str());
            return pinMismatch ? Failure::PinMismatch : Failure::Handshake;
        }
        while (true) {
            const int left = MsUntil(deadline);
            if (left <= 0) return Failure::Timeout;
            pollfd p[2] = {{net, events, 0}, {wake, POLLIN, 0}};
            const int n = ::poll(p, 2, left);
            if (n < 0 && errno != EINTR) return Failure::System;
            if (p[1].revents) return Failure::Cancelled;
            if (n > 0) break;
        }
    }
    // The callback has checked the key already; this holds even if it were never asked.
    if (client) {
        const std::optional<Pin> pin = PinOfCertificate(SSL_get0_peer_certificate(ssl));
        if (!pin || !(*pin == expected)) return Failure::PinMismatch;
    }
    return Failure::None;
}

QString TlsTunnel::Impl::ExportCheckCode() {
    unsigned char bytes[4];
    if (SSL_export_keying_material(ssl, bytes, sizeof bytes, kCheckCodeLabel, std::strlen(kCheckCodeLabel),
                                   nullptr, 0, 0) != 1) {
        ERR_clear_error();
        return QString();
    }
    const std::uint32_t value = (std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
                                 std::uint32_t(bytes[2]) << 8 | bytes[3]) %
                                1000000u;
    return QStringLiteral("%1 %2")
        .arg(value / 1000, 3, 10, QLatin1Char('0'))
        .arg(value % 1000, 3, 10, QLatin1Char('0'));
}

// Moves bytes both ways until one side ends. `down` holds decrypted bytes on their way to the plain
// side, `up` plain bytes on their way into TLS; each is filled only when empty, and a full one stops
// the reading on its side, so a slow reader slows the writer on the other end instead of filling
// memory. OpenSSL is asked again for what it needs (reading or writing the socket) after each call
// that could not go on.
}  // namespace pelio::components::secure
