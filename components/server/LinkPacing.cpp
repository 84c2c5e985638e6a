#include "server/LinkPacing.h"

#include <algorithm>

namespace pelio::components {

namespace {

using namespace std::chrono_literals;
using Seconds = std::chrono::duration<double>;

// Updates smaller than this cross in less time than the viewer and the server take to handle them:
// their acknowledgements say nothing of the link's rate.
constexpr std::int64_t kRateSampleBytes = 4096;
constexpr std::size_t kSamples = 16;  // the most recent samples kept of each kind
constexpr std::size_t kMostOnTheWay = 16;
// Updates on the way may take up to this much longer than a round trip (at least kLeastWait) before
// requests are held back: within it a second update on the way still adds frames, and the time
// figures are estimates.
constexpr double kMargin = 1.5;
constexpr auto kLeastWait = 50ms;
// How often the figures are refreshed when they are not by themselves: the round trip by one update
// sent alone (cheap: one update waits for a round trip), the rate by one sent behind another (that one
// reaches the viewer an update late, so seldom).
constexpr auto kTripRefresh = 10s;
constexpr auto kRateRefresh = 30s;
// A held request is answered after twice the time the updates on the way should take to be
// acknowledged, and at least this long, without a request or an update.
constexpr auto kHoldAtLeast = 1s;

template <typename T>
void Keep(std::deque<T>& samples, T sample) {
    samples.push_back(sample);
    if (samples.size() > kSamples) samples.pop_front();
}

}  // namespace

bool LinkPacing::Request(bool incremental, Clock::time_point now) {
    m_lastNews = now;
    if (!m_onTheWay.empty()) {
        const Update acked = m_onTheWay.front();
        m_onTheWay.pop_front();
        m_onTheWayBytes -= acked.bytes;
        if (acked.ahead > 0 && m_lastAck && acked.bytes >= kRateSampleBytes) {
            // The link was busy with it from the previous acknowledgement on.
            const double busy = Seconds(now - std::max(*m_lastAck, acked.sent)).count();
            if (busy >= 0.001) Keep(m_rates, double(acked.bytes) / busy);
        }
        if (acked.ahead == 0) Keep(m_trips, Trip{now - acked.sent, acked.bytes});
        m_lastAck = now;
    }
    return !incremental || m_onTheWay.empty() || !Crowded(now);
}

void LinkPacing::Sent(std::int64_t bytes, Clock::time_point now) {
    m_lastNews = now;
    const std::int64_t ahead = m_onTheWayBytes;
    if (ahead == 0)
        m_lastAloneSent = now;
    else
        m_lastBehindSent = now;
    m_onTheWay.push_back(Update{now, bytes, ahead});
    m_onTheWayBytes += bytes;
    if (m_onTheWay.size() > kMostOnTheWay) {  // a viewer that asks less than once an update
        m_onTheWayBytes -= m_onTheWay.front().bytes;
        m_onTheWay.pop_front();
    }
}

bool LinkPacing::MayAnswerHeld(Clock::time_point now) const {
    if (m_onTheWay.empty()) return true;
    // An update of a megabyte takes four seconds over 2 Mbit/s: its acknowledgement is not overdue
    // after one.
    auto overdue = std::chrono::duration_cast<Clock::duration>(kHoldAtLeast);
    const std::optional<double> rate = Rate();
    const std::optional<Clock::duration> trip = RoundTrip();
    if (rate && trip)
        overdue = std::max(overdue, 2 * (*trip + std::chrono::duration_cast<Clock::duration>(
                                                     Seconds(double(m_onTheWayBytes) / *rate))));
    return now - m_lastNews >= overdue || !Crowded(now);
}

std::optional<double> LinkPacing::Rate() const {
    if (m_rates.empty()) return std::nullopt;
    return *std::max_element(m_rates.begin(), m_rates.end());
}

std::optional<LinkPacing::Clock::duration> LinkPacing::RoundTrip() const {
    const std::optional<double> rate = Rate();
    if (!rate || m_trips.empty()) return std::nullopt;
    auto least = Clock::duration::max();
    for (const Trip& t : m_trips) {
        const auto crossing = std::chrono::duration_cast<Clock::duration>(Seconds(double(t.bytes) / *rate));
        least = std::min(least, std::max(Clock::duration::zero(), t.took - crossing));
    }
    return least;
}

bool LinkPacing::Crowded(Clock::time_point now) const {
    const std::optional<double> rate = Rate();
    if (!rate) return false;
    // Every update goes behind another: hold one back so that the next goes alone and shows the round
    // trip; every update goes alone: let one go behind so that the rate is measured afresh.
    if (now - m_lastAloneSent >= kTripRefresh) return true;
    if (now - m_lastBehindSent >= kRateRefresh) return false;
    const std::optional<Clock::duration> trip = RoundTrip();
    if (!trip) return false;
    const double wait = double(m_onTheWayBytes) / *rate;
    return wait > kMargin * Seconds(std::max<Clock::duration>(*trip, kLeastWait)).count();
}

}  // namespace pelio::components
