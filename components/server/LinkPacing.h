// Whether a viewer's further update request is answered at once or held back, from what the link
// has shown of itself.
//
// A viewer that asks again as soon as an update has arrived, with two requests out, keeps two updates
// on the way. While an update crosses the link faster than a round trip, that doubles the frames a
// long link carries and costs nothing. When updates are larger than the link carries in a round trip
// (a changing picture over a slow line), the second one only waits behind the first, and every change
// reaches the viewer an update later: over 2 Mbit/s, half a second or more. So a request that arrives
// while the updates on the way need longer than a round trip to cross is held back, and answered
// with the next one: one update on the way, each with the screen as it is when the link is free.
//
// Each request is taken to acknowledge the oldest update on the way (each viewer asks once per update
// it has), which gives the time each update took to be acknowledged. From those:
// - the link's rate, from updates acknowledged back to back (the link was busy between the two);
// - the round trip, from updates sent with nothing else on the way: their time to be acknowledged,
//   less their crossing time at that rate. While every update is sent behind another, one request is
//   held back now and then so that one goes alone and the round trip stays known.
// Until both are known nothing is held back. A held request is answered at the latest when the
// updates on the way are long overdue (twice their expected time, at least a second) without news
// from the viewer, for a viewer that waits for all its updates before it asks again.
//
// Not thread-safe: the caller serialises the calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

namespace pelio::components {

class LinkPacing {
  public:
    using Clock = std::chrono::steady_clock;

    // A request arrived at `now` (it acknowledges the oldest update on the way). Returns whether it may
    // be answered now; a request that asks for the whole area afresh (not incremental) always may.
    bool Request(bool incremental, Clock::time_point now);
    // An update of `bytes` was written at `now`.
    void Sent(std::int64_t bytes, Clock::time_point now);
    // Whether a request held back (or left over from requests the library merged) may be answered now.
    bool MayAnswerHeld(Clock::time_point now) const;

    // What the link has shown so far: bytes a second and the round trip (none until measured).
    std::optional<double> Rate() const;
    std::optional<Clock::duration> RoundTrip() const;
    std::int64_t BytesOnTheWay() const { return m_onTheWayBytes; }

  private:
    struct Update {
        Clock::time_point sent;
        std::int64_t bytes = 0;
        std::int64_t ahead = 0;  // bytes on the way before it when it was sent
    };
    struct Trip {
        Clock::duration took;  // from sent to acknowledged
        std::int64_t bytes = 0;
    };
    bool Crowded(Clock::time_point now) const;

    std::deque<Update> m_onTheWay;
    std::int64_t m_onTheWayBytes = 0;
    std::optional<Clock::time_point> m_lastAck;
    Clock::time_point m_lastNews{};        // the last request or update
    Clock::time_point m_lastAloneSent{};   // the last update sent with nothing ahead of it
    Clock::time_point m_lastBehindSent{};  // the last update sent behind another
    std::deque<double> m_rates;            // recent rate samples, bytes a second
    std::deque<Trip> m_trips;              // updates that went alone
};

}  // namespace pelio::components
