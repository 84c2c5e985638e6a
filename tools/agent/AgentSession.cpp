#include "AgentSession.h"

#include "AgentCommands.h"
#include "AgentFiles.h"
#include "AgentLines.h"
#include "AgentScreen.h"
#include "app/ValueCipher.h"
#include "server/TextFraming.h"
#include "session/SessionMessages.h"

#include <QImage>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include <rfb/rfbclient.h>

namespace pelio::agent {

namespace {

void Silent(const char*, ...) {}

std::mutex g_outputMutex;

void PrintLine(const std::string& line) {
    std::lock_guard lock(g_outputMutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string Escape(const std::string& text) {
    return EscapeText(text);
}

// Lines waiting to be played, from the script and standard input.
struct CommandQueue {
    std::mutex mutex;
    std::deque<std::string> lines;
    void Push(std::string line) {
        std::lock_guard lock(mutex);
        lines.push_back(std::move(line));
    }
    bool Pop(std::string& line) {
        std::lock_guard lock(mutex);
        if (lines.empty()) return false;
        line = std::move(lines.front());
        lines.pop_front();
        return true;
    }
};

struct Session {
    framing::TextAssembler assembler;
    AgentFiles* files = nullptr;
    CommandQueue* commands = nullptr;
    session::ChatBuffer chat;
    bool chatOpen = false;  // a "chatstart" or a piece came since the last "chatend"
    int width = 0, height = 0;
    bool quit = false;
    AgentScreen* screen = nullptr;  // with --screen
};

// The lines that a decrypted message adds after its "message" line: the customer's greeting, and a
// chat line once its last piece has come.
void PrintEvents(Session& session, const QString& plain) {
    if (const auto greeting = session::ParseGreeting(plain)) {
        PrintLine(GreetingLine(greeting->machineCode, greeting->customerName, greeting->customerPhone,
                               greeting->accountId));
        return;
    }
    const session::SessionMessage message = session::SplitMessage(plain);
    if (message.keyword == u"chatstart") {
        session.chat.Start();
        session.chatOpen = true;
    } else if (message.keyword == u"chat") {
        session.chat.Append(message.argument);
        session.chatOpen = true;
    } else if (message.keyword == u"chatend" && session.chatOpen) {
        session.chatOpen = false;
        PrintLine("chat " + Escape(session.chat.Take().toStdString()));
    }
}

Session* SessionOf(rfbClient* client) {
    return static_cast<Session*>(rfbClientGetClientData(client, nullptr));
}

void OnText(rfbClient* client, int value, char* text) {
    if (!text || value <= 0) return;  // open/close controls
    Session* session = SessionOf(client);
    std::string complete;
    if (!session->assembler.Feed(std::string_view(text, std::size_t(value)), complete)) return;
    const QString plain = app::DecryptValue(QString::fromUtf8(complete.data(), qsizetype(complete.size())));
    if (plain.isEmpty() && !complete.empty())
        PrintLine("undecryptable " + Escape(complete));
    else {
        PrintLine("message " + Escape(plain.toStdString()));
        PrintEvents(*session, plain);
        // Answers of the file exchange go out with the next commands (none starts with "\").
        for (const QString& answer : session->files->OnMessage(plain))
            session->commands->Push(answer.toStdString());
    }
}

void OnUpdate(rfbClient* client, int, int, int, int) {
    Session* session = SessionOf(client);
    if (client->width != session->width || client->height != session->height) {
        session->width = client->width;
        session->height = client->height;
        PrintLine("screen " + std::to_string(session->width) + "x" + std::to_string(session->height));
    }
}

bool SendText(rfbClient* client, const std::string& text) {
    for (const std::string& piece : framing::SplitText(text)) {
        rfbTextChatMsg header{};
        header.type = rfbTextChat;
        header.length = htonl(std::uint32_t(piece.size()));
        std::string message(reinterpret_cast<const char*>(&header), sz_rfbTextChatMsg);
        message += piece;
        if (!WriteToRFBServer(client, message.data(), unsigned(message.size()))) return false;
    }
    return true;
}

std::uint32_t ParseKeysym(const std::string& word) {
    return std::uint32_t(std::strtoul(word.c_str(), nullptr, 0));
}

bool SendMessage(rfbClient* client, const QString& plain) {
    return SendText(client, app::EncryptValue(plain).toStdString());
}

// Plays one command line; false when the link failed.
bool Play(rfbClient* client, Session& session, const std::string& line) {
    if (line.size() > 1 && line[0] == '\\' && line[1] != '\\') {
        std::istringstream words(line.substr(1));
        std::string command;
        words >> command;
        if (command == "pointer") {
            int x = 0, y = 0, mask = 0;
            words >> x >> y >> mask;
            return SendPointerEvent(client, x, y, mask);
        }
        if (command == "key") {
            std::string keysym, state;
            words >> keysym >> state;
            return SendKeyEvent(client, ParseKeysym(keysym), state == "down" ? TRUE : FALSE);
        }
        if (command == "type") {
            std::string keysym;
            words >> keysym;
            return SendKeyEvent(client, ParseKeysym(keysym), TRUE) &&
                   SendKeyEvent(client, ParseKeysym(keysym), FALSE);
        }
        if (command == "save") {
            std::string file;
            std::getline(words >> std::ws, file);
            if (client->frameBuffer && client->width > 0 && client->height > 0) {
                const QImage image(client->frameBuffer, client->width, client->height, client->width * 4,
                                   QImage::Format_RGBX8888);
                if (image.save(QString::fromStdString(file))) PrintLine("saved " + file);
            }
            return true;
        }
        if (command == "quit") {
            session.quit = true;
            return true;
        }
    }
    std::string played = line;
    if (session.screen) {
        const std::optional<std::string> expanded = session.screen->Expand(line);
        if (!expanded) return true;
        if (*expanded != line) PrintLine("showing " + std::to_string(session.screen->Port()));
        played = *expanded;
    }
    const QString text = QString::fromUtf8(played.data(), qsizetype(played.size()));
    static const QString offer = QStringLiteral("\\offer");
    const bool sharedOffer = session.files->Sharing() && text.startsWith(offer) &&
                             (text.size() == offer.size() || text[offer.size()].isSpace());
    const CommandMessages result =
        sharedOffer ? session.files->Offer(text.mid(offer.size()).trimmed()) : MessagesForLine(text);
    if (result.refused()) {
        std::fprintf(stderr, "pelio-agent: %s\n", result.error.toUtf8().constData());
        return true;
    }
    for (const OutgoingMessage& message : result.messages) {
        if (!SendMessage(client, message.text)) return false;
        if (message.pauseAfterMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(message.pauseAfterMs));
    }
    if (session.screen && AgentScreen::Stops(line)) session.screen->Stop();
    return true;
}

int ListenSocket(const AgentOptions& options, int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(options.port));
    if (inet_pton(AF_INET, options.bindAddress.c_str(), &address.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 1) != 0) {
        close(fd);
        return -1;
    }
    socklen_t len = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &len);
    port = ntohs(address.sin_port);
    return fd;
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
    const int listener = ListenSocket(options, port);
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

    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    const int fd = accept(listener, reinterpret_cast<sockaddr*>(&peer), &len);
    close(listener);  // one session only
    if (fd < 0) return 1;
    char host[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, host, sizeof host);
    PrintLine(std::string("connected ") + host);
    if (options.busy) return RunBusy(fd, commands);

    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    rfbClientLog = Silent;
    rfbClientErr = Silent;
    rfbClient* client = rfbGetClient(8, 3, 4);
    AgentFiles files(options.files, PrintLine);
    Session session;
    session.files = &files;
    session.commands = &commands;
    std::optional<AgentScreen> screen;
    if (!options.screenDisplay.empty())
        session.screen = &screen.emplace(options.screenDisplay, options.bindAddress);
    rfbClientSetClientData(client, nullptr, &session);
    client->sock = fd;
    client->listenSpecified = TRUE;
    client->canHandleNewFBSize = TRUE;
    client->appData.useRemoteCursor = TRUE;  // the saved screen holds no cursor
    client->HandleTextChat = OnText;
    client->GotFrameBufferUpdate = OnUpdate;
    if (!rfbInitClient(client, nullptr, nullptr)) {  // frees the client on failure
        PrintLine("disconnected");
        return 1;
    }
    bool alive = true;
    while (alive && !session.quit) {
        // Messages already read into the library's buffer do not wake WaitForMessage: handle them first.
        const int n = client->buffered > 0 ? 1 : WaitForMessage(client, 20000);
        if (n < 0 || (n > 0 && !HandleRFBServerMessage(client))) alive = false;
        std::string line;
        while (alive && !session.quit && commands.Pop(line)) alive = Play(client, session, line);
    }
    PrintLine("disconnected");
    std::free(client->frameBuffer);
    client->frameBuffer = nullptr;
    rfbClientCleanup(client);
    return 0;
}

}  // namespace pelio::agent
