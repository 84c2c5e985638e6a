#include "platform/Clock.h"

#include <chrono>

namespace pelio::platform {

qint64 SteadyClock::NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const Clock& DefaultClock() {
    static const SteadyClock clock;
    return clock;
}

}  // namespace pelio::platform
