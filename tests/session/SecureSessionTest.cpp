// How the session treats the agent's key: a verified agent's check code is shown, an unverified
// agent is told as such and asked about, a key that does not match connects to nothing, and the
// setting that allows verified agents only.
#include "SessionFixture.h"

#include "util/core/TextFiles.h"

#include <gtest/gtest.h>

using namespace pelio;
using namespace pelio::session;
using pelio::session::test::SessionTest;

namespace {

TEST_F(SessionTest, AVerifiedAgentShowsItsCodeAndAnUnverifiedOneIsAskedAbout) {
    Connect();
    EXPECT_TRUE(component.calls.contains(QStringLiteral("Connect 203.0.113.9 5500 pin ") + kAgentPin));
    EXPECT_TRUE(view.calls.filter(QStringLiteral("security:보안 연결 확인 코드 123 456")).size() == 1);
    FromAgent(QStringLiteral("shell:true"));
    EXPECT_EQ(Actions(), QStringList{QStringLiteral("shell:true")});
    session->EndByCustomer();

    // Without a pin: the warning, and each program and address asked about with its whole text.
    view.calls.clear();
    Connect(QString());
    EXPECT_FALSE(component.calls.last().contains(QStringLiteral(" pin ")));
    EXPECT_TRUE(view.calls.filter(QStringLiteral("security:암호화되지 않은 연결입니다.")).size() == 1);
    EXPECT_TRUE(Notices().isEmpty());  // told before, on connecting
    view.answers = {false, true};
    FromAgent(QStringLiteral("shell:rm -rf ~/문서"));
    FromAgent(QStringLiteral("url:http://example.com/"));
    EXPECT_EQ(Actions(), QStringList{QStringLiteral("open:http://example.com/")});
    EXPECT_TRUE(view.calls.filter(QStringLiteral("ask:")).filter(QStringLiteral("rm -rf ~/문서")).size() ==
                1);
    FromAgent(QStringLiteral("explorer"));  // the other actions run as before
    EXPECT_TRUE(Actions().contains(QStringLiteral("explorer")));
}

TEST_F(SessionTest, AKeyThatDoesNotMatchConnectsToNothing) {
    component.connectResult = false;
    component.connectFailure = components::ServerComponent::ConnectFailure::Security;
    session->RequestConnect(Pick(QStringLiteral("5500"), QStringLiteral("203.0.113.9"), kAgentPin));
    EXPECT_FALSE(session->bConnected());
    EXPECT_TRUE(view.calls.filter(QStringLiteral("inform:"))
                    .last()
                    .startsWith(QStringLiteral(
                        "inform:상담원 프로그램의 보안 인증에 실패하여 연결하지 않았습니다.")));
    EXPECT_TRUE(component.sent.isEmpty());

    // A move whose key does not match is told too, and the list is usable again.
    component.connectResult = true;
    Connect();
    component.connectResult = false;
    FromAgent(QStringLiteral("changeagent:1.2.3.4/10.0.0.5/5600"));
    EXPECT_EQ(session->CurrentState(), SessionController::State::Idle);
    EXPECT_TRUE(view.calls.last().startsWith(QStringLiteral("inform:상담원 프로그램의 보안 인증에 실패")));
}

TEST_F(SessionTest, OnlyVerifiedAgentsWhenTheSettingSaysSo) {
    context.IniFile = folder.path() + QStringLiteral("/settings.ini");
    ASSERT_TRUE(
        util::WriteTextFile(context.IniFile, QStringLiteral("[Security]\r\nRequireSecure=1\r\n"), false));
    session->RequestConnect(Pick(QStringLiteral("5500")));
    EXPECT_FALSE(session->OpenSession(QStringLiteral("10.1.1.1"), 5500));
    EXPECT_TRUE(component.calls.filter(QStringLiteral("Connect ")).isEmpty());
    EXPECT_EQ(view.calls.filter(QStringLiteral("확인된 상담원에게만")).size(), 2);

    // A move to a listed agent without a pin is refused; the session goes on.
    Connect();
    FromAgent(QStringLiteral("changeagent:198.51.100.1/10.0.0.20/5600"));
    EXPECT_EQ(component.calls.filter(QStringLiteral("Connect ")).size(), 1);
    EXPECT_TRUE(session->InSession());
    EXPECT_TRUE(Notices().last().contains(QStringLiteral("보안 연결을 확인할 수 없는 상담원")));
}

}  // namespace
