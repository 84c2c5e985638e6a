// The session controller and the dispatcher against the fake server component and recording doubles
// of the window and the peers.
#include "SessionFixture.h"

#include <gtest/gtest.h>
#include <QDir>

using namespace pelio;
using namespace pelio::session;
using pelio::session::test::SessionTest;

namespace {

TEST_F(SessionTest, AnAgentWithoutAddressOrPortIsRefusedBeforeAnyQuestion) {
    for (const auto& request : {Pick(QStringLiteral("0")), Pick(QStringLiteral("port")),
                                Pick(QStringLiteral("5500"), QStringLiteral("  "))}) {
        view.calls.clear();
        session->RequestConnect(request);
        EXPECT_EQ(
            view.calls,
            QStringList{QStringLiteral("inform:[새로고침] 후 '지원가능'으로 표시된 상담원을 선택하세요.")});
    }
    session->RequestConnect({});
    EXPECT_TRUE(view.Saw(QStringLiteral("inform:'지원가능'한 상담원을 선택하신 후 [지원요청] 하십시오.")));
    EXPECT_TRUE(component.calls.isEmpty());
}

TEST_F(SessionTest, AnAgentBehindTheCustomersOwnAddressIsReachedLocally) {
    publicIp = QStringLiteral("203.0.113.9");
    session->RequestConnect(Pick(QStringLiteral("5500")));
    EXPECT_TRUE(component.calls.contains(QStringLiteral("Connect 10.0.0.9 5500")));
    EXPECT_EQ(session->CurrentServerIP(), QStringLiteral("10.0.0.9"));
    EXPECT_TRUE(view.Saw(QStringLiteral("agent:접속되었습니다.")));
    EXPECT_TRUE(view.Saw(QStringLiteral("show-connected")));
    EXPECT_TRUE(component.Recording());
}

TEST_F(SessionTest, AFailedConnectionSaysWhatToCheckAndFreesTheList) {
    component.connectResult = false;
    session->RequestConnect(Pick(QStringLiteral("5500")));
    EXPECT_FALSE(session->bConnected());
    EXPECT_TRUE(view.Saw(QStringLiteral("status:연결실패")));
    EXPECT_TRUE(view.Saw(QStringLiteral("enable:Refresh=1")));
    EXPECT_TRUE(view.Saw(QStringLiteral("agent:접속실패 (grey)")));
    const QString message = view.calls.filter(QStringLiteral("inform:")).join(QString());
    EXPECT_TRUE(message.contains(QStringLiteral("([상담원 상태 새로고침] 단추 누름),")));
    // A manual address gives the telephone variant of the first line.
    view.calls.clear();
    EXPECT_FALSE(session->OpenSession(QStringLiteral("10.1.1.1"), 5500));
    EXPECT_TRUE(view.calls.filter(QStringLiteral("inform:"))
                    .join(QString())
                    .contains(QStringLiteral("(전화로 확인),")));
}

TEST_F(SessionTest, TheAdmittedAgentGetsTheGreetingAndABusyOneOnlyAMessage) {
    session->RequestConnect(Pick(QStringLiteral("5500")));
    const int busy = component.SimulateConnected(QStringLiteral("0.0.0.0"));
    EXPECT_FALSE(component.Client(busy)->Allowed());
    EXPECT_TRUE(component.sent.isEmpty());
    EXPECT_TRUE(view.calls.last().startsWith(
        QStringLiteral("inform:현재 상담원이 다른 고객님을 지원중인거 같습니다.\r\n[상담원")));

    const int agent = component.SimulateConnected(QStringLiteral("203.0.113.9"));
    EXPECT_TRUE(component.Client(agent)->Allowed());
    EXPECT_EQ(Sent(), QStringList{QStringLiteral("customer:M1/홍길동//")});
    EXPECT_TRUE(QDir(context.ReceivedFolder).exists());
    // Texts of the link given up earlier are not the session's.
    component.SimulateText(app::EncryptValue(QStringLiteral("url:http://x/")), busy);
    EXPECT_TRUE(Actions().isEmpty());
}

TEST_F(SessionTest, TheConnectedTimeGoesOnInTheSecondSession) {
    Connect();
    for (int i = 0; i < 125; ++i) session->Timer1Tick();
    EXPECT_EQ(view.time, QStringLiteral("2분 5초"));
    component.SimulateDisconnected();
    EXPECT_EQ(peers.calls.count(QStringLiteral("session-ended")), 1);  // the transcript is made whole
    session->Timer1Tick();                                             // the tick that finds the session over
    Connect();
    session->Timer1Tick();
    EXPECT_EQ(view.time, QStringLiteral("2분 7초"));
    EXPECT_EQ(session->ConnectedSeconds(), 127);
}

TEST_F(SessionTest, ADisconnectWhileChangingAgentIsQuiet) {
    Connect();
    view.calls.clear();
    context.PublicIP = publicIp;
    FromAgent(QStringLiteral("changeagent:198.51.100.1/10.0.0.20/5600"));  // behind the customer's address
    EXPECT_TRUE(component.calls.contains(QStringLiteral("Connect 10.0.0.20 5600")));
    EXPECT_TRUE(session->AgentChanging());
    component.SimulateDisconnected();
    for (const char* quiet : {"beep", "restore", "status:연결이 종료되었습니다."})
        EXPECT_FALSE(view.Saw(QString::fromUtf8(quiet))) << quiet;
    component.SimulateConnected(QStringLiteral("10.0.0.20"));
    EXPECT_FALSE(session->AgentChanging());
    EXPECT_EQ(Sent().last(), QStringLiteral("customer:M1/홍길동//"));
    // A change with a port that is not a number does nothing.
    const int connects = component.calls.filter(QStringLiteral("Connect ")).size();
    FromAgent(QStringLiteral("changeagent:1.2.3.4/10.0.0.5/abc"));
    FromAgent(QStringLiteral("changeagent:1.2.3.4/10.0.0.5"));
    EXPECT_EQ(component.calls.filter(QStringLiteral("Connect ")).size(), connects);
}

// A move to an agent that cannot be reached leaves the list usable: the customer asks again.
TEST_F(SessionTest, AFailedChangeOfAgentLetsTheCustomerAskAgain) {
    Connect();
    component.connectResult = false;
    FromAgent(QStringLiteral("changeagent:1.2.3.4/10.0.0.5/5600"));
    EXPECT_FALSE(session->bConnected());
    EXPECT_EQ(session->CurrentState(), SessionController::State::Idle);
    component.connectResult = true;
    const int connects = component.calls.filter(QStringLiteral("Connect ")).size();
    Connect();
    EXPECT_EQ(component.calls.filter(QStringLiteral("Connect ")).size(), connects + 1);
    EXPECT_EQ(session->CurrentState(), SessionController::State::InSession);
    // A move to an agent who turns out busy ends the move: a later one is followed again.
    FromAgent(QStringLiteral("changeagent:1.2.3.4/10.0.0.5/5600"));
    component.SimulateConnected(QStringLiteral("0.0.0.0"));
    EXPECT_FALSE(session->AgentChanging());
}

TEST_F(SessionTest, TheEndButtonClosesTheProgramOnlyInManualMode) {
    Connect();
    session->EndByCustomer();
    EXPECT_EQ(peers.calls.count(QStringLiteral("session-ended")), 1);
    EXPECT_TRUE(view.Saw(QStringLiteral("inform:연결이 종료되었습니다.")));
    EXPECT_TRUE(view.Saw(QStringLiteral("enable:List=1")));
    EXPECT_FALSE(view.Saw(QStringLiteral("close")));
    EXPECT_FALSE(component.Active());

    ASSERT_TRUE(session->OpenSession(QStringLiteral("10.1.1.1"), 5500));
    component.SimulateConnected(QStringLiteral("10.1.1.1"));
    view.calls.clear();
    session->EndByCustomer();
    EXPECT_TRUE(view.Saw(QStringLiteral("close")));
    EXPECT_FALSE(view.Saw(QStringLiteral("enable:List=1")));
}

TEST_F(SessionTest, MessagesReachTheirPeersWhole) {
    Connect();
    FromAgent(QStringLiteral("URL:http://127.0.0.1:8080/a/b?c=d"));
    FromAgent(QStringLiteral("ie"));
    FromAgent(QStringLiteral("shell:xterm -e \"echo 1\""));
    QString line;
    for (int i = 0; i < 650; ++i) line += QChar(u'a' + i % 26);
    FromAgent(QStringLiteral("chat:stale"));
    for (const QString& m : ChatMessages(line)) FromAgent(m);
    FromAgent(QStringLiteral("unknown:thing"));
    EXPECT_EQ(Actions(), (QStringList{QStringLiteral("open:http://127.0.0.1:8080/a/b?c=d"),
                                      QStringLiteral("open:http://svc.example/pelio/"),
                                      QStringLiteral("shell:xterm -e \"echo 1\""),
                                      QStringLiteral("agent-chat:") + line}));
    // Each action on this computer is told, the command line escaped for the chat view.
    EXPECT_EQ(Notices(),
              (QStringList{
                  QStringLiteral("common:8:상담원이 웹 페이지를 열었습니다: http://127.0.0.1:8080/a/b?c=d"),
                  QStringLiteral("common:8:상담원이 웹 페이지를 열었습니다: http://svc.example/pelio/"),
                  QStringLiteral("common:8:상담원이 프로그램을 실행했습니다: xterm -e &quot;echo 1&quot;")}));
    // The customer's own line goes out in the same framing.
    component.sent.clear();
    session->SendChatLine(line);
    EXPECT_EQ(Sent(), ChatMessages(line));
}

TEST_F(SessionTest, AFileOfferIsAnsweredOnlyWhileTheSessionLasts) {
    Connect();
    QString eight;
    for (int i = 1; i <= 8; ++i) eight += QStringLiteral("\r\nf%1.txt").arg(i);
    view.answers = {true};
    FromAgent(QStringLiteral("filename:") + eight);
    EXPECT_TRUE(view.calls.filter(QStringLiteral("ask:")).last().endsWith(QStringLiteral("f6.txt 외 2건")));
    EXPECT_EQ(Sent().last(), QStringLiteral("fileaccepted"));

    // The agent ends the session while the second question waits: no answer goes anywhere.
    view.answers = {false};
    view.onAsk = [this] { FromAgent(QStringLiteral("end")); };
    const qsizetype before = component.sent.size();
    FromAgent(QStringLiteral("filename:\r\nother.txt"));
    EXPECT_EQ(component.sent.size(), before);
    EXPECT_TRUE(view.Saw(QStringLiteral("inform:원격지원이 정상적으로 종료되었습니다. 감사합니다.")));
    EXPECT_FALSE(session->bConnected());
    EXPECT_EQ(peers.calls.count(QStringLiteral("session-ended")), 1);
}

TEST_F(SessionTest, DownloadNamesStayInsideTheReceivedFolder) {
    const QString received = folder.path() + QStringLiteral("/받은 파일");
    for (const char* address : {"http://h/u/..", "http://h/u/../../.bashrc", "http://h/u/..%2F..%2Fx",
                                "http://h/u/", "http://h/u/a\\..\\..\\b"}) {
        const QString path = MessageDispatcher::DownloadTarget(received, QString::fromUtf8(address));
        EXPECT_EQ(QFileInfo(path).absolutePath(), received) << address;
        EXPECT_NE(QFileInfo(path).fileName(), QStringLiteral("..")) << address;
    }
    // A name that cannot be freed (a folder holds it) is saved as "(1)" + name.
    QDir().mkpath(received + QStringLiteral("/report.pdf"));
    EXPECT_EQ(MessageDispatcher::DownloadTarget(received, QStringLiteral("http://h/u/report.pdf")),
              received + QStringLiteral("/(1)report.pdf"));
    Connect();
    AcceptedOffer({QStringLiteral("report.pdf")});
    FromAgent(QStringLiteral("downloadthis:http://h/userfiles/1234/report.pdf"));
    EXPECT_TRUE(context.FileTransferBusy);
    EXPECT_EQ(peers.calls.last(),
              QStringLiteral("download:%1/(1)report.pdf|http://h/userfiles/1234/report.pdf|(1)report.pdf")
                  .arg(received));
}

}  // namespace
