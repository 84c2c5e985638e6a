#include "AgentPlay.h"

#include "AgentCommands.h"
#include "AgentLines.h"
#include "app/ValueCipher.h"

#include <QString>

#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <thread>

#include <rfb/rfbproto.h>

namespace pelio::agent {

namespace {

constexpr long kMaxRepeat = 10000;

std::mutex g_outputMutex;

// The lines that a decrypted message adds after its "message" line: the customer's greeting, and a
// chat line once its last piece has come.
void PrintEvents(ListenSession& state, const QString& plain) {
    if (const auto greeting = session::ParseGreeting(plain)) {
        PrintLine(GreetingLine(greeting->machineCode, greeting->customerName, greeting->customerPhone,
                               greeting->accountId));
        if (state.rejoin.Greeted(greeting->machineCode, AgentNowMs()))
            PrintLine("reconnected " + EscapeText(greeting->machineCode.toStdString()));
        return;
    }
    namespace keyword = session::keyword;
    const session::SessionMessage message = session::SplitMessage(plain);
    if (message.keyword == keyword::kChatStart) {
        state.chat.Start();
        state.chatOpen = true;
    } else if (message.keyword == keyword::kChat) {
        state.chat.Append(message.argument);
        state.chatOpen = true;
    } else if (message.keyword == keyword::kChatEnd && state.chatOpen) {
        state.chatOpen = false;
        PrintLine(ChatLine(state.chat.Take()));
    }
}

std::uint32_t ParseKeysym(const std::string& word) {
    return std::uint32_t(std::strtoul(word.c_str(), nullptr, 0));
}

void Refused(const std::string& reason) {
    std::fprintf(stderr, "pelio-agent: %s\n", reason.c_str());
}

bool SendMessage(AgentLink& link, const QString& plain) {
    for (const std::string& piece : framing::SplitText(app::EncryptValue(plain).toStdString()))
        if (!link.SendChat(piece)) return false;
    return true;
}

// "\repeat N LINE": LINE played N times, or until the link fails or a "\quit".
bool Repeat(AgentLink& link, ListenSession& state, std::istringstream& words) {
    std::string count, line;
    words >> count;
    std::getline(words >> std::ws, line);
    char* end = nullptr;
    const long times = std::strtol(count.c_str(), &end, 10);
    if (count.empty() || *end != '\0' || times < 0 || times > kMaxRepeat || line.empty() ||
        line.rfind("\\repeat", 0) == 0) {
        Refused("\\repeat needs N (0.." + std::to_string(kMaxRepeat) + ") and a line other than \\repeat");
        return true;
    }
    for (long i = 0; i < times && !state.quit; ++i)
        if (!Play(link, state, line)) return false;
    return true;
}

}  // namespace

qint64 AgentNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void PrintLine(const std::string& line) {
    std::lock_guard lock(g_outputMutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void CommandQueue::Push(std::string line) {
    std::lock_guard lock(m_mutex);
    m_lines.push_back(std::move(line));
}

bool CommandQueue::Pop(std::string& line) {
    std::lock_guard lock(m_mutex);
    if (m_lines.empty()) return false;
    line = std::move(m_lines.front());
    m_lines.pop_front();
    return true;
}

std::string ChatMessageBytes(std::string_view piece) {
    rfbTextChatMsg header{};
    header.type = rfbTextChat;
    header.length = htonl(std::uint32_t(piece.size()));
    std::string message(reinterpret_cast<const char*>(&header), sz_rfbTextChatMsg);
    message += piece;
    return message;
}

void OnChatMessage(ListenSession& state, std::string_view message) {
    std::string complete;
    if (!state.assembler.Feed(message, complete)) return;
    const QString plain = app::DecryptValue(QString::fromUtf8(complete.data(), qsizetype(complete.size())));
    if (plain.isEmpty() && !complete.empty()) {
        PrintLine("undecryptable " + EscapeText(complete));
        return;
    }
    PrintLine("message " + EscapeText(plain.toStdString()));
    PrintEvents(state, plain);
    // Answers of the file exchange go out with the next commands (none starts with "\").
    for (const QString& answer : state.files->OnMessage(plain)) state.commands->Push(answer.toStdString());
}

void OnScreenSize(ListenSession& state, int width, int height) {
    if (width == state.width && height == state.height) return;
    state.width = width;
    state.height = height;
    PrintLine("screen " + std::to_string(width) + "x" + std::to_string(height));
}

bool Play(AgentLink& link, ListenSession& state, const std::string& line) {
    if (line.size() > 1 && line[0] == '\\' && line[1] != '\\') {
        std::istringstream words(line.substr(1));
        std::string command;
        words >> command;
        if (command == "pointer") {
            int x = 0, y = 0, mask = 0;
            words >> x >> y >> mask;
            return link.SendPointer(x, y, mask);
        }
        if (command == "key") {
            std::string keysym, down;
            words >> keysym >> down;
            return link.SendKey(ParseKeysym(keysym), down == "down");
        }
        if (command == "type") {
            std::string keysym;
            words >> keysym;
            return link.SendKey(ParseKeysym(keysym), true) && link.SendKey(ParseKeysym(keysym), false);
        }
        if (command == "save") {
            std::string file;
            std::getline(words >> std::ws, file);
            const QImage image = link.Screen();
            if (!image.isNull() && image.save(QString::fromStdString(file))) PrintLine("saved " + file);
            return true;
        }
        if (command == "quit") {
            state.quit = true;
            return true;
        }
        if (command == "repeat") return Repeat(link, state, words);
    }
    std::string played = line;
    if (state.screen) {
        const std::optional<std::string> expanded = state.screen->Expand(line);
        if (!expanded) return true;
        if (*expanded != line) PrintLine("showing " + std::to_string(state.screen->Port()));
        played = *expanded;
    }
    const QString text = QString::fromUtf8(played.data(), qsizetype(played.size()));
    static const QString offer = QStringLiteral("\\offer");
    const bool sharedOffer = state.files->Sharing() && text.startsWith(offer) &&
                             (text.size() == offer.size() || text[offer.size()].isSpace());
    const CommandMessages result =
        sharedOffer ? state.files->Offer(text.mid(offer.size()).trimmed()) : MessagesForLine(text);
    if (result.refused()) {
        Refused(result.error.toStdString());
        return true;
    }
    for (const OutgoingMessage& message : result.messages) {
        if (message.text.compare(session::keyword::kEnd, Qt::CaseInsensitive) == 0)
            state.rejoin.EndedByAgent();
        if (!SendMessage(link, message.text)) return false;
        if (message.pauseAfterMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(message.pauseAfterMs));
    }
    if (state.screen && AgentScreen::Stops(line)) state.screen->Stop();
    return true;
}

}  // namespace pelio::agent
