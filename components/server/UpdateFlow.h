// When one link's screen updates are sent: the viewer's requests, and the link's speed as the updates
// show it.
//
// Requests. A viewer without continuous updates asks for each update, and most (LibVNCClient, the
// agent's) ask again as soon as one has arrived: the requests in flight are all that keep the link
// busy, and over a long round trip each one is worth an update per round trip. The library merges
// requests that wait at the same time into one update, which loses one of them for good: a link that
// had two in flight (24 updates a second over 80 ms) drops to one (12). So every request is answered
// by an update of its own: after an update, while requests are still unanswered, the area of the last
// one is asked for again, and the next change goes out as the next update.
//
// Speed. The time from the end of an update's writing to the next request is the round trip plus the
// time the update took on the link; from big updates, the link's rate. On a slow link an update waits
// (a while at most) until the ones in flight should have arrived and the socket has sent what it
// holds, so that the newest screen goes out instead of queueing behind older ones. The viewer's
// encodings and JPEG quality are its own to choose and are never changed: a lower quality on a slow
// link would leave text blurred for as long as it does not change.
//
// Threads: OnRequest on the link's input thread, BeforeUpdate and AfterUpdate on its output thread
// (the library's display hooks, under the client's send lock).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

struct _rfbClientRec;

namespace pelio::components {

class UpdateFlow {
  public:
    using Clock = std::chrono::steady_clock;

    // A request for the area x, y, w, h (incremental or not) has been read.
    void OnRequest(_rfbClientRec* cl, bool incremental, int x, int y, int w, int h);
    // An update may be written now: on a slow link, waits (a while at most) until the updates in
    // flight have arrived, so that the newest screen goes out instead of queueing behind them; then
    // counts what goes out.
    void BeforeUpdate(_rfbClientRec* cl);
    // The library is done with the update (written, or nothing was due).
    void AfterUpdate(_rfbClientRec* cl);

    // The link's rate in bytes per second as measured (0: not known yet).
    double Rate() const;

    // How long an update may wait behind others at most, and how much waiting behind the updates in
    // flight is let pass.
    static constexpr auto kMaxDefer = std::chrono::milliseconds(500);
    static constexpr double kQueueAllowedSeconds = 0.02;

  private:
    mutable std::mutex m_mutex;
    int m_unanswered = 0;                    // requests not answered by an update yet
    int m_x = 0, m_y = 0, m_w = 0, m_h = 0;  // the area of the last request
    // Updates written and not answered by a request yet (the viewer asks again once it has one):
    // when, how many bytes, and when it should have arrived by the link's rate.
    struct InFlight {
        Clock::time_point sentAt;
        long long bytes;
    };
    std::deque<InFlight> m_inFlight;
    std::condition_variable m_answered;
    double m_minResponse = 1e9;           // seconds: the shortest response seen, the round trip's estimate
    double m_rate = 0;                    // bytes per second
    Clock::time_point m_previousArrival;  // when the update answered last reached the viewer
    // Output thread only.
    int m_updatesBefore = 0;
    unsigned m_bytesBefore = 0;
    int m_domain = -1;  // the socket's address family, once known

    // Whether the socket holds bytes it has not sent (TCP) or the tunnel has not taken (a local pair).
    bool SocketBacklog(_rfbClientRec* cl);
    // Seconds until the updates in flight have arrived, by the rate (under the lock).
    double QueuedSeconds(Clock::time_point now) const;
};

}  // namespace pelio::components
