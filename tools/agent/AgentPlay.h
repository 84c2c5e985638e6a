// What `pelio-agent listen` does with the texts it receives and the command lines it plays, whichever
// way its link speaks RFB: as a LibVNCClient viewer (AgentSession.cpp) or by hand (AgentRawPeer.h).
// The lines printed and the commands read are listed in AgentSession.h.
//
// Threads: the command queue is filled from any thread; everything else runs on the one thread that
// owns the link. PrintLine may be called from any thread.
#pragma once

#include "AgentFiles.h"
#include "AgentRejoin.h"
#include "AgentScreen.h"
#include "server/TextFraming.h"
#include "session/SessionMessages.h"

#include <QImage>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

namespace pelio::agent {

// One event line on standard output, flushed at once.
void PrintLine(const std::string& line);

// Lines waiting to be played, from the script and standard input.
class CommandQueue {
  public:
    void Push(std::string line);
    bool Pop(std::string& line);

  private:
    std::mutex m_mutex;
    std::deque<std::string> m_lines;
};

// The client side of the RFB link as the commands use it. Each Send is false when the link failed.
class AgentLink {
  public:
    virtual ~AgentLink() = default;
    virtual bool SendPointer(int x, int y, int mask) = 0;
    virtual bool SendKey(std::uint32_t keysym, bool down) = 0;
    // One RFB text-chat message holding `piece` (a message of TextFraming.h's framing).
    virtual bool SendChat(std::string_view piece) = 0;
    // The received screen, valid until the link handles its next message; null when none is kept.
    virtual QImage Screen() const = 0;
};

// The bytes of an RFB text-chat message (client to server) holding `piece`.
std::string ChatMessageBytes(std::string_view piece);

// The session's state. The caller keeps what the pointers point to.
struct ListenSession {
    framing::TextAssembler assembler;
    AgentFiles* files = nullptr;
    CommandQueue* commands = nullptr;
    AgentScreen* screen = nullptr;  // with --screen
    session::ChatBuffer chat;
    bool chatOpen = false;  // a "chatstart" or a piece came since the last chat line
    int width = 0, height = 0;
    bool quit = false;  // "\quit" was played
    // The customer greeted last, kept across the links of the session: one that greets again after
    // a lost link prints "reconnected MACHINECODE".
    CustomerRejoin rejoin;
};

// Monotonic milliseconds, for CustomerRejoin.
qint64 AgentNowMs();

// One RFB text-chat message received: joins the framing, prints the "message" (or "undecryptable")
// line and the lines it adds, and queues the answers of the file exchange as command lines.
void OnChatMessage(ListenSession& session, std::string_view message);

// Prints "screen WxH" when the size differs from the last one printed.
void OnScreenSize(ListenSession& session, int width, int height);

// Plays one command line; false when the link failed. A refused line prints its reason on standard
// error and sends nothing.
bool Play(AgentLink& link, ListenSession& session, const std::string& line);

}  // namespace pelio::agent
