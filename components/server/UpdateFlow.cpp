#include "server/UpdateFlow.h"

#include <rfb/rfb.h>
extern "C" {  // the header has no C++ guard of its own
#include <rfb/rfbregion.h>
}

#include <algorithm>

namespace pelio::components {

namespace {

// Requests counted at most: a viewer that asks much more often than it is answered gains nothing.
constexpr int kMaxUnanswered = 4;

}  // namespace

void UpdateFlow::OnRequest(rfbClientPtr, bool, int x, int y, int w, int h) {
    std::lock_guard lock(m_mutex);
    m_unanswered = std::min(m_unanswered + 1, kMaxUnanswered);
    m_x = x, m_y = y, m_w = w, m_h = h;
}

void UpdateFlow::AfterUpdate(rfbClientPtr cl) {
    const int updates = rfbStatGetMessageCountSent(cl, rfbFramebufferUpdate);
    if (updates == m_updatesSent) return;  // nothing was sent
    m_updatesSent = updates;
    bool again = false;
    int x = 0, y = 0, w = 0, h = 0;
    {
        std::lock_guard lock(m_mutex);
        m_unanswered = std::max(0, m_unanswered - 1);
        again = m_unanswered > 0 && m_w > 0 && m_h > 0;
        x = m_x, y = m_y, w = m_w, h = m_h;
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

}  // namespace pelio::components
