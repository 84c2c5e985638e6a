// The rules of `pelio-agent console`, the agent's window: one session with the customer's program,
// without widgets. The window (AgentConsoleWindow.h) owns the link and the controls and implements
// ConsolePort; tests use a recording port.
//
// States: Listening until the customer's program connects; then Connected, or Busy when the console
// answers as a busy agent; Ended once the link is gone. A link that ends without the agent's "end"
// under a greeted customer may be the customer's lost link: for 60 s after it (AwaitsCustomer) the
// window listens again and a new link leads from Ended to Connected; a greeting with the machine code
// greeted last then prints "reconnected MACHINECODE" and says in the status and the chat pane that the
// customer reconnected, and the chat pane goes on (AgentRejoin.h). The console cannot tell a lost link
// from the customer's own end, so it also waits after the latter, in vain. Messages are sent only
// while Connected; an action refused (not connected, bad input, no --share or --screen) reports its
// reason through ReportError and sends nothing.
//
// Sending: every message goes out through the outbox in order. A chat line is paced as the customer's
// program paces its own (50 ms after each piece, 10 ms more before its end) with StartTimer and
// OnTimer, so the window never blocks; a message queued meanwhile (an "end", an answer to an offer)
// waits behind the line.
//
// Receiving: OnChatMessage takes each RFB text-chat message of the link, joins the framing of
// TextFraming.h and decrypts the texts. Each message prints "message TEXT" (or "undecryptable TEXT"),
// the greeting prints "greeting ..." and becomes the status, a complete chat line prints "chat TEXT"
// and goes to the chat pane as it came (its header names the customer and the time). The customer's
// "monitors" list becomes the choice of monitors (see ChooseMonitor). The customer's file offers are
// answered per FileOptions::answer, or by asking the agent; the customer's files are fetched by
// AgentFiles, whose lines the window hands to OnFilesLine on the UI thread.
#pragma once

#include "AgentCommands.h"
#include "AgentFiles.h"
#include "AgentRejoin.h"
#include "server/TextFraming.h"
#include "session/SessionMessages.h"

#include <QDateTime>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

#include <chrono>
#include <deque>
#include <string>

namespace pelio::agent {

// What the rules act on.
class ConsolePort {
  public:
    virtual ~ConsolePort() = default;
    // One event line on standard output.
    virtual void PrintLine(const std::string& line) = 0;
    // Encrypts one session message and sends it in the framing of TextFraming.h.
    virtual void SendMessage(const QString& plain) = 0;
    // OnTimer is to be called once, ms milliseconds from now.
    virtual void StartTimer(int ms) = 0;
    // A whole chat line in HTML, the customer's or the agent's own, whose header names the speaker and
    // the time: the pane shows its text, without loading or running anything of it.
    virtual void ShowChatLine(const QString& html) = 0;
    // A line of the console's own in the chat pane ("알림: ...").
    virtual void ShowNotice(const QString& text) = 0;
    virtual void ShowStatus(const QString& text) = 0;
    // Something the agent asked for was not done, and why.
    virtual void ReportError(const QString& text) = 0;
    // Asks the agent whether to take the files the customer offers.
    virtual bool AskAcceptFiles(const QStringList& names) = 0;
    // Starts the agent's screen server unless it runs: its port, or 0 when it could not start.
    virtual int StartScreen() = 0;
    virtual void StopScreen() = 0;
    // The state or what may be done has changed.
    virtual void Changed() = 0;
    // The choice of the customer's monitors: MonitorChoices and the one chosen.
    virtual void ShowMonitors(const QStringList& choices, int chosen) {
        (void)choices;
        (void)chosen;
    }
    // Monotonic milliseconds.
    virtual qint64 NowMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

struct ConsoleOptions {
    bool busy = false;
    bool screen = false;                    // --screen given: "내 화면 보여주기" can start a server
    std::string bindAddress = "127.0.0.1";  // sent in "showme" as the screen's address
    QString agentName = QStringLiteral("상담원");  // --name: in the chat lines' header and in "showme"
    FileOptions files;
};

class AgentConsoleSession {
  public:
    enum class State { Listening, Connected, Busy, Ended };

    // files: where AgentFiles prints (from its fetch threads; the window passes the lines on to
    // OnFilesLine on the UI thread).
    AgentConsoleSession(ConsoleOptions options, ConsolePort& port, AgentFiles::Print files);

    State GetState() const { return m_state; }
    bool Showing() const { return m_showing; }
    bool Sharing() const { return m_files.Sharing(); }
    bool CanShow() const { return m_options.screen; }
    // The monitors the customer's program told of ("monitors"), and the one chosen (0: the whole
    // desktop). A new list keeps the choice when the chosen monitor is in it, else the whole desktop
    // (as the customer's program does); a malformed list counts as none.
    const QList<QRect>& Monitors() const { return m_monitors; }
    int ChosenMonitor() const { return m_monitor; }
    // "전체 화면", then "모니터 N (WIDTHxHEIGHT)" for each monitor.
    static QStringList MonitorChoices(const QList<QRect>& monitors);
    // The link has ended and its customer may still dial again: the window listens meanwhile.
    bool AwaitsCustomer() const;

    // The link.
    void OnListening(int port);
    // The customer's program connected; true when the console answers busy (the window then tells
    // the peer so and calls OnBusyAnswered).
    bool OnConnected(const std::string& address);
    // The link became a TLS link (--key): prints "secure CODE PIN" and shows the check code.
    void OnSecured(const QString& checkCode, const QString& pin);
    void OnBusyAnswered();
    void OnScreen(int width, int height);
    void OnChatMessage(const std::string& message);
    void OnDisconnected();
    void OnTimer();
    void OnFilesLine(const std::string& line);

    // The agent's actions.
    // Sends the agent's text (nothing for a blank one) as a chat line with the header of the customer's
    // lines: the agent's name and `now`.
    void SendChat(const QString& text, const QDateTime& now);
    void OfferFiles(const QStringList& paths);
    void ShowMyScreen(bool allowControl);
    void StopShowing();
    void ChangeAgent(const QString& argument);
    // Shows the agent monitor `index` of Monitors() (from 1), or the whole desktop for 0.
    void ChooseMonitor(int index);
    void End();
    // Any other input line, as `listen` reads it (AgentCommands.h).
    void SendLine(const QString& line);

  private:
    bool Ready();
    void Queue(const CommandMessages& messages);
    void Pump();
    void OnMessage(const QString& plain);

    ConsoleOptions m_options;
    ConsolePort& m_port;
    AgentFiles m_files;
    State m_state = State::Listening;
    bool m_showing = false;
    framing::TextAssembler m_assembler;
    session::ChatBuffer m_chat;
    bool m_chatOpen = false;
    std::deque<OutgoingMessage> m_outbox;
    bool m_paused = false;  // a pause of the outbox is running
    QList<QRect> m_monitors;
    int m_monitor = 0;
    CustomerRejoin m_rejoin;
};

}  // namespace pelio::agent
