#include "AgentSession.h"

#include "AgentFiles.h"
#include "AgentLines.h"
#include "AgentPlay.h"
#include "AgentRawPeer.h"
#include "AgentScreen.h"
#include "AgentSockets.h"
#include "secure/LinkLiveness.h"
#include "secure/TlsTunnel.h"

#include <QImage>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include <rfb/rfbclient.h>

namespace pelio::agent {

namespace {

void Silent(const char*, ...) {}

// The link of the LibVNCClient viewer; it owns nothing.
class ViewerLink : public AgentLink {
  public:
    explicit ViewerLink(rfbClient* client) : m_client(client) {}
    bool SendPointer(int x, int y, int mask) override { return SendPointerEvent(m_client, x, y, mask); }
    bool SendKey(std::uint32_t keysym, bool down) override {
        return SendKeyEvent(m_client, keysym, down ? TRUE : FALSE);
    }
    bool SendChat(std::string_view piece) override {
        std::string message = ChatMessageBytes(piece);
        return WriteToRFBServer(m_client, message.data(), unsigned(message.size()));
    }
    QImage Screen() const override {
        if (!m_client->frameBuffer || m_client->width <= 0 || m_client->height <= 0) return {};
        return QImage(m_client->frameBuffer, m_client->width, m_client->height, m_client->width * 4,
                      QImage::Format_RGBX8888);
    }

  private:
    rfbClient* m_client;
};

ListenSession* SessionOf(rfbClient* client) {
    return static_cast<ListenSession*>(rfbClientGetClientData(client, nullptr));
}

void OnText(rfbClient* client, int value, char* text) {
    if (!text || value <= 0) return;  // open/close controls
    OnChatMessage(*SessionOf(client), std::string_view(text, std::size_t(value)));
}

void OnUpdate(rfbClient* client, int, int, int, int) {
    OnScreenSize(*SessionOf(client), client->width, client->height);
}

int ListenSocket(const AgentOptions& options, int& port) {
    return ListenTcp(options.bindAddress, options.port, 1, &port);
}

// Tells the customer's component that this agent is busy, then waits until the link closes.
int RunBusy(int fd, CommandQueue& commands) {
    char version[12];
    std::size_t got = 0;
    while (got < sizeof version) {
        const ssize_t n = read(fd, version + got, sizeof version - got);
        if (n <= 0) break;
        got += std::size_t(n);
    }
    static const char busy[] = "RFB 000.000\n";
    if (write(fd, busy, 12) == 12) PrintLine("busy");
    while (true) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buffer[256];
            if (read(fd, buffer, sizeof buffer) <= 0) break;
        }
        std::string line;
        bool quit = false;
        while (commands.Pop(line))
            if (line == "\\quit") quit = true;
        if (quit) break;
    }
    close(fd);
    PrintLine("disconnected");
    return 0;
}

// Reads and drops what comes on fd until the peer has closed it, at most ms milliseconds.
void DrainUntilClosed(int fd, int ms) {
    const qint64 deadline = AgentNowMs() + ms;
    char sink[16384];
    while (AgentNowMs() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) < 0 && errno != EINTR) return;
        if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = recv(fd, sink, sizeof sink, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;
    }
}

// How one link ended: the exit code, and whether the link was lost (so that the customer may dial
// again) rather than closed by either side.
struct LinkEnd {
    int code = 0;
    bool lost = false;
};

// The session on the accepted link: `fd` is the network socket, or the plain one of the tunnel (then
// `tunnel` tells whether the network connection was lost). The session closes it.
LinkEnd RunSession(int fd, const AgentOptions& options, CommandQueue& commands, ListenSession& session,
                   const components::secure::TlsTunnel* tunnel) {
    if (options.busy) return {RunBusy(fd, commands), false};
    if (!options.early.empty()) return {RunRawPeer(fd, session, options.early), false};

    rfbClientLog = Silent;
    rfbClientErr = Silent;
    rfbClient* client = rfbGetClient(8, 3, 4);
    rfbClientSetClientData(client, nullptr, &session);
    client->sock = fd;
    client->listenSpecified = TRUE;
    client->canHandleNewFBSize = TRUE;
    client->appData.useRemoteCursor = TRUE;  // the saved screen holds no cursor
    client->HandleTextChat = OnText;
    client->GotFrameBufferUpdate = OnUpdate;
    if (!rfbInitClient(client, nullptr, nullptr)) {  // frees the client on failure
        PrintLine("disconnected");
        return {1, false};
    }
    ViewerLink link(client);
    bool alive = true;
    while (alive && !session.quit) {
        // Messages already read into the library's buffer do not wake WaitForMessage: handle them first.
        const int n = client->buffered > 0 ? 1 : WaitForMessage(client, 20000);
        if (n < 0 || (n > 0 && !HandleRFBServerMessage(client))) alive = false;
        std::string line;
        while (alive && !session.quit && commands.Pop(line)) alive = Play(link, session, line);
    }
    // Read before the socket is closed: a lost connection, not one the customer's program closed.
    const bool lost = !session.quit && (tunnel ? tunnel->Lost()
                                               : components::secure::ReadTcpEnd(client->sock) ==
                                                     components::secure::TcpEnd::Lost);
    // The agent's own end goes out as an end of the stream, and what the customer's program still
    // sends is taken until it closes its side too: a close with data unread would send a reset right
    // behind the end, which the customer's program may take for a lost link.
    if (session.quit) {
        shutdown(client->sock, SHUT_WR);
        DrainUntilClosed(client->sock, 3000);
    }
    PrintLine("disconnected");
    std::free(client->frameBuffer);
    client->frameBuffer = nullptr;
    rfbClientCleanup(client);
    return {0, lost};
}

// Waits for the next connection on `listener` until `deadlineMs` (AgentNowMs; -1: for ever).
int AcceptUntil(int listener, qint64 deadlineMs, sockaddr_in& peer) {
    while (deadlineMs < 0 || AgentNowMs() < deadlineMs) {
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        socklen_t len = sizeof peer;
        const int fd = accept(listener, reinterpret_cast<sockaddr*>(&peer), &len);
        if (fd >= 0) return fd;
    }
    return -1;
}

// One link from its acceptance to its end.
LinkEnd RunLink(int fd, const sockaddr_in& peer, const AgentOptions& options, CommandQueue& commands,
                ListenSession& session) {
    char host[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, host, sizeof host);
    PrintLine(std::string("connected ") + host);
    // A text or a chat line cut off with the last link does not continue on this one.
    session.assembler = framing::TextAssembler();
    session.chatOpen = false;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // A customer who vanishes is noticed within the bound the customer's side keeps too.
    components::secure::WatchLiveness(fd);
    if (!options.key.IsValid()) return RunSession(fd, options, commands, session, nullptr);

    components::secure::TlsTunnel::Options tls;
    tls.timeoutMs = 30000;
    components::secure::TlsTunnel::Failure why = components::secure::TlsTunnel::Failure::None;
    const auto tunnel = components::secure::TlsTunnel::Accept(fd, options.key, tls, &why);  // takes fd
    if (!tunnel) {
        std::fprintf(stderr, "pelio-agent: no secure link: %s\n",
                     components::secure::TlsTunnel::FailureText(why));
        PrintLine("disconnected");
        return {1, false};
    }
    PrintLine(SecureLine(tunnel->CheckCode(), options.key.GetPin().ToString()));
    const LinkEnd end = RunSession(tunnel->TakePlainFd(), options, commands, session, tunnel.get());
    // The session has closed the plain socket: what it wrote last is still on its way through the
    // tunnel, and the TLS close after it.
    tunnel->WaitFinished(5000);
    return end;
}

}  // namespace

int RunAgent(const AgentOptions& options) {
    CommandQueue commands;
    if (!options.scriptFile.empty()) {
        std::ifstream script(options.scriptFile);
        if (!script) {
            std::fprintf(stderr, "pelio-agent: cannot read %s\n", options.scriptFile.c_str());
            return 1;
        }
        for (std::string line; std::getline(script, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            commands.Push(line);
        }
    }
    int port = 0;
    int listener = ListenSocket(options, port);
    if (listener < 0) {
        std::fprintf(stderr, "pelio-agent: cannot listen on %s:%d\n", options.bindAddress.c_str(),
                     options.port);
        return 1;
    }
    PrintLine("listening " + std::to_string(port));
    std::thread([&commands] {
        for (std::string line; std::getline(std::cin, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            commands.Push(line);
        }
    }).detach();

    // The session's state outlives its links: a customer whose link was lost may dial again.
    AgentFiles files(options.files, PrintLine);
    ListenSession session;
    session.files = &files;
    session.commands = &commands;
    std::optional<AgentScreen> screen;
    if (!options.screenDisplay.empty()) {
        session.screen = &screen.emplace(options.screenDisplay, options.bindAddress);
        // With a key, the screen is shown only through TLS on that key, as the link is.
        if (options.key.IsValid()) screen->SetKey(options.key);
    }

    sockaddr_in peer{};
    int fd = AcceptUntil(listener, -1, peer);
    while (true) {
        close(listener);  // one customer at a time
        if (fd < 0) return 1;
        const LinkEnd end = RunLink(fd, peer, options, commands, session);
        if (!end.lost || !session.rejoin.LinkEnded(AgentNowMs())) return end.code;
        // The link was lost under a running session: its customer may dial again, at the same port.
        listener = ListenTcp(options.bindAddress, port, 1, nullptr);
        if (listener < 0) return end.code;
        PrintLine("listening " + std::to_string(port));
        fd = AcceptUntil(listener, AgentNowMs() + CustomerRejoin::kWindowMs, peer);
        if (fd < 0) {
            close(listener);
            return end.code;
        }
    }
}

}  // namespace pelio::agent
