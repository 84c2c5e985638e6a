#include "server/ServerLink.h"

#include "server/ServerLog.h"

#include <unistd.h>

namespace pelio::components {

std::optional<LinkState> NextLinkState(LinkState state, LinkEvent event) {
    using S = LinkState;
    using E = LinkEvent;
    if (event == E::End) return state == S::Closed ? std::nullopt : std::optional(S::Closed);
    switch (state) {
        case S::Connecting:
            if (event == E::Up) return S::Greeting;
            if (event == E::GiveUp) return S::Abandoned;
            break;
        case S::Greeting:
            if (event == E::Greeted) return S::Held;
            if (event == E::GreetedBusy) return S::Busy;
            if (event == E::GiveUp) return S::Abandoned;
            break;
        case S::Held:
            if (event == E::Allow) return S::Admitted;
            break;
        case S::Admitted:
            if (event == E::Start) return S::Running;
            break;
        case S::Running:
            if (event == E::FirstRequest) return S::Ready;
            break;
        case S::Busy:
        case S::Ready:
        case S::Abandoned:
        case S::Closed:
            break;
    }
    return std::nullopt;
}

bool IsAnnounced(LinkState state) {
    switch (state) {
        case LinkState::Held:
        case LinkState::Busy:
        case LinkState::Admitted:
        case LinkState::Running:
        case LinkState::Ready:
            return true;
        default:
            return false;
    }
}

const char* LinkStateName(LinkState state) {
    static const char* const names[] = {"connecting", "greeting", "held",      "busy",  "admitted",
                                        "running",    "ready",    "abandoned", "closed"};
    return names[static_cast<int>(state)];
}

Link::~Link() {
    if (wire >= 0) ::close(wire);
}

bool Link::Apply(LinkEvent event, LinkState* before) {
    if (before) *before = m_state;
    const std::optional<LinkState> next = NextLinkState(m_state, event);
    if (!next) return false;
    qCDebug(lcServer, "link %d: %s -> %s", index, LinkStateName(m_state), LinkStateName(*next));
    m_state = *next;
    return true;
}

}  // namespace pelio::components
