#include "Wait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace pelio::test {

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(10);  // how often the condition is polled, not a synchronisation sleep
    }
    return true;
}

}  // namespace pelio::test
