// TLS 1.3 over a connected TCP socket, handed to the caller as a plain local socket: code that speaks
// a protocol on a descriptor (the RFB libraries) speaks it through TLS without knowing.
//
// Trust is the pin. The client (Connect) takes the server whose certificate's key has the pin it was
// given, and no other: no certificate authority, name or date is looked at, and a mismatch ends the
// handshake with an alert before either side has sent or read an application byte. The server
// (Accept) presents the certificate of an AgentKey and asks the client for none. Only TLS 1.3 is
// spoken; there are no session tickets and no resumption.
//
// Connect and Accept take the socket in every case (it is closed when they fail and when the tunnel
// ends). They run the handshake on the tunnel's own thread and wait for it, at most `timeoutMs`; the
// caller's `cancelled` is asked every 100 ms meanwhile. After the handshake that thread relays: what
// the caller writes on the plain descriptor is encrypted and sent, what arrives is decrypted, checked
// and written to it. The relay ends, and closes its end of the pair and the network socket, when
// - the caller closes or shuts down the plain descriptor (what it wrote before is sent first, then
//   the TLS close),
// - the peer closes (what arrived before is still written to the plain descriptor),
// - any TLS or network error happens: a record that fails its check ends the relay at once, and no
//   byte of it reaches the plain descriptor,
// - or Stop is called.
// The caller then reads the end of the stream on the plain descriptor, and its writes fail.
//
// The network socket is watched for death (LinkLiveness.h): a peer that vanishes ends the relay
// within kDeadLinkMs, and Lost tells such an end from the peer's close.
//
// Check code: six digits derived from the session's keys (TLS exporter), the same on both ends and
// different for every session; two people compare them to know that no one sits in between.
//
// Thread-safe, except that TakePlainFd is for one thread.
#pragma once

#include "secure/AgentKey.h"
#include "secure/Pin.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace pelio::components::secure {

class TlsTunnel {
  public:
    enum class Failure {
        None,
        System,       // no socket, no socket pair, no thread, OpenSSL could not be set up
        Handshake,    // the peer closed, spoke no TLS 1.3 or refused
        PinMismatch,  // the server's key has another pin
        Timeout,
        Cancelled,
    };
    static const char* FailureText(Failure failure);

    struct Options {
        int timeoutMs = 10000;
        std::function<bool()> cancelled;  // may be empty
    };

    // The client's side: null, with the reason in `failure`, when no tunnel to a server with `pin`
    // came up.
    static std::unique_ptr<TlsTunnel> Connect(int socket, const Pin& pin, const Options& options,
                                              Failure* failure = nullptr);
    // The server's side, presenting `key`.
    static std::unique_ptr<TlsTunnel> Accept(int socket, const AgentKey& key, const Options& options,
                                             Failure* failure = nullptr);

    // Ends the relay (as Stop) and waits for its thread; closes the plain descriptor if it was not taken.
    ~TlsTunnel();
    TlsTunnel(const TlsTunnel&) = delete;
    TlsTunnel& operator=(const TlsTunnel&) = delete;

    // The plain descriptor, blocking, close-on-exec; the caller owns it from then on. -1 when taken
    // before.
    int TakePlainFd();

    // "123 456": three digits, a blank, three digits.
    QString CheckCode() const;

    // Ends the relay without waiting for anything still to be sent or written. Returns at once.
    void Stop();
    // True once the relay has ended (waiting at most `ms`).
    bool WaitFinished(int ms);
    // True when the relay ended because the network connection was lost (reset, timed out,
    // unreachable), false while it runs and when the peer closed it, the caller ended it or Stop did.
    // Set before the caller reads the end of the stream.
    bool Lost() const;

    // One consistent reading of the bytes the relay has written to the plain descriptor and, of them,
    // the ones the caller has read: those not read yet are counted on `plainFd`, the caller's end or a
    // duplicate of it. False when the system does not tell.
    bool ReadCounters(int plainFd, std::uint64_t& delivered, std::uint64_t& taken) const;

  private:
    struct Impl;
    explicit TlsTunnel(std::unique_ptr<Impl> impl);
    static std::unique_ptr<TlsTunnel> Start(std::unique_ptr<Impl> impl, const Options& options,
                                            Failure* failure);
    std::unique_ptr<Impl> d;
};

}  // namespace pelio::components::secure
