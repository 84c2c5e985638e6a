#include "Wait.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace pelio::test {

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) return condition();
        // Runs the events that come within the next 10 ms, then looks at the condition again (it may
        // depend on other threads or processes, which post no event).
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

}  // namespace pelio::test
