// The rules of the agent's console against a recording port: what is sent, in which order and pace,
// and what is refused.
#include "AgentConsoleSession.h"
#include "app/ValueCipher.h"
#include "server/TextFraming.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using pelio::agent::AgentConsoleSession;
using pelio::agent::ConsoleOptions;
using pelio::agent::ConsolePort;
using State = AgentConsoleSession::State;

namespace {

class RecordingPort : public ConsolePort {
  public:
    void PrintLine(const std::string& line) override { printed.push_back(line); }
    void SendMessage(const QString& plain) override { sent << plain; }
    void StartTimer(int ms) override { timers.push_back(ms); }
    void ShowChatLine(const QString& html) override { chat << html; }
    void ShowNotice(const QString& text) override { chat << QStringLiteral("알림:") + text; }
    void ShowStatus(const QString& text) override { status = text; }
    void ReportError(const QString& text) override { errors << text; }
    bool AskAcceptFiles(const QStringList& names) override {
        asked << names;
        return answer;
    }
    int StartScreen() override { return ++screenStarts, screenPort; }
    void StopScreen() override { ++screenStops; }
    void Changed() override {}
    void ShowMonitors(const QStringList& list, int chosen) override {
        choices = list;
        chosenMonitor = chosen;
    }
    qint64 NowMs() const override { return now; }

    qint64 now = 0;
    std::vector<std::string> printed;
    QStringList choices;
    int chosenMonitor = -1;
    QStringList sent, chat, errors, asked;
    std::vector<int> timers;
    QString status;
    bool answer = true;
    int screenPort = 5901, screenStarts = 0, screenStops = 0;
};

class ConsoleRules : public ::testing::Test {
  protected:
    void Start(ConsoleOptions options = {}) {
        session = std::make_unique<AgentConsoleSession>(
            std::move(options), port, [this](const std::string& line) { files.push_back(line); });
        session->OnListening(5500);
        session->OnConnected("127.0.0.1");
    }
    // A message of the customer, encrypted and framed as the server component sends it.
    void Receive(const QString& plain) {
        for (const std::string& piece :
             pelio::framing::SplitText(pelio::app::EncryptValue(plain).toStdString()))
            session->OnChatMessage(piece);
    }
    // Runs the pace timer until the outbox is empty.
    void DrainTimers() {
        for (std::size_t done = 0; done < port.timers.size(); ++done) session->OnTimer();
    }

    RecordingPort port;
    std::vector<std::string> files;
    std::unique_ptr<AgentConsoleSession> session;
};

}  // namespace

TEST_F(ConsoleRules, GreetingAndChatOfTheCustomerAndAPacedLineWithTheEndBehindIt) {
    Start();
    Receive(QStringLiteral("customer:M1/홍길동/010-1234-5678/hong"));
    EXPECT_TRUE(port.status.contains(QStringLiteral("홍길동")) &&
                port.status.contains(QStringLiteral("010-1234-5678")));
    Receive(QStringLiteral("chatstart"));
    Receive(QStringLiteral("chat:<b>안녕</b>"));
    Receive(QStringLiteral("chatend"));
    EXPECT_EQ(port.chat, QStringList{QStringLiteral("<b>안녕</b>")});  // shown as it came, no name added
    EXPECT_EQ(port.printed.back(), "chat <b>안녕</b>");

    // Two pieces: the end pressed meanwhile waits until the line is through.
    session->SendChat(QString(400, u'x'), QDateTime(QDate(2026, 12, 8), QTime(13, 5, 9)));
    session->End();
    ASSERT_EQ(port.sent.size(), 2);
    EXPECT_EQ(port.sent[0], QStringLiteral("chatstart"));
    DrainTimers();
    ASSERT_GE(port.sent.size(), 5);
    EXPECT_EQ(port.sent.mid(port.sent.size() - 2),
              (QStringList{QStringLiteral("chatend"), QStringLiteral("end")}));
    EXPECT_EQ(port.timers.back(), 60);
    // The line carries the header of the customer's lines with the agent's name and the time, as the
    // customer's program shows and keeps it.
    QString line;
    for (const QString& piece : port.sent.mid(1, port.sent.size() - 3)) line += piece.mid(5);  // "chat:"
    EXPECT_TRUE(line.startsWith(
        QStringLiteral("\r\n<br><font size=2 color=#0000FF>상담원 (2026-12-08 오후 1:05:09)</font>:<br>")))
        << line.toStdString();
    EXPECT_TRUE(line.contains(QString(400, u'x')) && line.endsWith(QStringLiteral("<br>\r\n")));
    EXPECT_EQ(port.chat.last(), line);

    session->OnDisconnected();
    EXPECT_EQ(session->GetState(), State::Ended);
    session->End();
    EXPECT_EQ(port.sent.size(), 5);
    EXPECT_EQ(port.errors.size(), 1);
}

// The customer of a lost link dials again: the same session goes on, within 60 s and with the same
// machine code only; an ended session is not awaited.
TEST_F(ConsoleRules, TheCustomerOfALostLinkComesBackToTheSameSession) {
    Start();
    Receive(QStringLiteral("customer:M1/홍길동/010/hong"));
    Receive(QStringLiteral("chatstart"));
    Receive(QStringLiteral("chat:<b>cut"));  // a line cut off with the link
    port.now = 1000;
    session->OnDisconnected();
    EXPECT_TRUE(session->AwaitsCustomer());
    session->SendChat(QStringLiteral("waiting"),
                      QDateTime::currentDateTime());  // nobody to send to meanwhile
    EXPECT_TRUE(port.sent.isEmpty());

    port.now = 50000;
    EXPECT_FALSE(session->OnConnected("127.0.0.1"));
    EXPECT_EQ(session->GetState(), State::Connected);
    Receive(QStringLiteral("customer:M1/홍길동/010/hong"));
    EXPECT_EQ(port.printed.back(), "reconnected M1");
    EXPECT_EQ(port.chat.back(), QStringLiteral("알림:고객이 다시 연결되었습니다."));
    Receive(QStringLiteral("chatend"));  // ends nothing: the cut line was not continued
    EXPECT_EQ(port.chat.size(), 1);

    // Too late: a new session, no word of a return.
    session->OnDisconnected();
    port.now += 60000;
    EXPECT_FALSE(session->AwaitsCustomer());
    // The agent's end: nobody is awaited.
    session = std::make_unique<AgentConsoleSession>(ConsoleOptions{}, port, [](const std::string&) {});
    session->OnConnected("127.0.0.1");
    Receive(QStringLiteral("customer:M1/홍길동/010/hong"));
    session->End();
    session->OnDisconnected();
    EXPECT_FALSE(session->AwaitsCustomer());
    // Another customer after a lost link is greeted as any.
    session = std::make_unique<AgentConsoleSession>(ConsoleOptions{}, port, [](const std::string&) {});
    session->OnConnected("127.0.0.1");
    Receive(QStringLiteral("customer:M1/홍길동/010/hong"));
    session->OnDisconnected();
    session->OnConnected("127.0.0.1");
    Receive(QStringLiteral("customer:M2/김철수/011/kim"));
    EXPECT_TRUE(port.printed.back().rfind("greeting M2", 0) == 0);
}

TEST_F(ConsoleRules, TheCustomersOfferIsAnsweredByTheOptionOrByAsking) {
    Start();
    port.answer = false;
    Receive(QStringLiteral("filename:\r\n견적서.txt\r\nb.bin"));
    EXPECT_EQ(port.asked, (QStringList{QStringLiteral("견적서.txt"), QStringLiteral("b.bin")}));
    EXPECT_EQ(port.sent, QStringList{QStringLiteral("filerefused")});

    ConsoleOptions accepting;
    accepting.files.answer = QStringLiteral("accept");
    port = RecordingPort();
    Start(accepting);
    Receive(QStringLiteral("filename:\r\na.txt"));
    EXPECT_TRUE(port.asked.isEmpty());
    EXPECT_EQ(port.sent, QStringList{QStringLiteral("fileaccepted")});
}

TEST_F(ConsoleRules, OfferedFilesAreSharedOnAcceptance) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("설명 \"새\".txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("abc");
    file.close();
    ConsoleOptions options;
    options.files.shareDir = dir.filePath(QStringLiteral("share"));
    options.files.shareUrl = QStringLiteral("http://127.0.0.1:1/userfiles/");
    Start(options);
    session->OfferFiles({dir.filePath(QStringLiteral("없음.txt"))});
    EXPECT_TRUE(port.sent.isEmpty());
    EXPECT_EQ(port.errors.size(), 1);
    session->OfferFiles({path});
    EXPECT_EQ(port.sent, QStringList{QStringLiteral("filename:\r\n설명 \"새\".txt")});
    Receive(QStringLiteral("fileaccepted"));
    EXPECT_EQ(port.sent.mid(1),
              (QStringList{QStringLiteral("lastfile:설명 \"새\".txt"),
                           QStringLiteral("downloadthis:http://127.0.0.1:1/userfiles/설명 \"새\".txt")}));
    EXPECT_TRUE(QFile::exists(QDir(options.files.shareDir).filePath(QStringLiteral("설명 \"새\".txt"))));
}

TEST_F(ConsoleRules, ShowingTheAgentsScreenAndStoppingIt) {
    ConsoleOptions options;
    options.screen = true;
    options.agentName = QStringLiteral("김상담");  // --name
    Start(options);
    port.screenPort = 0;  // the server did not come up: nothing is sent
    session->ShowMyScreen(true);
    EXPECT_TRUE(port.sent.isEmpty());
    EXPECT_FALSE(session->Showing());
    port.screenPort = 5901;
    session->ShowMyScreen(false);
    EXPECT_EQ(port.sent, QStringList{QStringLiteral("showme:김상담#;#0#;#127.0.0.1#;#5901")});
    session->StopShowing();
    EXPECT_EQ(port.sent.last(), QStringLiteral("stopshowme"));
    EXPECT_EQ(port.screenStops, 1);
    session->ShowMyScreen(true);
    session->OnDisconnected();  // the server goes with the session
    EXPECT_EQ(port.screenStops, 2);
}

TEST_F(ConsoleRules, BusyAnswersAndSendsNothing) {
    ConsoleOptions options;
    options.busy = true;
    session = std::make_unique<AgentConsoleSession>(options, port, [](const std::string&) {});
    EXPECT_TRUE(session->OnConnected("127.0.0.1"));
    EXPECT_EQ(session->GetState(), State::Busy);
    Receive(QStringLiteral("chatstart"));
    session->SendChat(QStringLiteral("hi"), QDateTime::currentDateTime());
    session->ChangeAgent(QStringLiteral("1.2.3.4/10.0.0.1/5500"));
    EXPECT_TRUE(port.sent.isEmpty());
    EXPECT_EQ(port.printed, (std::vector<std::string>{"connected 127.0.0.1"}));
}

TEST_F(ConsoleRules, TheCustomersMonitorsAreChosenFromAndANewLayoutKeepsTheChoiceWhileItLasts) {
    Start();
    Receive(QStringLiteral("monitors:0,0,1920x1080;1920,0,1280x1024"));
    EXPECT_EQ(port.choices, (QStringList{QStringLiteral("전체 화면"), QStringLiteral("모니터 1 (1920x1080)"),
                                         QStringLiteral("모니터 2 (1280x1024)")}));
    session->ChooseMonitor(2);
    session->ChooseMonitor(3);  // not in the list: refused
    EXPECT_EQ(port.sent, QStringList{QStringLiteral("monitor:2")});
    EXPECT_EQ(port.errors.size(), 1);
    EXPECT_EQ(port.chosenMonitor, 2);
    // The chosen monitor is listed first now; then it is gone, and the customer shows the whole desktop.
    Receive(QStringLiteral("monitors:1920,0,1280x1024;0,0,1920x1080"));
    EXPECT_EQ(session->ChosenMonitor(), 1);
    EXPECT_EQ(port.chosenMonitor, 1);
    Receive(QStringLiteral("monitors:0,0,1920x1080;3200,0,800x600"));
    EXPECT_EQ(port.chosenMonitor, 0);
    // A malformed list is no list.
    Receive(QStringLiteral("monitors:0,0,1920x1080;junk"));
    EXPECT_TRUE(session->Monitors().isEmpty());
    EXPECT_EQ(port.choices, QStringList{QStringLiteral("전체 화면")});
}
