#include "server/UpdateFlow.h"

#include <rfb/rfb.h>
extern "C" {  // the header has no C++ guard of its own
#include <rfb/rfbregion.h>
}

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>

namespace pelio::components {

namespace {

// Updates below this size tell the round trip, those above it the rate.
constexpr long long kSmallUpdateBytes = 8192;
// Requests counted at most: a viewer that asks much more often than it is answered gains nothing.
constexpr int kMaxUnanswered = 4;

}  // namespace

void UpdateFlow::OnRequest(rfbClientPtr, bool, int x, int y, int w, int h) {
    const auto now = Clock::now();
    std::lock_guard lock(m_mutex);
    m_unanswered = std::min(m_unanswered + 1, kMaxUnanswered);
    m_x = x, m_y = y, m_w = w, m_h = h;
    if (m_inFlight.empty()) return;
    const InFlight update = m_inFlight.front();
    m_inFlight.pop_front();
    m_answered.notify_all();
    // The update was on the link from when it was written, or from when the one before it had
    // arrived, whichever came later, until the viewer had it: a round trip before this request. The
    // round trip is the shortest response to a small update (none yet: taken as nought, which makes
    // the rate lower than it is, never higher).
    const double response = std::chrono::duration<double>(now - update.sentAt).count();
    if (update.bytes < kSmallUpdateBytes) m_minResponse = std::min(m_minResponse, response);
    const double roundTrip = m_minResponse < 1e9 ? m_minResponse : 0.0;
    const Clock::time_point arrived =
        now - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(roundTrip));
    const double onLink =
        std::chrono::duration<double>(arrived - std::max(update.sentAt, m_previousArrival)).count();
    m_previousArrival = arrived;
    if (update.bytes < kSmallUpdateBytes) return;  // small updates say little about the rate
    const double sample = double(update.bytes) / std::max(onLink, 0.001);
    m_rate = m_rate <= 0 ? sample : 0.6 * m_rate + 0.4 * sample;
}

double UpdateFlow::QueuedSeconds(Clock::time_point now) const {
    if (m_inFlight.empty() || m_rate <= 0) return 0;
    // Each update arrives once the one before it has and its bytes have passed, after it was written.
    Clock::time_point done = m_previousArrival;
    for (const InFlight& update : m_inFlight)
        done =
            std::max(done, update.sentAt) + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(double(update.bytes) / m_rate));
    return std::chrono::duration<double>(done - now).count();
}

bool UpdateFlow::SocketBacklog(rfbClientPtr cl) {
    const int fd = cl->sock;
    if (fd < 0) return false;
    if (m_domain < 0) {
        int domain = 0;
        socklen_t length = sizeof domain;
        m_domain = getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 ? domain : 0;
    }
    int queued = 0;
    if (m_domain == AF_INET || m_domain == AF_INET6) {
        if (ioctl(fd, SIOCOUTQNSD, &queued) != 0) return false;  // not sent yet: the window is full
    } else if (m_domain == AF_UNIX) {
        if (ioctl(fd, SIOCOUTQ, &queued) != 0) return false;  // not taken by the tunnel yet
    }
    return queued > 0;
}

void UpdateFlow::BeforeUpdate(rfbClientPtr cl) {
    {
        // Defers while what is in flight would hold this update up: the screen is taken after the wait.
        const auto until = Clock::now() + kMaxDefer;
        std::unique_lock lock(m_mutex);
        while (cl->sock >= 0 && cl->state != rfbClientRec::RFB_SHUTDOWN) {
            const auto now = Clock::now();
            if (now >= until) break;
            const bool queued = QueuedSeconds(now) > kQueueAllowedSeconds;
            lock.unlock();
            const bool backlog = !queued && SocketBacklog(cl);
            lock.lock();
            if (!queued && !backlog) break;
            m_answered.wait_for(lock, std::chrono::milliseconds(backlog ? 5 : 20));
        }
    }
    m_updatesBefore = rfbStatGetMessageCountSent(cl, rfbFramebufferUpdate);
    m_bytesBefore = unsigned(rfbStatGetSentBytes(cl));
}

void UpdateFlow::AfterUpdate(rfbClientPtr cl) {
    const int updates = rfbStatGetMessageCountSent(cl, rfbFramebufferUpdate);
    if (updates == m_updatesBefore) return;  // nothing was sent
    const unsigned bytes = unsigned(rfbStatGetSentBytes(cl)) - m_bytesBefore;
    bool again = false;
    int x = 0, y = 0, w = 0, h = 0;
    {
        std::lock_guard lock(m_mutex);
        m_unanswered = std::max(0, m_unanswered - 1);
        again = m_unanswered > 0 && m_w > 0 && m_h > 0;
        x = m_x, y = m_y, w = m_w, h = m_h;
        if (m_inFlight.size() < 16) m_inFlight.push_back({Clock::now(), (long long)bytes});
    }
    if (!again) return;
    // The library emptied the requested area when it took this update; a request still unanswered
    // asks for the next one.
    sraRegion* area = sraRgnCreateRect(x, y, x + w, y + h);
    pthread_mutex_lock(&cl->updateMutex);
    sraRgnOr(cl->requestedRegion, area);
    pthread_cond_signal(&cl->updateCond);
    pthread_mutex_unlock(&cl->updateMutex);
    sraRgnDestroy(area);
}

double UpdateFlow::Rate() const {
    std::lock_guard lock(m_mutex);
    return m_rate;
}

}  // namespace pelio::components
