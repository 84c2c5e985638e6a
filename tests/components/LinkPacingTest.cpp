#include "server/LinkPacing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <queue>
#include <vector>

using pelio::components::LinkPacing;
using namespace std::chrono_literals;

namespace {

using Clock = LinkPacing::Clock;

// A server answering a viewer over a link of a given rate and round trip, with every update of the
// same size. The viewer asks once, is answered with the screen's size and then its pixels (two
// updates, as the library does), and asks again after each update: two requests out from then on.
// Updates queue on the link one behind the other.
struct LinkRun {
    double rate = 250000;  // bytes a second
    Clock::duration roundTrip = 80ms;
    std::int64_t bytes = 135000;

    int updates = 0;           // sent from `from` on
    int behind = 0;            // of those, sent while another was still on the way
    Clock::duration queued{};  // the longest an update waited behind others on the link

    void Run(Clock::duration from, Clock::duration until) {
        LinkPacing pacing;
        const Clock::time_point start{};
        const auto half = roundTrip / 2;
        const auto crossing =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(double(bytes) / rate));
        Clock::time_point linkFree = start;
        std::priority_queue<Clock::time_point, std::vector<Clock::time_point>, std::greater<>> requests;
        std::vector<Clock::time_point> onTheWay;  // when each update's request comes back
        int held = 0;
        auto send = [&](Clock::time_point now) {
            pacing.Sent(bytes, now);
            const auto reaches = std::max(now + half, linkFree);
            linkFree = reaches + crossing;
            if (now - start >= from) {
                ++updates;
                behind += std::any_of(onTheWay.begin(), onTheWay.end(), [&](auto t) { return t > now; });
                queued = std::max(queued, reaches - (now + half));
            }
            onTheWay.push_back(linkFree + half);
            requests.push(linkFree + half);
        };
        const Clock::time_point first = start + half;
        pacing.Request(false, first);
        pacing.Sent(0, first);
        requests.push(first + roundTrip);
        send(first);
        // The server also looks at a held request every 100 ms.
        Clock::time_point tick = first + 100ms;
        while (!requests.empty() && requests.top() - start < until) {
            if (tick < requests.top()) {
                if (held > 0 && pacing.MayAnswerHeld(tick)) --held, send(tick);
                tick += 100ms;
                continue;
            }
            const Clock::time_point now = requests.top();
            requests.pop();
            std::erase_if(onTheWay, [&](auto t) { return t <= now; });
            if (!pacing.Request(true, now)) {
                ++held;
                continue;
            }
            send(now);
            if (held > 0 && pacing.MayAnswerHeld(now)) --held, send(now);
        }
    }
};

}  // namespace

TEST(LinkPacing, UpdatesLargerThanTheLinkCarriesInARoundTripGoOneAtATime) {
    // 2 Mbit/s, 80 ms: a 135 KB picture crosses in 540 ms, a screen of text in 1.3 s (longer than the
    // least time a held request waits).
    for (std::int64_t bytes : {135000, 320000}) {
        LinkRun run;
        run.bytes = bytes;
        run.Run(3s, 15s);
        EXPECT_GE(run.updates, 8) << bytes;
        EXPECT_EQ(run.behind, 0) << bytes;
        EXPECT_LT(run.queued, 5ms) << bytes;
    }
}

TEST(LinkPacing, SmallUpdatesOverALongRoundTripKeepTwoOnTheWay) {
    LinkRun run;
    run.bytes = 5000;  // 20 ms on the link: one at a time would leave it idle most of each round trip
    run.Run(3s, 9s);
    // One at a time would be one per 100 ms, 60 in six seconds.
    EXPECT_GE(run.updates, 100);
    EXPECT_LT(run.queued, 25ms);
}

TEST(LinkPacing, ARequestIsHeldOnlyWhileTheLinkIsKnownToBeBusy) {
    LinkPacing pacing;
    const Clock::time_point t0{};
    // Nothing known yet: a second request is answered (two on the way).
    EXPECT_TRUE(pacing.Request(false, t0));
    pacing.Sent(0, t0 + 1ms);  // the screen's size, then its pixels
    pacing.Sent(1000, t0 + 1ms);
    EXPECT_TRUE(pacing.Request(true, t0 + 81ms));
    pacing.Sent(100000, t0 + 82ms);
    EXPECT_TRUE(pacing.Request(true, t0 + 85ms));
    pacing.Sent(100000, t0 + 86ms);
    EXPECT_FALSE(pacing.Rate());
    // The first picture is acknowledged with the second one still 400 ms of link away: held.
    EXPECT_FALSE(pacing.Request(true, t0 + 562ms));
    // The second comes back 400 ms later: 250 KB/s, and a round trip of about 80 ms.
    EXPECT_TRUE(pacing.Request(true, t0 + 962ms));
    ASSERT_TRUE(pacing.Rate());
    EXPECT_NEAR(*pacing.Rate(), 250000, 1000);
    ASSERT_TRUE(pacing.RoundTrip());
    EXPECT_LT(*pacing.RoundTrip(), 90ms);
    pacing.Sent(100000, t0 + 963ms);
    EXPECT_FALSE(pacing.MayAnswerHeld(t0 + 1000ms));
    // A request that asks for the whole screen afresh is never held.
    EXPECT_TRUE(pacing.Request(false, t0 + 1000ms));
    pacing.Sent(100000, t0 + 1001ms);
    // A viewer that waits for all its updates before it asks again gets the held one after a second.
    EXPECT_FALSE(pacing.MayAnswerHeld(t0 + 1500ms));
    EXPECT_TRUE(pacing.MayAnswerHeld(t0 + 2001ms));
}
