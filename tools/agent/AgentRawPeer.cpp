#include "AgentRawPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <utility>

#include <rfb/rfbproto.h>

namespace pelio::agent {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kHandshakeLimit = std::chrono::seconds(30);
// More than the server ever sends in one text-chat message or as its name: a broken stream.
constexpr std::uint32_t kMaxServerText = 1u << 20;

int U16(const std::string& b, std::size_t at) {
    return int(std::uint8_t(b[at])) << 8 | std::uint8_t(b[at + 1]);
}

std::uint32_t U32(const std::string& b, std::size_t at) {
    return std::uint32_t(U16(b, at)) << 16 | std::uint32_t(U16(b, at + 2));
}

void Put16(std::string& out, int value) {
    out += char(value >> 8);
    out += char(value);
}

void Put32(std::string& out, std::uint32_t value) {
    Put16(out, int(value >> 16));
    Put16(out, int(value & 0xffff));
}

bool Fail(const char* why) {
    std::fprintf(stderr, "pelio-agent: %s\n", why);
    return false;
}

// The client side of the link, spoken by hand on a non-blocking socket that it does not own.
class RawLink : public AgentLink {
  public:
    RawLink(int fd, ListenSession& session) : m_fd(fd), m_session(session) {}

    bool SendPointer(int x, int y, int mask) override {
        std::string m(1, char(rfbPointerEvent));
        m += char(mask);
        Put16(m, x);
        Put16(m, y);
        return Write(m);
    }
    bool SendKey(std::uint32_t keysym, bool down) override {
        std::string m{char(rfbKeyEvent), char(down), 0, 0};
        Put32(m, keysym);
        return Write(m);
    }
    bool SendChat(std::string_view piece) override { return Write(ChatMessageBytes(piece)); }
    QImage Screen() const override { return {}; }

    // The handshake with the early lines in its first write (see AgentRawPeer.h); false when it failed.
    bool Handshake(const std::vector<std::string>& earlyLines);
    // Waits up to ms for what the server sends and handles every whole message; false once the link
    // ended or the server broke the protocol.
    bool Receive(int ms) { return ReadSome(ms) && HandleMessages(); }

  private:
    // While the handshake holds them, messages are kept for its first write.
    bool Write(std::string_view bytes) {
        if (!m_holding) return Flush(bytes);
        m_held += bytes;
        return true;
    }
    bool Flush(std::string_view bytes);
    bool ReadSome(int ms);
    bool Need(std::size_t n);
    bool HandleMessages();

    const int m_fd;
    ListenSession& m_session;
    bool m_holding = true;
    bool m_ready = false;  // the handshake is over: what comes in are server messages
    std::string m_held;
    std::string m_in;  // received, not handled yet
    Clock::time_point m_deadline;
    int m_bytesPerPixel = 4;
    int m_rects = 0;           // rectangles of the current screen update still to come
    std::uint64_t m_skip = 0;  // bytes of screen contents or clipboard still to read past
};

// Writes everything, reading and handling what the server sends meanwhile, so that neither side
// stalls on a full socket.
bool RawLink::Flush(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0) {
            bytes.remove_prefix(std::size_t(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd p{m_fd, POLLIN | POLLOUT, 0};
        if (poll(&p, 1, 1000) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) &&
            !(ReadSome(0) && (!m_ready || HandleMessages())))
            return false;
    }
    return true;
}

// Appends what arrives within ms to m_in; false once the link closed or failed.
bool RawLink::ReadSome(int ms) {
    pollfd p{m_fd, POLLIN, 0};
    const int ready = poll(&p, 1, ms);
    if (ready < 0) return errno == EINTR;
    if (ready == 0) return true;
    char buffer[65536];
    const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
    if (n > 0) m_in.append(buffer, std::size_t(n));
    return n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
}

// Until m_in holds n bytes, within the handshake's time limit.
bool RawLink::Need(std::size_t n) {
    while (m_in.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now());
        if (left.count() <= 0 || !ReadSome(int(std::min<long long>(left.count(), 100)))) return false;
    }
    return true;
}

bool RawLink::Handshake(const std::vector<std::string>& earlyLines) {
    m_deadline = Clock::now() + kHandshakeLimit;
    if (!Need(12)) return Fail("no protocol version from the server");
    int major = 0, minor = 0;
    if (std::sscanf(m_in.substr(0, 12).c_str(), "RFB %3d.%3d\n", &major, &minor) != 2 || major != 3 ||
        minor < 8)
        return Fail("the server does not speak RFB 3.8");
    m_in.erase(0, 12);

    for (const std::string& line : earlyLines) Play(*this, m_session, line);
    m_holding = false;
    std::string first = "RFB 003.008\n";
    first += char(rfbNoAuth);
    first += char(1);  // ClientInit: shared
    first += std::exchange(m_held, {});
    if (!Flush(first)) return Fail("the link closed during the handshake");

    if (!Need(1)) return Fail("no security types from the server");
    const std::size_t types = std::uint8_t(m_in[0]);
    if (types == 0) return Fail("the server refused the link");
    if (!Need(1 + types)) return Fail("no security types from the server");
    if (m_in.substr(1, types).find(char(rfbNoAuth)) == std::string::npos)
        return Fail("the server does not offer security type None");
    m_in.erase(0, 1 + types);
    if (!Need(4) || U32(m_in, 0) != 0) return Fail("the server refused the link");
    m_in.erase(0, 4);

    if (!Need(sz_rfbServerInitMsg)) return Fail("no ServerInit from the server");
    const int width = U16(m_in, 0), height = U16(m_in, 2), bitsPerPixel = std::uint8_t(m_in[4]);
    const std::uint32_t nameLength = U32(m_in, 20);
    if ((bitsPerPixel != 8 && bitsPerPixel != 16 && bitsPerPixel != 32) || nameLength > kMaxServerText)
        return Fail("the server's ServerInit is broken");
    if (!Need(sz_rfbServerInitMsg + nameLength)) return Fail("no ServerInit from the server");
    m_in.erase(0, sz_rfbServerInitMsg + nameLength);
    m_bytesPerPixel = bitsPerPixel / 8;
    OnScreenSize(m_session, width, height);

    // Raw encoding only, and one full update: the server lets texts flow once the screen was asked for.
    std::string requests{char(rfbSetEncodings), 0};
    Put16(requests, 1);
    Put32(requests, rfbEncodingRaw);
    requests += char(rfbFramebufferUpdateRequest);
    requests += char(0);  // not incremental
    Put32(requests, 0);   // x, y
    Put16(requests, width);
    Put16(requests, height);
    m_ready = true;
    return Flush(requests) && HandleMessages();
}

// Handles every whole server message in m_in, reading past screen contents as they come.
bool RawLink::HandleMessages() {
    while (true) {
        if (m_skip > 0) {
            const std::size_t n = std::size_t(std::min<std::uint64_t>(m_skip, m_in.size()));
            m_in.erase(0, n);
            m_skip -= n;
            if (m_skip > 0) return true;
        }
        if (m_rects > 0) {
            if (m_in.size() < sz_rfbFramebufferUpdateRectHeader) return true;
            if (U32(m_in, 8) != rfbEncodingRaw) return Fail("the server sent an encoding not asked for");
            m_skip =
                std::uint64_t(U16(m_in, 4)) * std::uint64_t(U16(m_in, 6)) * std::uint64_t(m_bytesPerPixel);
            m_in.erase(0, sz_rfbFramebufferUpdateRectHeader);
            --m_rects;
            continue;
        }
        if (m_in.empty()) return true;
        switch (std::uint8_t(m_in[0])) {
            case rfbFramebufferUpdate:
                if (m_in.size() < 4) return true;
                m_rects = U16(m_in, 2);
                m_in.erase(0, 4);
                break;
            case rfbSetColourMapEntries: {
                if (m_in.size() < 6) return true;
                const std::size_t size = 6 + 6 * std::size_t(U16(m_in, 4));
                if (m_in.size() < size) return true;
                m_in.erase(0, size);
                break;
            }
            case rfbBell:
                m_in.erase(0, 1);
                break;
            case rfbServerCutText:
                if (m_in.size() < 8) return true;
                m_skip = U32(m_in, 4);
                m_in.erase(0, 8);
                break;
            case rfbTextChat: {
                if (m_in.size() < 8) return true;
                const std::uint32_t length = U32(m_in, 4);
                if (length >= rfbTextChatFinished) {  // open/close controls, no text
                    m_in.erase(0, 8);
                    break;
                }
                if (length > kMaxServerText) return Fail("the server sent an oversized text-chat message");
                if (m_in.size() < 8 + std::size_t(length)) return true;
                const std::string text = m_in.substr(8, length);
                m_in.erase(0, 8 + std::size_t(length));
                if (!text.empty()) OnChatMessage(m_session, text);
                break;
            }
            default:
                return Fail("the server sent a message of an unknown type");
        }
    }
}

}  // namespace

int RunRawPeer(int fd, ListenSession& session, const std::vector<std::string>& earlyLines) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    RawLink link(fd, session);
    const bool handshaken = link.Handshake(earlyLines);
    bool alive = handshaken;
    while (alive && !session.quit) {
        alive = link.Receive(20);
        std::string line;
        while (alive && !session.quit && session.commands->Pop(line)) alive = Play(link, session, line);
    }
    close(fd);
    PrintLine("disconnected");
    return handshaken ? 0 : 1;
}

}  // namespace pelio::agent
