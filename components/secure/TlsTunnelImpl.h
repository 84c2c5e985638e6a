// The inside of TlsTunnel, shared by its source files: the handshake and its check code
// (TlsTunnelHandshake.cpp), the relay and the tunnel's life (TlsTunnel.cpp).
#pragma once

#include "secure/TlsTunnel.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace pelio::components::secure {

using TunnelClock = std::chrono::steady_clock;

// Milliseconds left until the deadline, never below 0.
inline int MsUntil(TunnelClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TunnelClock::now()).count();
    return int(std::clamp<long long>(left, 0, 1 << 30));
}

// The first queued OpenSSL error as text, and the queue cleared.
std::string TakeOpenSslError();

struct TlsTunnel::Impl {
    ~Impl();

    bool client = true;
    Pin expected;              // the client's pin
    bool pinMismatch = false;  // the verify callback saw another key (tunnel thread)
    int timeoutMs = 10000;
    bool ready = false;  // Setup succeeded
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    int net = -1;       // the network socket (tunnel thread once started)
    int relayEnd = -1;  // the relay's end of the pair (tunnel thread once started)
    int plain = -1;     // the caller's end, until taken
    int wake = -1;      // eventfd: Stop
    std::thread thread;

    std::mutex mutex;
    std::condition_variable changed;
    bool handshakeDone = false;
    bool finished = false;
    std::atomic<bool> lost{false};  // the relay ended on a lost network connection
    Failure failure = Failure::None;
    QString checkCode;

    // Guards each write to the plain side together with the count of what was written.
    mutable std::mutex countMutex;
    std::uint64_t delivered = 0;
    bool closedHere = false;  // the relay sent its close (tunnel thread)

    bool Setup(int socket, const AgentKey* key);
    void Run();
    Failure Handshake();
    QString ExportCheckCode();
    void Relay();
    void CloseGracefully();
    bool Woken() const;

    static int VerifyPin(int preverified, X509_STORE_CTX* store);
};

}  // namespace pelio::components::secure
