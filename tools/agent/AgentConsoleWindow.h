// The window of `pelio-agent console`: a thin adapter between the controls and the rules of
// AgentConsoleSession.h. It listens for the customer's reverse connection, runs the view on the
// accepted socket (VncViewerComponent::Accept), shows the customer's screen scaled to the pane with
// the "제어" toggle for control and the "모니터" choice of the customer's monitors (the view follows the
// size of the monitor shown; "screen WxH" is printed for each size), the chat pane with its input line, and
// the buttons of the session. Every control has a Korean accessible name.
//
// With --key the accepted connection is first made a TLS link (secure/TlsTunnel.h, the agent's side
// the server) on a thread of its own, so the window stays live; the view then runs on the tunnel's
// plain socket. Once the link is secure the window prints "secure CODE PIN" and shows the check code
// ("보안 연결 확인 코드 123 456") in its title and in the status bar, for the agent to compare with the
// code the customer reads out. A failed handshake ends the session ("disconnected").
//
// Command lines from standard input and from the --script file (played first) are taken once the
// customer is connected (and the link secure, with --key) and act as the controls do:
//   \chat TEXT, \end, \stopshowme, \showme [0|1] (the "제어 허용" check box), \offer FILE...,
//   \changeagent PUBLIC/LOCAL/PORT, \control on|off (the "제어" toggle), \monitor N (the "모니터"
//   choice: the customer's monitor N, 0 the whole desktop), \quit (closes the window);
// any other line is sent as `listen` sends it (AgentCommands.h). The event lines on standard output
// are those of `listen` (AgentSession.h): listening, connected, busy, screen, message, greeting, chat,
// undecryptable, showing, offer accepted/refused, fetched, fetch failed, disconnected.
#pragma once

#include "AgentConsoleSession.h"
#include "secure/AgentKey.h"

#include <QMainWindow>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTcpServer;
class QTcpSocket;

namespace pelio::components {
class VncViewerComponent;
namespace secure {
class TlsTunnel;
}
}  // namespace pelio::components

namespace pelio::agent {

class AgentScreen;

struct ConsoleSetup {
    int port = 0;
    std::string screenDisplay;  // --screen
    std::string scriptFile;     // --script
    ConsoleOptions options;
    components::secure::AgentKey key;  // --key; invalid: a plain link
};

class AgentConsoleWindow : public QMainWindow, private ConsolePort {
    Q_OBJECT
  public:
    explicit AgentConsoleWindow(const ConsoleSetup& setup);
    ~AgentConsoleWindow() override;

    // Starts listening; false (with the reason on standard error) when the port cannot be had.
    bool Listen();

  protected:
    void changeEvent(QEvent* event) override;

  private:
    // ConsolePort
    void PrintLine(const std::string& line) override;
    void SendMessage(const QString& plain) override;
    void StartTimer(int ms) override;
    void ShowChatLine(const QString& html) override;
    void ShowNotice(const QString& text) override;
    void ShowStatus(const QString& text) override;
    void ReportError(const QString& text) override;
    bool AskAcceptFiles(const QStringList& names) override;
    int StartScreen() override;
    void StopScreen() override;
    void Changed() override;
    void ShowMonitors(const QStringList& choices, int chosen) override;

    void OnAccepted(int socket, const QString& address);
    void ListenForReturn();
    // The handshake's end: a tunnel, or null when it failed (`why`).
    void OnSecured(const std::shared_ptr<components::secure::TlsTunnel>& tunnel, const QString& address,
                   bool busy, const QString& why);
    // Runs the session on `socket` (the network one, or the tunnel's plain one).
    void Serve(int socket, const QString& address, bool busy);
    void AnswerBusy(int socket);
    void ReadInput();
    void PlayLine(const QString& line);
    void PlayPending();
    void OnSendFiles();
    void OnChangeAgent();
    void OnChatEntered();

    ConsoleSetup m_setup;
    std::unique_ptr<AgentConsoleSession> m_session;
    std::unique_ptr<AgentScreen> m_screen;
    QTcpServer* m_listener = nullptr;
    quint16 m_listenPort = 0;
    QTcpSocket* m_busyPeer = nullptr;
    QByteArray m_busyVersion;
    components::VncViewerComponent* m_view = nullptr;
    QPlainTextEdit* m_chat = nullptr;
    QLineEdit* m_input = nullptr;
    QCheckBox* m_control = nullptr;
    QComboBox* m_monitor = nullptr;
    QCheckBox* m_allowControl = nullptr;
    QPushButton* m_sendFiles = nullptr;
    QPushButton* m_show = nullptr;
    QPushButton* m_stopShow = nullptr;
    QPushButton* m_changeAgent = nullptr;
    QPushButton* m_end = nullptr;
    QTimer m_pace;
    std::optional<QSocketNotifier> m_stdin;
    QByteArray m_stdinBuffer;
    QStringList m_pending;  // command lines waiting for the customer's connection
    QLabel* m_checkCode = nullptr;
    std::thread m_handshake;
    std::atomic<bool> m_closing{false};  // the window is going: a handshake under way gives up
    bool m_securing = false;             // the handshake runs; command lines wait
    std::shared_ptr<components::secure::TlsTunnel> m_tunnel;
};

// Runs the console until its window closes; the process exit code.
int RunConsole(int argc, char** argv, const ConsoleSetup& setup);

}  // namespace pelio::agent
