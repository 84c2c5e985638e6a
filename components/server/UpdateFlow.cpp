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

bool UpdateFlow::OnRequest(rfbClientPtr, bool incremental, int x, int y, int w, int h) {
    std::lock_guard lock(m_mutex);
    m_unanswered = std::min(m_unanswered + 1, kMaxUnanswered);
    m_x = x, m_y = y, m_w = w, m_h = h;
    const bool answer = m_pacing.Request(incremental, LinkPacing::Clock::now());
    m_holding = m_holding || !answer;
    return answer;
}

bool UpdateFlow::AfterUpdate(rfbClientPtr cl) {
    // A change of size goes out as an update of its own, ahead of the one with the pixels, and the
    // library counts it only as a rectangle; the viewer asks again after each.
    const int updates = rfbStatGetMessageCountSent(cl, rfbFramebufferUpdate);
    const int sizes = rfbStatGetEncodingCountSent(cl, rfbEncodingNewFBSize) +
                      rfbStatGetEncodingCountSent(cl, rfbEncodingExtDesktopSize);
    const int messages = updates - m_updatesSent + sizes - m_sizesSent;
    if (messages <= 0) return false;  // nothing was sent
    const bool pixels = updates != m_updatesSent;
    m_updatesSent = updates;
    m_sizesSent = sizes;
    const std::int64_t bytes = rfbStatGetSentBytes(cl);
    const std::int64_t sent = std::max<std::int64_t>(0, bytes - m_bytesSent);
    m_bytesSent = bytes;
    bool again = false;
    int x = 0, y = 0, w = 0, h = 0;
    {
        std::lock_guard lock(m_mutex);
        const auto now = LinkPacing::Clock::now();
        for (int i = 1; i <= messages; ++i) m_pacing.Sent(i == messages ? sent : 0, now);
        if (!pixels) return false;  // the update with the pixels follows for the same request
        m_unanswered = std::max(0, m_unanswered - 1);
        const bool unanswered = m_unanswered > 0 && m_w > 0 && m_h > 0;
        again = unanswered && m_pacing.MayAnswerHeld(now);
        m_holding = unanswered && !again;
        x = m_x, y = m_y, w = m_w, h = m_h;
    }
    // The library emptied the requested area when it took this update; a request still unanswered
    // asks for the next one.
    if (again) AskAgain(cl, x, y, w, h);
    return again;
}

bool UpdateFlow::Tick(rfbClientPtr cl) {
    int x = 0, y = 0, w = 0, h = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!m_holding || !m_pacing.MayAnswerHeld(LinkPacing::Clock::now())) return false;
        m_holding = false;
        x = m_x, y = m_y, w = m_w, h = m_h;
    }
    // The request may still wait with the library (held on arrival) or have been merged into an update
    // it answered (left over): asking again does for both.
    if (w > 0 && h > 0) AskAgain(cl, x, y, w, h);
    return true;
}

bool UpdateFlow::Holding() {
    std::lock_guard lock(m_mutex);
    return m_holding;
}

void UpdateFlow::AskAgain(rfbClientPtr cl, int x, int y, int w, int h) {
    sraRegion* area = sraRgnCreateRect(x, y, x + w, y + h);
    pthread_mutex_lock(&cl->updateMutex);
    sraRgnOr(cl->requestedRegion, area);
    pthread_cond_signal(&cl->updateCond);
    pthread_mutex_unlock(&cl->updateMutex);
    sraRgnDestroy(area);
}

}  // namespace pelio::components
