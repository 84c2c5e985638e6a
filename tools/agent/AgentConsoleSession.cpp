#include "AgentConsoleSession.h"

#include "AgentLines.h"
#include "app/ValueCipher.h"
#include "transfer/ChatHtml.h"

#include <utility>

namespace pelio::agent {

namespace {

// A path for AgentFiles::Offer, which splits its arguments as a command line does.
QString Quoted(QString path) {
    return u'"' + path.replace(u'"', QStringLiteral("\"\"\"")) + u'"';
}

}  // namespace

AgentConsoleSession::AgentConsoleSession(ConsoleOptions options, ConsolePort& port, AgentFiles::Print files)
    : m_options(std::move(options)), m_port(port), m_files(m_options.files, std::move(files)) {}

void AgentConsoleSession::OnListening(int port) {
    m_port.PrintLine("listening " + std::to_string(port));
    m_port.ShowStatus(QStringLiteral("%1번 포트에서 고객의 연결을 기다립니다.").arg(port));
}

bool AgentConsoleSession::AwaitsCustomer() const {
    return m_state == State::Ended && m_rejoin.Awaited(m_port.NowMs());
}

bool AgentConsoleSession::OnConnected(const std::string& address) {
    if (m_state != State::Listening && !AwaitsCustomer()) return false;
    // Nothing cut off with the last link continues on this one.
    m_assembler = framing::TextAssembler();
    m_chatOpen = false;
    m_port.PrintLine("connected " + address);
    m_state = m_options.busy ? State::Busy : State::Connected;
    m_port.ShowStatus(m_options.busy
                          ? QStringLiteral("다른 고객을 지원 중이라고 응답합니다.")
                          : QStringLiteral("고객이 연결되었습니다: ") + QString::fromStdString(address));
    m_port.Changed();
    return m_options.busy;
}

void AgentConsoleSession::OnSecured(const QString& checkCode, const QString& pin) {
    m_port.PrintLine(SecureLine(checkCode, pin));
    m_port.ShowStatus(
        QStringLiteral("보안 연결 확인 코드 %1: 고객 화면의 코드와 같은지 확인하세요.").arg(checkCode));
}

void AgentConsoleSession::OnBusyAnswered() {
    m_port.PrintLine("busy");
}

void AgentConsoleSession::OnScreen(int width, int height) {
    m_port.PrintLine("screen " + std::to_string(width) + "x" + std::to_string(height));
}

void AgentConsoleSession::OnChatMessage(const std::string& message) {
    if (m_state != State::Connected) return;
    std::string complete;
    if (!m_assembler.Feed(message, complete)) return;
    const QString plain = app::DecryptValue(QString::fromUtf8(complete.data(), qsizetype(complete.size())));
    if (plain.isEmpty() && !complete.empty()) {
        m_port.PrintLine("undecryptable " + EscapeText(complete));
        return;
    }
    m_port.PrintLine("message " + EscapeText(plain.toStdString()));
    OnMessage(plain);
}

void AgentConsoleSession::OnMessage(const QString& plain) {
    if (const auto greeting = session::ParseGreeting(plain)) {
        m_port.PrintLine(GreetingLine(greeting->machineCode, greeting->customerName, greeting->customerPhone,
                                      greeting->accountId));
        if (m_rejoin.Greeted(greeting->machineCode, m_port.NowMs())) {
            m_port.PrintLine("reconnected " + EscapeText(greeting->machineCode.toStdString()));
            const QString text = QStringLiteral("고객이 다시 연결되었습니다.");
            m_port.ShowNotice(text);
            m_port.ShowStatus(text);
            return;
        }
        m_port.ShowStatus(
            QStringLiteral("고객: %1 (전화 %2)").arg(greeting->customerName, greeting->customerPhone));
        return;
    }
    namespace keyword = session::keyword;
    const session::SessionMessage message = session::SplitMessage(plain);
    if (message.keyword == keyword::kMonitors) {
        const QRect chosen = m_monitor > 0 ? m_monitors.value(m_monitor - 1) : QRect();
        m_monitors = session::ParseMonitors(message.argument).value_or(QList<QRect>());
        m_monitor = chosen.isNull() ? 0 : int(m_monitors.indexOf(chosen)) + 1;
        m_port.ShowMonitors(MonitorChoices(m_monitors), m_monitor);
        m_port.Changed();
        return;
    }
    if (message.keyword == keyword::kChatStart) {
        m_chat.Start();
        m_chatOpen = true;
    } else if (message.keyword == keyword::kChat) {
        m_chat.Append(message.argument);
        m_chatOpen = true;
    } else if (message.keyword == keyword::kChatEnd && m_chatOpen) {
        m_chatOpen = false;
        const QString line = m_chat.Take();
        m_port.PrintLine(ChatLine(line));
        m_port.ShowChatLine(line);
    }
    CommandMessages answers;
    for (const QString& answer : m_files.OnMessage(plain)) answers.messages.push_back({answer, 0});
    if (message.keyword == keyword::kFileName && m_options.files.answer.isEmpty()) {
        const QStringList names = session::OfferedFiles(message.argument);
        // The question lets events run: the session may have ended before the answer.
        const bool accept = !names.isEmpty() && m_port.AskAcceptFiles(names);
        answers.messages.push_back({accept ? keyword::kFileAccepted : keyword::kFileRefused, 0});
    } else if (message.keyword == keyword::kFileName) {
        m_port.ShowNotice(QStringLiteral("고객이 보내는 파일: ") +
                          session::OfferedFiles(message.argument).join(QStringLiteral(", ")));
    }
    if (m_state == State::Connected) Queue(answers);
}

void AgentConsoleSession::OnDisconnected() {
    if (m_state == State::Ended) return;
    m_state = State::Ended;
    m_outbox.clear();
    if (m_showing) m_port.StopScreen();
    m_showing = false;
    m_port.PrintLine("disconnected");
    m_port.ShowStatus(m_rejoin.LinkEnded(m_port.NowMs())
                          ? QStringLiteral("연결이 끊어졌습니다. 고객이 다시 연결하기를 기다립니다.")
                          : QStringLiteral("연결이 끊어졌습니다."));
    m_port.Changed();
}

void AgentConsoleSession::OnTimer() {
    m_paused = false;
    Pump();
}

void AgentConsoleSession::OnFilesLine(const std::string& line) {
    m_port.PrintLine(line);
    const QString text = QString::fromStdString(line);
    static const QString fetched = QStringLiteral("fetched ");
    if (text.startsWith(fetched)) {
        // "fetched NAME SIZE SHA256": the name may hold blanks, the last two words do not.
        QStringList words = text.mid(fetched.size()).split(u' ');
        if (words.size() >= 3) {
            words.removeLast();
            const QString size = words.takeLast();
            m_port.ShowNotice(QStringLiteral("받은 파일: %1 (%2 바이트)").arg(words.join(u' '), size));
        }
    } else if (line == "offer accepted") {
        m_port.ShowNotice(QStringLiteral("고객이 파일을 받습니다."));
    } else if (line == "offer refused") {
        m_port.ShowNotice(QStringLiteral("고객이 파일 받기를 거절했습니다."));
    } else {
        m_port.ShowNotice(text);
    }
}

bool AgentConsoleSession::Ready() {
    if (m_state == State::Connected) return true;
    m_port.ReportError(QStringLiteral("고객과 연결되어 있지 않습니다."));
    return false;
}

void AgentConsoleSession::Queue(const CommandMessages& messages) {
    if (messages.refused()) {
        m_port.ReportError(messages.error);
        return;
    }
    for (const OutgoingMessage& message : messages.messages) m_outbox.push_back(message);
    Pump();
}

void AgentConsoleSession::Pump() {
    while (!m_paused && m_state == State::Connected && !m_outbox.empty()) {
        const OutgoingMessage message = m_outbox.front();
        m_outbox.pop_front();
        m_port.SendMessage(message.text);
        if (message.pauseAfterMs > 0) {
            m_paused = true;
            m_port.StartTimer(message.pauseAfterMs);
        }
    }
}

void AgentConsoleSession::SendChat(const QString& text, const QDateTime& now) {
    if (!Ready() || text.trimmed().isEmpty()) return;
    const QString line = transfer::AgentChatLineHtml(m_options.agentName, now,
                                                     transfer::GetHtml(text, transfer::ChatInputStyle{}));
    m_port.ShowChatLine(line);
    Queue(ChatLineMessages(line));
}

void AgentConsoleSession::OfferFiles(const QStringList& paths) {
    if (!Ready()) return;
    if (!m_files.Sharing()) {
        m_port.ReportError(QStringLiteral("파일을 보내려면 --share DIR URL 로 시작하세요."));
        return;
    }
    QStringList quoted;
    for (const QString& path : paths) quoted << Quoted(path);
    const CommandMessages offer = m_files.Offer(quoted.join(u' '));
    if (!offer.refused()) m_port.ShowNotice(QStringLiteral("파일을 보냅니다: %1개").arg(paths.size()));
    Queue(offer);
}

void AgentConsoleSession::ShowMyScreen(bool allowControl) {
    if (!Ready()) return;
    if (!m_options.screen) {
        m_port.ReportError(QStringLiteral("화면을 보여주려면 --screen DISPLAY 로 시작하세요."));
        return;
    }
    const int port = m_port.StartScreen();
    if (port <= 0) {
        m_port.ReportError(QStringLiteral("화면 서버를 시작하지 못했습니다."));
        return;
    }
    m_showing = true;
    m_port.PrintLine("showing " + std::to_string(port));
    const QStringList fields{m_options.agentName, allowControl ? QStringLiteral("1") : QStringLiteral("0"),
                             QString::fromStdString(m_options.bindAddress), QString::number(port)};
    Queue(CommandMessages{{{session::ShowMeMessage(fields), 0}}, {}});
    m_port.Changed();
}

void AgentConsoleSession::StopShowing() {
    if (!Ready()) return;
    Queue(MessagesForLine(QStringLiteral("\\stopshowme")));
    if (m_showing) m_port.StopScreen();
    m_showing = false;
    m_port.Changed();
}

void AgentConsoleSession::ChangeAgent(const QString& argument) {
    if (!Ready()) return;
    if (!session::ParseChangeAgent(argument.trimmed(), QString())) {
        m_port.ReportError(QStringLiteral("PUBLIC/LOCAL/PORT 형식으로 입력하세요."));
        return;
    }
    Queue(MessagesForLine(QStringLiteral("\\changeagent ") + argument.trimmed()));
}

QStringList AgentConsoleSession::MonitorChoices(const QList<QRect>& monitors) {
    QStringList choices{QStringLiteral("전체 화면")};
    for (qsizetype i = 0; i < monitors.size(); ++i)
        choices << QStringLiteral("모니터 %1 (%2x%3)")
                       .arg(i + 1)
                       .arg(monitors[i].width())
                       .arg(monitors[i].height());
    return choices;
}

void AgentConsoleSession::ChooseMonitor(int index) {
    if (!Ready()) return;
    if (index < 0 || index > m_monitors.size()) {
        m_port.ReportError(QStringLiteral("고객의 모니터 목록에 없는 번호입니다: %1").arg(index));
        return;
    }
    m_monitor = index;
    m_port.ShowMonitors(MonitorChoices(m_monitors), m_monitor);
    Queue(CommandMessages{{{session::MonitorMessage(index), 0}}, {}});
}

void AgentConsoleSession::End() {
    if (!Ready()) return;
    m_rejoin.EndedByAgent();
    Queue(MessagesForLine(QStringLiteral("\\end")));
}

void AgentConsoleSession::SendLine(const QString& line) {
    if (!Ready()) return;
    Queue(MessagesForLine(line));
}

}  // namespace pelio::agent
