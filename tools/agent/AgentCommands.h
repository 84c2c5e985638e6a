// The session messages that one line of pelio-agent's input stands for, before encryption.
//
// A line that does not start with "\" is one message, sent as it is; "\\TEXT" is the message "\TEXT".
// The message commands (see AgentSession.h for the list) build their texts with SessionMessages.h, so
// the agent sends exactly what the customer's program parses. Their arguments are checked only as far
// as the command needs them (a malformed message is sent as a plain line instead):
//   \chat TEXT                        everything after "\chat " is the line, which may be empty
//   \rawchat SIZE                     one "chat:" piece of SIZE characters (a..z over and over, SIZE up
//                                     to kMaxRawChat) without "chatstart" and "chatend", unpaced
//   \changeagent P/L/PORT             at least three fields separated by "/" (the port keeps the rest)
//   \url, \shell, \download, \lastfile
//                                     everything after the command and one blank, which must not be empty
//   \showme NAME FLAG ADDRESS PORT    exactly four words
//   \offer NAME...                    one or more words
//   \monitor N                        "monitor:N": one number, 0 (the whole desktop) or more
//   \end, \stopshowme, \desktop, \ime, \explorer, \ie
//                                     nothing after the command
// The commands that act on the link itself (\pointer, \key, \type, \save, \quit, \repeat) are the
// session's and are not handled here; any other line starting with "\" is refused with a reason.
#pragma once

#include <QString>

#include <vector>

namespace pelio::agent {

// One message to encrypt and send, and how long the sender waits after sending it (the pace of a
// chat line: 50 ms after each piece, 10 ms more before its end).
inline constexpr int kMaxRawChat = 8 * 1024 * 1024;

struct OutgoingMessage {
    QString text;
    int pauseAfterMs = 0;
};

// The messages of one input line in sending order, or why the line is refused (then no messages).
struct CommandMessages {
    std::vector<OutgoingMessage> messages;
    QString error;
    bool refused() const { return !error.isEmpty(); }
};

CommandMessages MessagesForLine(const QString& line);

// The paced messages of one chat line ("chatstart", its "chat:" pieces, "chatend"): what "\chat LINE"
// stands for, for a line that may hold line breaks.
CommandMessages ChatLineMessages(const QString& line);

}  // namespace pelio::agent
