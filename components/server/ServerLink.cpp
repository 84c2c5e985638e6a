#include "server/ServerLink.h"

#include "secure/TlsTunnel.h"
#include "server/ServerLog.h"

#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include <cstddef>

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
    for (char* text : retiredClipboards) std::free(text);
}

bool Link::Apply(LinkEvent event, LinkState* before) {
    if (before) *before = m_state;
    const std::optional<LinkState> next = NextLinkState(m_state, event);
    if (!next) return false;
    qCDebug(lcServer, "link %d: %s -> %s", index, LinkStateName(m_state), LinkStateName(*next));
    m_state = *next;
    return true;
}

bool Link::InputAdmitted() {
    if (inputOpen) return true;
    std::uint64_t received = 0, taken = 0;
    // Without the counters nothing can be told apart: input passes as it always did.
    if (wire < 0 || !ReadCounters(received, taken) || taken > admittedBytes) inputOpen = true;
    if (!inputOpen) qCInfo(lcServer, "link %d: input sent before admission dropped", index);
    return inputOpen;
}

bool Link::ReadCounters(std::uint64_t& received, std::uint64_t& taken) const {
    if (wire < 0) return false;
    return tunnel ? tunnel->ReadCounters(wire, received, taken) : ReadSocketCounters(wire, received, taken);
}

bool TextBacklog::Add(std::size_t bytes) {
    // Only the input thread adds: what it reads here can only shrink before it adds.
    if (m_cut || m_texts.load() + 1 > m_maxTexts || m_bytes.load() + bytes > m_maxBytes) {
        m_cut = true;
        return false;
    }
    ++m_texts;
    m_bytes += bytes;
    return true;
}

bool TextBacklog::Take(std::size_t bytes) {
    --m_texts;
    m_bytes -= bytes;
    return !m_cut;
}

bool ReadSocketCounters(int fd, std::uint64_t& received, std::uint64_t& taken) {
    // Bytes received only grow; reading them twice around the unread count gives a consistent pair
    // when nothing arrived in between (the reader itself is the caller).
    for (int attempt = 0; attempt < 8; ++attempt) {
        tcp_info first{}, second{};
        socklen_t length = sizeof first;
        if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &first, &length) != 0 ||
            length < offsetof(tcp_info, tcpi_bytes_received) + sizeof first.tcpi_bytes_received)
            return false;
        int unread = 0;
        if (ioctl(fd, SIOCINQ, &unread) != 0 || unread < 0) return false;
        length = sizeof second;
        if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &second, &length) != 0) return false;
        if (first.tcpi_bytes_received != second.tcpi_bytes_received) continue;
        received = second.tcpi_bytes_received;
        taken = received >= std::uint64_t(unread) ? received - std::uint64_t(unread) : 0;
        return true;
    }
    return false;
}

}  // namespace pelio::components
