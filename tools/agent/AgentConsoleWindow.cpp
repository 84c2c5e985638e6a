#include "AgentConsoleWindow.h"

#include "AgentScreen.h"
#include "app/ValueCipher.h"
#include "secure/LinkLiveness.h"
#include "secure/TlsTunnel.h"
#include "server/TextFraming.h"
#include "util/core/KoreanTranslations.h"
#include "viewer/VncViewerComponent.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QVBoxLayout>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace pelio::agent {

namespace {

// Hands the first accepted socket over as it is, before Qt wraps it; closes any later one.
class ReverseListener : public QTcpServer {
  public:
    std::function<void(int)> onSocket;
    // Takes one more socket: a customer whose link was lost dials again.
    void Reopen() { m_taken = false; }

  protected:
    void incomingConnection(qintptr socket) override {
        if (m_taken || !onSocket) {
            ::close(int(socket));
            return;
        }
        m_taken = true;
        onSocket(int(socket));
    }

  private:
    bool m_taken = false;
};

QString PeerAddress(int socket) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    char host[INET6_ADDRSTRLEN] = {};
    if (getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return QString();
    if (peer.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&peer)->sin_addr, host, sizeof host);
    else if (peer.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&peer)->sin6_addr, host, sizeof host);
    return QString::fromLatin1(host);
}

QPushButton* Button(const QString& caption, const char* name, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAccessibleName(QString(caption).remove(QStringLiteral("...")));
    return button;
}

}  // namespace

AgentConsoleWindow::AgentConsoleWindow(const ConsoleSetup& setup) : m_setup(setup) {
    setWindowTitle(QStringLiteral("Pelio 상담원 콘솔"));
    ConsolePort& port = *this;
    m_session = std::make_unique<AgentConsoleSession>(m_setup.options, port, [this](const std::string& line) {
        // From a fetch thread: on to the UI thread; dropped with the window.
        QMetaObject::invokeMethod(
            this, [this, line] { m_session->OnFilesLine(line); }, Qt::QueuedConnection);
    });
    if (!m_setup.screenDisplay.empty()) {
        m_screen = std::make_unique<AgentScreen>(m_setup.screenDisplay, m_setup.options.bindAddress);
        // With a key, the screen is shown only through TLS on that key, as the link is.
        if (m_setup.key.IsValid()) m_screen->SetKey(m_setup.key);
    }

    auto* splitter = new QSplitter(this);
    auto* left = new QWidget(splitter);
    auto* leftLayout = new QVBoxLayout(left);
    m_control = new QCheckBox(QStringLiteral("제어"), left);
    m_control->setObjectName(QStringLiteral("chkControl"));
    m_control->setAccessibleName(QStringLiteral("제어"));
    m_control->setChecked(true);
    auto* monitorLabel = new QLabel(QStringLiteral("모니터"), left);
    m_monitor = new QComboBox(left);
    m_monitor->setObjectName(QStringLiteral("cboMonitor"));
    m_monitor->setAccessibleName(QStringLiteral("모니터"));
    m_monitor->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    monitorLabel->setBuddy(m_monitor);
    ShowMonitors(AgentConsoleSession::MonitorChoices({}), 0);
    m_view = new components::VncViewerComponent(left);
    m_view->setObjectName(QStringLiteral("viewCustomer"));
    m_view->setAccessibleName(QStringLiteral("고객 화면"));
    m_view->SetAllowControl(true);
    m_view->setMinimumSize(320, 240);
    auto* viewRow = new QHBoxLayout;
    viewRow->addWidget(m_control);
    viewRow->addSpacing(16);
    viewRow->addWidget(monitorLabel);
    viewRow->addWidget(m_monitor);
    viewRow->addStretch(1);
    leftLayout->addLayout(viewRow);
    leftLayout->addWidget(m_view, 1);

    auto* right = new QWidget(splitter);
    auto* rightLayout = new QVBoxLayout(right);
    auto* chatLabel = new QLabel(QStringLiteral("대화"), right);
    m_chat = new QPlainTextEdit(right);
    m_chat->setObjectName(QStringLiteral("txtChat"));
    m_chat->setAccessibleName(QStringLiteral("대화 내용"));
    m_chat->setReadOnly(true);
    chatLabel->setBuddy(m_chat);
    m_input = new QLineEdit(right);
    m_input->setObjectName(QStringLiteral("txtInput"));
    m_input->setAccessibleName(QStringLiteral("보낼 말"));
    m_input->setPlaceholderText(QStringLiteral("보낼 말을 입력하고 Enter"));
    m_sendFiles = Button(QStringLiteral("파일 보내기..."), "cmdSendFiles", right);
    m_show = Button(QStringLiteral("내 화면 보여주기"), "cmdShowMe", right);
    m_allowControl = new QCheckBox(QStringLiteral("제어 허용"), right);
    m_allowControl->setObjectName(QStringLiteral("chkAllowControl"));
    m_allowControl->setAccessibleName(QStringLiteral("제어 허용"));
    m_stopShow = Button(QStringLiteral("화면 보여주기 중지"), "cmdStopShowMe", right);
    m_changeAgent = Button(QStringLiteral("상담원 변경..."), "cmdChangeAgent", right);
    m_end = Button(QStringLiteral("지원 종료"), "cmdEnd", right);
    rightLayout->addWidget(chatLabel);
    rightLayout->addWidget(m_chat, 1);
    rightLayout->addWidget(m_input);
    rightLayout->addWidget(m_sendFiles);
    auto* showRow = new QHBoxLayout;
    showRow->addWidget(m_show, 1);
    showRow->addWidget(m_allowControl);
    rightLayout->addLayout(showRow);
    rightLayout->addWidget(m_stopShow);
    rightLayout->addWidget(m_changeAgent);
    rightLayout->addWidget(m_end);
    splitter->addWidget(left);
    splitter->addWidget(right);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    setCentralWidget(splitter);
    statusBar()->setAccessibleName(QStringLiteral("상태"));
    m_checkCode = new QLabel(this);
    m_checkCode->setObjectName(QStringLiteral("lblCheckCode"));
    m_checkCode->setAccessibleName(QStringLiteral("보안 연결 확인 코드"));
    m_checkCode->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_checkCode->hide();
    statusBar()->addPermanentWidget(m_checkCode);
    resize(1100, 700);

    m_pace.setSingleShot(true);
    connect(&m_pace, &QTimer::timeout, this, [this] { m_session->OnTimer(); });
    connect(m_control, &QCheckBox::toggled, m_view, &components::VncViewerComponent::SetAllowControl);
    connect(m_view, &components::VncViewerComponent::ViewConnected, this, [this] {
        const QSize size = m_view->RemoteSize();
        m_session->OnScreen(size.width(), size.height());
    });
    connect(m_view, &components::VncViewerComponent::RemoteSizeChanged, this,
            [this](QSize size) { m_session->OnScreen(size.width(), size.height()); });
    connect(m_monitor, &QComboBox::activated, this, [this](int index) { m_session->ChooseMonitor(index); });
    connect(m_view, &components::VncViewerComponent::ViewClosed, this, [this] {
        m_session->OnDisconnected();
        ListenForReturn();
    });
    connect(m_view, &components::VncViewerComponent::ChatMessageReceived, this,
            [this](const QByteArray& message) { m_session->OnChatMessage(message.toStdString()); });
    connect(m_input, &QLineEdit::returnPressed, this, &AgentConsoleWindow::OnChatEntered);
    connect(m_sendFiles, &QPushButton::clicked, this, &AgentConsoleWindow::OnSendFiles);
    connect(m_show, &QPushButton::clicked, this,
            [this] { m_session->ShowMyScreen(m_allowControl->isChecked()); });
    connect(m_stopShow, &QPushButton::clicked, this, [this] { m_session->StopShowing(); });
    connect(m_changeAgent, &QPushButton::clicked, this, &AgentConsoleWindow::OnChangeAgent);
    connect(m_end, &QPushButton::clicked, this, [this] { m_session->End(); });

    if (!m_setup.scriptFile.empty()) {
        QFile script(QString::fromStdString(m_setup.scriptFile));
        if (script.open(QIODevice::ReadOnly))
            for (QByteArray line : script.readAll().split('\n')) {
                if (line.endsWith('\r')) line.chop(1);
                m_pending << QString::fromUtf8(line);
            }
    }
    m_stdin.emplace(0, QSocketNotifier::Read);
    connect(&*m_stdin, &QSocketNotifier::activated, this, &AgentConsoleWindow::ReadInput);
    Changed();
}

AgentConsoleWindow::~AgentConsoleWindow() {
    // A handshake under way gives up within a tenth of a second; its result is not delivered.
    m_closing = true;
    if (m_handshake.joinable()) m_handshake.join();
    // The rules first: their file fetches end before the window they report to.
    m_session.reset();
}

bool AgentConsoleWindow::Listen() {
    auto* listener = new ReverseListener;
    listener->setParent(this);
    listener->setMaxPendingConnections(1);
    m_listener = listener;
    listener->onSocket = [this](int socket) { OnAccepted(socket, PeerAddress(socket)); };
    QHostAddress address;
    if (!address.setAddress(QString::fromStdString(m_setup.options.bindAddress)) ||
        !listener->listen(address, quint16(m_setup.port))) {
        std::fprintf(stderr, "pelio-agent: cannot listen on %s:%d\n", m_setup.options.bindAddress.c_str(),
                     m_setup.port);
        return false;
    }
    m_listenPort = listener->serverPort();
    m_session->OnListening(m_listenPort);
    return true;
}

// After a link ended under a greeted customer: the same port takes that customer's next dial for as
// long as it is awaited.
void AgentConsoleWindow::ListenForReturn() {
    if (!m_session->AwaitsCustomer() || !m_listener || m_listener->isListening()) return;
    QHostAddress address;
    address.setAddress(QString::fromStdString(m_setup.options.bindAddress));
    static_cast<ReverseListener*>(m_listener)->Reopen();
    if (!m_listener->listen(address, m_listenPort)) {
        ReportError(QStringLiteral("고객의 다시 연결을 기다리지 못했습니다: ") + m_listener->errorString());
        return;
    }
    PrintLine("listening " + std::to_string(m_listenPort));
    QTimer::singleShot(CustomerRejoin::kWindowMs, this, [this] {
        if (m_session->GetState() == AgentConsoleSession::State::Ended && !m_session->AwaitsCustomer())
            m_listener->close();
    });
}

void AgentConsoleWindow::OnAccepted(int socket, const QString& address) {
    m_listener->close();  // one customer at a time
    if (m_session->GetState() != AgentConsoleSession::State::Listening && !m_session->AwaitsCustomer()) {
        ::close(socket);  // came after the wait for the customer's return was over
        return;
    }
    const bool busy = m_session->OnConnected(address.toStdString());
    if (!m_setup.key.IsValid()) {
        Serve(socket, address, busy);
        return;
    }
    m_securing = true;
    components::secure::WatchLiveness(socket);
    m_handshake = std::thread([this, socket, address, busy, key = m_setup.key] {
        components::secure::TlsTunnel::Options options;
        options.timeoutMs = 30000;
        options.cancelled = [this] { return m_closing.load(); };
        auto why = components::secure::TlsTunnel::Failure::None;
        std::shared_ptr<components::secure::TlsTunnel> tunnel =
            components::secure::TlsTunnel::Accept(socket, key, options, &why);
        const QString reason = QString::fromUtf8(components::secure::TlsTunnel::FailureText(why));
        // Dropped with the window, which waits for this thread before it goes.
        QMetaObject::invokeMethod(
            this, [this, tunnel, address, busy, reason] { OnSecured(tunnel, address, busy, reason); },
            Qt::QueuedConnection);
    });
}

void AgentConsoleWindow::OnSecured(const std::shared_ptr<components::secure::TlsTunnel>& tunnel,
                                   const QString& address, bool busy, const QString& why) {
    m_handshake.join();
    m_securing = false;
    if (!tunnel) {
        ReportError(QStringLiteral("보안 연결을 맺지 못했습니다: ") + why);
        m_session->OnDisconnected();
        m_pending.clear();
        ListenForReturn();
        return;
    }
    m_tunnel = tunnel;
    const QString code = tunnel->CheckCode();
    m_session->OnSecured(code, m_setup.key.GetPin().ToString());
    const QString shown = QStringLiteral("보안 연결 확인 코드 ") + code;
    setWindowTitle(QStringLiteral("Pelio 상담원 콘솔 - ") + shown);
    m_checkCode->setText(shown);
    m_checkCode->show();
    Serve(tunnel->TakePlainFd(), address, busy);
}

void AgentConsoleWindow::Serve(int socket, const QString& address, bool busy) {
    if (busy)
        AnswerBusy(socket);
    else
        m_view->Accept(socket, address);
    PlayPending();
}

// As `listen --busy`: after the peer's version, a version of zeros, then wait until it leaves.
void AgentConsoleWindow::AnswerBusy(int socket) {
    m_busyPeer = new QTcpSocket(this);
    m_busyPeer->setSocketDescriptor(socket);
    auto answer = [this] {
        if (m_busyVersion.size() >= 12) return;
        m_busyVersion += m_busyPeer->readAll();
        if (m_busyVersion.size() < 12) return;
        m_busyPeer->write("RFB 000.000\n", 12);
        m_session->OnBusyAnswered();
    };
    connect(m_busyPeer, &QTcpSocket::readyRead, this, answer);
    connect(m_busyPeer, &QTcpSocket::disconnected, this, [this] { m_session->OnDisconnected(); });
    answer();
}

void AgentConsoleWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange) m_view->SetWindowActive(isActiveWindow());
    QMainWindow::changeEvent(event);
}

void AgentConsoleWindow::PrintLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void AgentConsoleWindow::SendMessage(const QString& plain) {
    for (const std::string& piece : framing::SplitText(app::EncryptValue(plain).toStdString()))
        m_view->SendChatMessage(QByteArray(piece.data(), qsizetype(piece.size())));
}

void AgentConsoleWindow::StartTimer(int ms) {
    m_pace.start(ms);
}

void AgentConsoleWindow::ShowChatLine(const QString& html) {
    // The line is reduced to its text: nothing in it is loaded or run. Its header ("이름 (시각):")
    // stays on a line of its own above the words; a blank line sets it off from the line before.
    if (!m_chat->document()->isEmpty()) m_chat->appendPlainText(QString());
    m_chat->appendPlainText(QTextDocumentFragment::fromHtml(html).toPlainText().trimmed());
}

void AgentConsoleWindow::ShowNotice(const QString& text) {
    m_chat->appendPlainText(QStringLiteral("알림: ") + text);
}

void AgentConsoleWindow::ShowStatus(const QString& text) {
    statusBar()->showMessage(text);
}

void AgentConsoleWindow::ReportError(const QString& text) {
    std::fprintf(stderr, "pelio-agent: %s\n", text.toUtf8().constData());
    statusBar()->showMessage(text, 10000);
}

bool AgentConsoleWindow::AskAcceptFiles(const QStringList& names) {
    return QMessageBox::question(this, QStringLiteral("파일 받기"),
                                 QStringLiteral("고객이 파일을 보내려 합니다.\n\n%1\n\n받으시겠습니까?")
                                     .arg(names.join(u'\n'))) == QMessageBox::Yes;
}

int AgentConsoleWindow::StartScreen() {
    return m_screen ? m_screen->Start() : 0;
}

void AgentConsoleWindow::StopScreen() {
    if (m_screen) m_screen->Stop();
}

void AgentConsoleWindow::Changed() {
    const bool connected = m_session->GetState() == AgentConsoleSession::State::Connected;
    m_input->setEnabled(connected);
    m_sendFiles->setEnabled(connected && m_session->Sharing());
    m_show->setEnabled(connected && m_session->CanShow() && !m_session->Showing());
    m_allowControl->setEnabled(m_show->isEnabled());
    m_stopShow->setEnabled(connected);
    m_changeAgent->setEnabled(connected);
    m_end->setEnabled(connected);
    m_monitor->setEnabled(connected && !m_session->Monitors().isEmpty());
}

void AgentConsoleWindow::ShowMonitors(const QStringList& choices, int chosen) {
    const QSignalBlocker quiet(m_monitor);
    m_monitor->clear();
    m_monitor->addItems(choices);
    m_monitor->setCurrentIndex(chosen);
}

void AgentConsoleWindow::ReadInput() {
    char buffer[4096];
    const ssize_t n = ::read(0, buffer, sizeof buffer);
    if (n <= 0) {
        m_stdin->setEnabled(false);  // the end of the input: the window stays
        return;
    }
    m_stdinBuffer.append(buffer, qsizetype(n));
    qsizetype end;
    while ((end = m_stdinBuffer.indexOf('\n')) >= 0) {
        QByteArray line = m_stdinBuffer.left(end);
        m_stdinBuffer.remove(0, end + 1);
        if (line.endsWith('\r')) line.chop(1);
        m_pending << QString::fromUtf8(line);
    }
    PlayPending();
}

void AgentConsoleWindow::PlayPending() {
    // Lines wait for the customer: the first one, or the one whose lost link is awaited again.
    if (m_session->GetState() == AgentConsoleSession::State::Listening || m_securing ||
        m_session->AwaitsCustomer())
        return;
    while (!m_pending.isEmpty()) PlayLine(m_pending.takeFirst());
}

void AgentConsoleWindow::PlayLine(const QString& line) {
    const qsizetype blank = line.indexOf(u' ');
    const QString command = line.left(blank < 0 ? line.size() : blank);
    const QString argument = blank < 0 ? QString() : line.mid(blank + 1);
    if (command == u"\\end" && argument.isEmpty()) {
        m_end->click();
    } else if (command == u"\\stopshowme" && argument.isEmpty()) {
        m_stopShow->click();
    } else if (command == u"\\showme" && (argument.isEmpty() || argument == u"0" || argument == u"1")) {
        if (!argument.isEmpty()) m_allowControl->setChecked(argument == u"1");
        m_session->ShowMyScreen(m_allowControl->isChecked());
    } else if (command == u"\\offer") {
        m_session->OfferFiles(QProcess::splitCommand(argument));
    } else if (command == u"\\changeagent") {
        m_session->ChangeAgent(argument);
    } else if (command == u"\\chat") {
        m_session->SendChat(argument, QDateTime::currentDateTime());
    } else if (command == u"\\control" && (argument == u"on" || argument == u"off")) {
        m_control->setChecked(argument == u"on");
    } else if (command == u"\\monitor" && session::ParseMonitorIndex(argument)) {
        m_session->ChooseMonitor(*session::ParseMonitorIndex(argument));
    } else if (command == u"\\quit" && argument.isEmpty()) {
        close();
    } else {
        m_session->SendLine(line);
    }
}

void AgentConsoleWindow::OnChatEntered() {
    const QString line = m_input->text();
    m_input->clear();
    m_session->SendChat(line, QDateTime::currentDateTime());
}

void AgentConsoleWindow::OnSendFiles() {
    const QStringList paths = QFileDialog::getOpenFileNames(this, QStringLiteral("보낼 파일 선택"));
    if (!paths.isEmpty()) m_session->OfferFiles(paths);
}

void AgentConsoleWindow::OnChangeAgent() {
    bool ok = false;
    const QString argument = QInputDialog::getText(this, QStringLiteral("상담원 변경"),
                                                   QStringLiteral("새 상담원의 주소 (공인 IP/내부 IP/포트):"),
                                                   QLineEdit::Normal, QString(), &ok);
    if (ok) m_session->ChangeAgent(argument);
}

int RunConsole(int argc, char** argv, const ConsoleSetup& setup) {
    if (!setup.scriptFile.empty() && !QFile::exists(QString::fromStdString(setup.scriptFile))) {
        std::fprintf(stderr, "pelio-agent: cannot read %s\n", setup.scriptFile.c_str());
        return 1;
    }
    QApplication app(argc, argv);
    util::InstallKoreanTranslations(app);  // the message boxes' buttons in Korean, as in the program
    AgentConsoleWindow window(setup);
    if (!window.Listen()) return 1;
    window.show();
    return app.exec();
}

}  // namespace pelio::agent
