// What an agent's messages may do: actions refused do nothing at all, files come only inside an
// accepted offer, a move goes only to a listed agent, and what a peer feeds is bounded.
#include "SessionFixture.h"

#include <gtest/gtest.h>

using namespace pelio;
using namespace pelio::session;
using pelio::session::test::SessionTest;

namespace {

TEST_F(SessionTest, OnlyWebAndMailAddressesAreOpened) {
    Connect();
    for (const char* address :
         {"/usr/bin/xterm", "file:///usr/bin/xterm", "FILE:/etc/passwd", "javascript:alert(1)",
          "smb://host/share", "c:\\windows\\system32\\calc.exe", "\x01http://x/", ""})
        FromAgent(QStringLiteral("url:") + QString::fromUtf8(address));
    EXPECT_TRUE(Actions().isEmpty()) << Actions().join(u'\n').toStdString();
    EXPECT_EQ(Notices().size(), 8);
    EXPECT_TRUE(Notices().first().startsWith(QStringLiteral("common:4:상담원이 보낸 주소는 열 수 없는")));

    FromAgent(QStringLiteral("url:  HTTPS://example.com/a "));
    FromAgent(QStringLiteral("url:mailto:help@example.com"));
    FromAgent(QStringLiteral("url:http://h/설명서 최신.txt"));  // blanks as agents send them
    EXPECT_EQ(Actions(), (QStringList{QStringLiteral("open:HTTPS://example.com/a"),
                                      QStringLiteral("open:mailto:help@example.com"),
                                      QStringLiteral("open:http://h/설명서 최신.txt")}));
}

TEST_F(SessionTest, ThePolicyRefusesOrAsksBeforeAnAction) {
    Connect();
    dispatcher->Policy().Set(RemoteAction::RunProgram, Verdict::Refuse);
    FromAgent(QStringLiteral("shell:rm -rf ~"));
    dispatcher->Policy().Set(RemoteAction::OpenAddress, Verdict::Ask);
    view.answers = {false, true};
    FromAgent(QStringLiteral("url:http://a/"));
    FromAgent(QStringLiteral("url:http://b/"));
    EXPECT_EQ(Actions(), QStringList{QStringLiteral("open:http://b/")});
    EXPECT_EQ(view.calls.filter(QStringLiteral("허용하시겠습니까?")).size(), 2);
    EXPECT_EQ(Notices().filter(QStringLiteral("허용하지 않았습니다")).size(), 2);
    // The session that ends while the customer is asked acts on nothing.
    view.onAsk = [this] { FromAgent(QStringLiteral("end")); };
    FromAgent(QStringLiteral("url:http://c/"));
    EXPECT_FALSE(Actions().contains(QStringLiteral("open:http://c/")));
}

TEST_F(SessionTest, FilesArriveOnlyInsideAnAcceptedOffer) {
    Connect();
    // Answers to an offer the customer did not make tell nothing and raise no message box.
    peers.offerWaiting = false;
    FromAgent(keyword::kFileAccepted);
    FromAgent(keyword::kFileRefused);
    EXPECT_TRUE(Notices().isEmpty());
    EXPECT_TRUE(view.calls.filter(QStringLiteral("inform:")).isEmpty());
    const QString address = QStringLiteral("downloadthis:http://h/userfiles/1234/");
    FromAgent(address + QStringLiteral("a.txt"));  // no offer
    view.answers = {false};
    FromAgent(FileOfferMessage({QStringLiteral("a.txt")}));
    FromAgent(address + QStringLiteral("a.txt"));  // offer refused
    EXPECT_TRUE(Actions().filter(QStringLiteral("download:")).isEmpty());

    // Two files offered and accepted; twenty asked for: the two offered names land, once each.
    AcceptedOffer({QStringLiteral("보고서 1.pdf"), QStringLiteral("b.txt")});
    const qsizetype notices = Notices().size();
    FromAgent(address + QStringLiteral("%EB%B3%B4%EA%B3%A0%EC%84%9C%201.pdf"));
    for (int i = 0; i < 17; ++i) FromAgent(address + QStringLiteral("other%1.exe").arg(i));
    FromAgent(address + QStringLiteral("b.txt"));
    FromAgent(address + QStringLiteral("b.txt"));
    const QStringList downloads = Actions().filter(QStringLiteral("download:"));
    ASSERT_EQ(downloads.size(), 2);
    EXPECT_TRUE(downloads[1].endsWith(QStringLiteral("|b.txt")));
    EXPECT_EQ(Notices().mid(notices).filter(QStringLiteral("받지 않았습니다")).size(), 18);
    EXPECT_EQ(Notices().mid(notices).filter(QStringLiteral("common:8:상담원이 보낸 파일을 받습니다")).size(),
              2);
    EXPECT_EQ(QDir(context.ReceivedFolder).entryList(QDir::Files), QStringList());  // nothing written here
    // An address that is not http: or https: is refused even when the name was offered.
    AcceptedOffer({QStringLiteral("c.txt")});
    FromAgent(QStringLiteral("downloadthis:file:///etc/c.txt"));
    FromAgent(QStringLiteral("downloadthis:ftp://h/c.txt"));
    EXPECT_EQ(Actions().filter(QStringLiteral("download:")).size(), 2);
}

TEST_F(SessionTest, AnOfferOfTooManyFilesIsRefusedWithoutAQuestion) {
    Connect();
    QStringList names;
    for (int i = 0; i <= AgentFileBatch::kMaxOfferedFiles; ++i) names << QStringLiteral("f%1").arg(i);
    FromAgent(FileOfferMessage(names));
    EXPECT_TRUE(view.calls.filter(QStringLiteral("전송 받으시겠습니까?")).isEmpty());
    EXPECT_EQ(Sent().last(), keyword::kFileRefused);
}

TEST_F(SessionTest, TheSessionMovesOnlyToAListedAgent) {
    Connect();
    context.PublicIP = publicIp;
    const int connects = component.calls.filter(QStringLiteral("Connect ")).size();
    FromAgent(QStringLiteral("changeagent:203.0.113.50/10.0.0.50/5600"));  // not listed
    FromAgent(QStringLiteral("changeagent:1.2.3.4/10.0.0.5/5601"));        // listed address, other port
    listed.reset();                                                        // the list cannot be had
    FromAgent(QStringLiteral("changeagent:1.2.3.4/10.0.0.5/5600"));
    EXPECT_EQ(component.calls.filter(QStringLiteral("Connect ")).size(), connects);
    EXPECT_EQ(session->CurrentState(), SessionController::State::InSession);
    EXPECT_EQ(Notices().filter(QStringLiteral("거절했습니다")).size(), 3);

    listed =
        QList<ListedAgent>{{QStringLiteral("박철수"), QStringLiteral("1.2.3.4"), QStringLiteral("10.0.0.5"),
                            QStringLiteral("5600"), QStringLiteral("sha256//listed")}};
    FromAgent(QStringLiteral("changeagent:1.2.3.4/10.0.0.5/5600"));
    EXPECT_TRUE(component.calls.contains(QStringLiteral("Connect 1.2.3.4 5600 pin sha256//listed")));
    EXPECT_EQ(Notices().last(), QStringLiteral("common:8:상담원이 박철수 상담원에게 연결을 넘깁니다."));
}

TEST_F(SessionTest, AnEndlessChatLineIsNotKept) {
    Connect();
    const QString piece(8 * 1024, u'x');
    for (int i = 0; i < 30; ++i) FromAgent(QStringLiteral("chat:") + piece);
    EXPECT_TRUE(dispatcher->Chat().Text().isEmpty());
    EXPECT_TRUE(dispatcher->Chat().Overflowed());
    FromAgent(keyword::kChatEnd);
    EXPECT_TRUE(Actions().filter(QStringLiteral("agent-chat:")).isEmpty());
    EXPECT_TRUE(Notices().last().contains(QStringLiteral("너무 길어")));
    // The next line is shown again.
    for (const QString& m : ChatMessages(QStringLiteral("안녕하세요"))) FromAgent(m);
    EXPECT_EQ(Actions().last(), QStringLiteral("agent-chat:안녕하세요"));
}

// Messages that pile up while the customer is asked, past the backlog's bound, cost the agent its link.
TEST_F(SessionTest, APeerThatOutrunsTheBacklogLosesTheLink) {
    Connect();
    dispatcher->Policy().Set(RemoteAction::RunProgram, Verdict::Ask);
    int asked = 0;
    view.onAsk = [&] {
        if (++asked < MessageDispatcher::kMaxDepth) {
            FromAgent(QStringLiteral("shell:true"));  // each question nests the next one
        } else if (asked == MessageDispatcher::kMaxDepth) {
            for (size_t i = 0; i <= MessageDispatcher::kBacklogLimit && session->InSession(); ++i)
                FromAgent(QStringLiteral("ime"));
        }
    };
    FromAgent(QStringLiteral("shell:true"));
    EXPECT_EQ(asked, MessageDispatcher::kMaxDepth);
    EXPECT_EQ(session->CurrentState(), SessionController::State::Idle);
    EXPECT_FALSE(component.Active());
    EXPECT_TRUE(Actions().filter(QStringLiteral("ime")).isEmpty());  // nothing queued ran after the end
}

TEST_F(SessionTest, TheAgentChoosesAmongTheMonitorsItWasToldOf) {
    const QRect left(0, 0, 1920, 1080), right(1920, 0, 1280, 1024), third(3200, 0, 800, 600);
    component.monitors = {left, right};
    Connect();
    const QStringList sent = Sent();
    ASSERT_EQ(sent.size(), 2);
    EXPECT_TRUE(sent[0].startsWith(QStringLiteral("customer:")));
    EXPECT_EQ(sent[1], QStringLiteral("monitors:0,0,1920x1080;1920,0,1280x1024"));

    FromAgent(QStringLiteral("monitor:2"));
    EXPECT_EQ(component.shownMonitor, 2);
    EXPECT_EQ(Notices(),
              QStringList{QStringLiteral("common:8:상담원이 모니터 2 (1280x1024) 화면만 봅니다.")});
    // Bad or out-of-range arguments change nothing and tell nothing.
    component.calls.clear();
    peers.calls.clear();
    for (const char* bad : {"monitor:3", "monitor:-1", "monitor:x", "monitor:", "monitor:1;2", "MONITOR:99"})
        FromAgent(QString::fromLatin1(bad));
    EXPECT_TRUE(component.calls.filter(QStringLiteral("ShowMonitor")).isEmpty());
    EXPECT_TRUE(Notices().isEmpty());

    // The agent numbers the list it was told of: a monitor gone since is not shown, and one that moved
    // in the screen's list is found where it is now.
    component.monitors = {right};
    FromAgent(QStringLiteral("monitor:1"));
    EXPECT_TRUE(component.calls.filter(QStringLiteral("ShowMonitor")).isEmpty());
    FromAgent(QStringLiteral("monitor:2"));
    EXPECT_EQ(component.calls.filter(QStringLiteral("ShowMonitor")),
              QStringList{QStringLiteral("ShowMonitor 1")});

    // A new layout is told again, and its numbers count from then on.
    component.SimulateMonitorsChanged({right, left, third});
    EXPECT_EQ(Sent().last(), QStringLiteral("monitors:1920,0,1280x1024;0,0,1920x1080;3200,0,800x600"));
    FromAgent(QStringLiteral("monitor:3"));
    EXPECT_EQ(component.shownMonitor, 3);
    FromAgent(QStringLiteral("monitor:0"));
    EXPECT_EQ(component.shownMonitor, 0);
    EXPECT_EQ(Notices().last(), QStringLiteral("common:8:상담원이 전체 화면을 봅니다."));

    dispatcher->Policy().Set(RemoteAction::ShowMonitor, Verdict::Refuse);
    FromAgent(QStringLiteral("monitor:1"));
    EXPECT_EQ(component.shownMonitor, 0);
    EXPECT_TRUE(Notices().last().contains(QStringLiteral("허용하지 않았습니다: 모니터 1 (1280x1024)")));
}

TEST_F(SessionTest, AScreenOfOneMonitorIsNotToldAndNoMonitorIsChosen) {
    component.monitors = {QRect(0, 0, 1280, 800)};
    Connect();
    EXPECT_TRUE(Sent().filter(QStringLiteral("monitors")).isEmpty());
    FromAgent(QStringLiteral("monitor:1"));
    EXPECT_TRUE(component.calls.filter(QStringLiteral("ShowMonitor")).isEmpty());
    // A second monitor plugged in is told.
    component.SimulateMonitorsChanged({QRect(0, 0, 1280, 800), QRect(1280, 0, 1024, 768)});
    EXPECT_EQ(Sent().last(), QStringLiteral("monitors:0,0,1280x800;1280,0,1024x768"));
}

TEST_F(SessionTest, TheStateChangesOnlyAlongItsTable) {
    using S = SessionController::State;
    using E = SessionController::Event;
    EXPECT_EQ(SessionController::Next(S::Idle, E::Admitted), std::nullopt);  // a link nobody made
    EXPECT_EQ(SessionController::Next(S::Connecting, E::Open), std::nullopt);
    EXPECT_EQ(SessionController::Next(S::Moving, E::Ended), std::nullopt);
    EXPECT_EQ(SessionController::Next(S::MovedWaiting, E::Busy), S::Waiting);
    EXPECT_EQ(SessionController::Next(S::Waiting, E::Move), std::nullopt);  // only an admitted agent moves
}

}  // namespace
