// The texts of the session messages that the customer's program and the agent's program exchange over
// the server component, before encryption: a keyword, optionally ":" and an argument.
//
// Both sides use these builders and parsers, so the formats live in one place:
//   customer:MACHINE/NAME/PHONE/ACCOUNT   the greeting, once per session (fields joined as they are)
//   chatstart, chat:PIECE..., chatend     one chat line in pieces of 300 characters
//   changeagent:PUBLIC/LOCAL/PORT         the agent hands the session to another agent
//   showme:NAME#;#FLAG#;#ADDRESS#;#PORT   the agent shows its own screen
//   filename:<CR LF>NAME<CR LF>NAME...    a file offer, one name per line
//   monitors:X,Y,WxH;X,Y,WxH...           the customer's monitors, the primary first
//   monitor:N                             the agent chooses monitor N of that list (0: whole desktop)
#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

#include <optional>

namespace pelio::session {

// The keywords of the session messages, in lower case as they are sent. No other file spells them.
namespace keyword {
// Agent to customer: commands on this computer.
inline const QString kShell = QStringLiteral("shell");
inline const QString kIe = QStringLiteral("ie");
inline const QString kUrl = QStringLiteral("url");
inline const QString kExplorer = QStringLiteral("explorer");
inline const QString kDesktop = QStringLiteral("desktop");
inline const QString kIme = QStringLiteral("ime");
// Both ways: files and chat.
inline const QString kFileName = QStringLiteral("filename");
inline const QString kFileAccepted = QStringLiteral("fileaccepted");
inline const QString kFileRefused = QStringLiteral("filerefused");
inline const QString kDownloadThis = QStringLiteral("downloadthis");
inline const QString kLastFile = QStringLiteral("lastfile");
inline const QString kChatStart = QStringLiteral("chatstart");
inline const QString kChat = QStringLiteral("chat");
inline const QString kChatEnd = QStringLiteral("chatend");
// Agent to customer: the session itself.
inline const QString kChangeAgent = QStringLiteral("changeagent");
inline const QString kEnd = QStringLiteral("end");
inline const QString kShowMe = QStringLiteral("showme");
inline const QString kStopShowMe = QStringLiteral("stopshowme");
// Customer to agent: the greeting.
inline const QString kCustomer = QStringLiteral("customer");
// Customer to agent: the monitors of the customer's screen; agent to customer: the one to show.
inline const QString kMonitors = QStringLiteral("monitors");
inline const QString kMonitor = QStringLiteral("monitor");
}  // namespace keyword

// A received message split at its first ":"; the keyword in lower case.
struct SessionMessage {
    QString keyword;
    QString argument;  // everything after the first ":" (may hold further ":" and "/"); empty without
};

SessionMessage SplitMessage(const QString& text);

// "keyword:argument", or the keyword alone when the argument is empty.
QString JoinMessage(const QString& keyword, const QString& argument);

// Builders of the messages with arguments.
// "filename:" and CR LF before each name.
QString FileOfferMessage(const QStringList& names);
QString DownloadThisMessage(const QString& address);
QString LastFileMessage(const QString& name);
// "changeagent:PUBLIC/LOCAL/PORT".
QString ChangeAgentMessage(const QString& publicAddress, const QString& localAddress, const QString& port);
// "showme:" and the fields joined by "#;#".
QString ShowMeMessage(const QStringList& fields);

// The greeting the customer's program sends once the agent's program has taken the connection.
QString SessionGreeting(const QString& machineCode, const QString& customerName, const QString& customerPhone,
                        const QString& accountId);

// The greeting's fields; nothing when the text is not a greeting. Names with "/" in them cannot be
// told apart from the field separator: the first three "/" separate, the account keeps the rest.
struct GreetingFields {
    QString machineCode, customerName, customerPhone, accountId;
};
std::optional<GreetingFields> ParseGreeting(const QString& message);

// One chat line as the messages that carry it, in sending order: "chatstart", "chat:" + each piece of
// up to kChatPieceLength characters (none for an empty line), "chatend". A piece never ends between
// the two halves of a surrogate pair, so no character is cut in two.
inline constexpr int kChatPieceLength = 300;
QStringList ChatMessages(const QString& line);

// Collects the pieces of a chat line from the other side. A "chatstart" in the middle of a line
// discards what was collected; pieces without a "chatstart" are added to what is there. A line longer
// than kMaxLineBytes (UTF-8) is not kept: what came is dropped, further pieces are counted only, and
// Overflowed tells so until the next Start or Take; memory stays bounded whatever the peer sends.
class ChatBuffer {
  public:
    static constexpr qsizetype kMaxLineBytes = 64 * 1024;

    void Start();
    void Append(const QString& piece);
    // The collected line (empty after an overflow), after which the buffer is empty.
    QString Take();
    const QString& Text() const { return m_text; }
    bool Overflowed() const { return m_overflowed; }

  private:
    QString m_text;
    qsizetype m_bytes = 0;
    bool m_overflowed = false;
};

// The agent's address and port in a "changeagent" argument: the public address, or the local address
// when the public one is the customer's own public address (compared without regard to case). Nothing
// when a field is missing, the address is empty or the port is not a number in 1..65535.
struct AgentAddress {
    QString address;
    int port = 0;
};
std::optional<AgentAddress> ParseChangeAgent(const QString& argument, const QString& customerPublicIp);

// The fields of a "showme" argument, separated by "#;#"; the fields beyond those given are empty (the
// view then runs into its time limit), those beyond the fourth are ignored.
struct ShowMeFields {
    QString agentName;
    QString controlFlag;
    QString address;
    QString port;
};
ShowMeFields ParseShowMe(const QString& argument);

// The customer's monitors in desktop coordinates, in the order the agent numbers them from 1: the
// primary monitor first, then the others as the display lists them. "monitors:" and one
// "X,Y,WIDTHxHEIGHT" per monitor, joined by ";" (nothing after ":" for no monitor). The customer sends
// it after the greeting when the screen has two or more monitors, and again whenever the layout
// changes once the agent has been told of one.
QString MonitorsMessage(const QList<QRect>& monitors);
// The monitors of a "monitors" argument; nothing when any entry is malformed (not four decimal
// numbers, a size outside 1..kMaxMonitorSide, a position outside +-kMaxMonitorSide) or there are more
// than kMaxMonitors. An empty argument is an empty list.
inline constexpr int kMaxMonitors = 16;
inline constexpr int kMaxMonitorSide = 32767;
std::optional<QList<QRect>> ParseMonitors(const QString& argument);
// "monitor:N": the agent shows monitor N (from 1) of the list it was told of, or 0 the whole desktop.
QString MonitorMessage(int index);
// The N of a "monitor" argument (decimal digits, blanks around them allowed, at most kMaxMonitors);
// nothing for anything else. Whether the monitor exists is the receiver's to check.
std::optional<int> ParseMonitorIndex(const QString& argument);

// The file names of a "filename" argument, split at CR LF (a lone LF too), without empty lines.
QStringList OfferedFiles(const QString& argument);

// The first six names of an offer, each after CR LF, and " 외 N건" for the N names beyond six.
QString SummarizeFileList(const QString& argument);

}  // namespace pelio::session
