// A weak network link in user space, for benchmarks: a TCP relay on 127.0.0.1 that lets each
// direction through at a given rate (a token bucket) and a given delay (half the round trip), as a
// slow DSL or mobile link would. No root tools (tc, netem) are needed.
//
// Each connection accepted on Port() is relayed to 127.0.0.1:target. Bytes keep their order and all
// arrive; when one side ends, the other side learns it after the bytes before the end. A side that
// reads slowly slows the writer on the other end (the relay holds at most kWindowBytes per direction).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

namespace pelio::bench {

class WeakLink {
  public:
    struct Shape {
        double bitsPerSecond = 2e6;  // each direction
        int roundTripMs = 80;
    };
    static constexpr std::size_t kWindowBytes = 256 * 1024;

    explicit WeakLink(Shape shape);
    ~WeakLink();  // stops the relay and closes every connection
    WeakLink(const WeakLink&) = delete;
    WeakLink& operator=(const WeakLink&) = delete;

    // Listens on a free port of 127.0.0.1 and relays to targetPort there; false when it cannot listen.
    bool Start(int targetPort);
    int Port() const { return m_port; }
    // Bytes delivered so far, towards the target and back.
    std::uint64_t BytesTowardsTarget() const { return m_towards.load(); }
    std::uint64_t BytesBack() const { return m_back.load(); }

  private:
    void Run();

    Shape m_shape;
    int m_listener = -1;
    int m_wake = -1;  // an eventfd that stops the relay's thread
    int m_port = 0;
    int m_target = 0;
    std::atomic<std::uint64_t> m_towards{0}, m_back{0};
    std::thread m_thread;
};

}  // namespace pelio::bench
