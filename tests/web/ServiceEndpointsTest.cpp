#include "ReferenceService.h"
#include "app/AppContext.h"
#include "support/ScriptedMessageBoxes.h"
#include "util/core/Ansi.h"
#include "util/core/IniFile.h"
#include "web/ServiceEndpoints.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

using namespace pelio::web;
using pelio::tools::ReferenceService;

namespace {

const QString kSep = QStringLiteral("#;#");

}  // namespace

TEST(CodeCheckReply, StatusCodesAndFields) {
    CodeCheckReply r = ParseCodeCheckReply(QStringLiteral("1"));
    EXPECT_EQ(r.Outcome, CodeCheckOutcome::Accepted);
    EXPECT_TRUE(r.CompanyName.isEmpty());
    EXPECT_TRUE(r.Reason.isEmpty());

    r = ParseCodeCheckReply(QStringLiteral("1#;#펠리오 상사#;#"));
    EXPECT_EQ(r.Outcome, CodeCheckOutcome::Accepted);
    EXPECT_EQ(r.CompanyName, QStringLiteral("펠리오 상사"));

    EXPECT_EQ(ParseCodeCheckReply(QStringLiteral(" 1")).Outcome,
              CodeCheckOutcome::Unreachable);  // not trimmed
    EXPECT_EQ(ParseCodeCheckReply(QStringLiteral("-999")).Outcome, CodeCheckOutcome::UnregisteredCode);
    EXPECT_EQ(ParseCodeCheckReply(QStringLiteral("<html><body>1</body></html>")).Outcome,
              CodeCheckOutcome::Unreachable);
    EXPECT_EQ(ParseCodeCheckReply(QString()).Outcome, CodeCheckOutcome::Unreachable);

    r = ParseCodeCheckReply(QStringLiteral("-777#;#Co#;#"));
    EXPECT_EQ(r.Outcome, CodeCheckOutcome::Refused);
    EXPECT_EQ(r.CompanyName, QStringLiteral("Co"));
    EXPECT_TRUE(r.Reason.isEmpty());

    r = ParseCodeCheckReply(QStringLiteral("-777#;#Co#;#%BB%E7%BF%EB+%C1%DF%C1%F6#;#ignored"));
    EXPECT_EQ(r.Reason, QStringLiteral("사용 중지"));
}

TEST(ReplyFields, DecodingRules) {
    auto name = [](const QString& field) {
        return ParseCodeCheckReply(QStringLiteral("1#;#") + field).CompanyName;
    };
    EXPECT_EQ(name(QStringLiteral("A%20B")), QStringLiteral("A B"));
    EXPECT_EQ(name(QStringLiteral("A+B")), QStringLiteral("A+B"));
    EXPECT_EQ(name(QStringLiteral("A%2BB")), QStringLiteral("A B"));
    EXPECT_EQ(name(QStringLiteral("한글%20A")), QStringLiteral("한글%20A"));
}

TEST(AgentListReply, RecordsAndOutcomes) {
    AgentListReply r = ParseAgentListReply(QStringLiteral("Kim#;#지원가능#;#1.2.3.4#;#5900#;#10.0.0.7"));
    EXPECT_EQ(r.Outcome, AgentListOutcome::Listed);
    ASSERT_EQ(r.Records.size(), 1);
    EXPECT_EQ(r.Records[0].Name, QStringLiteral("Kim"));
    EXPECT_TRUE(r.Records[0].IsAvailable());
    EXPECT_EQ(r.Records[0].PublicAddress, QStringLiteral("1.2.3.4"));
    EXPECT_EQ(r.Records[0].Port, QStringLiteral("5900"));
    EXPECT_EQ(r.Records[0].LocalAddress, QStringLiteral("10.0.0.7"));
    EXPECT_TRUE(r.Records[0].Info.isEmpty());

    r = ParseAgentListReply(QStringLiteral("Lee#;#상담중#;#1.2.3.4#;#5900"));
    ASSERT_EQ(r.Records.size(), 1);
    EXPECT_FALSE(r.Records[0].IsAvailable());
    EXPECT_TRUE(r.Records[0].PublicAddress.isEmpty());  // taken together with the local address
    EXPECT_TRUE(r.Records[0].LocalAddress.isEmpty());
    EXPECT_EQ(r.Records[0].Port, QStringLiteral("5900"));

    r = ParseAgentListReply(QStringLiteral("abc#;#"));
    EXPECT_EQ(r.Outcome, AgentListOutcome::Listed);
    ASSERT_EQ(r.Records.size(), 1);
    EXPECT_EQ(r.Records[0].Name, QStringLiteral("abc"));
    EXPECT_FALSE(r.Records[0].IsAvailable());

    EXPECT_EQ(ParseAgentListReply(QStringLiteral("-999")).Outcome, AgentListOutcome::ServerFault);
    EXPECT_EQ(ParseAgentListReply(QStringLiteral("-9999")).Outcome, AgentListOutcome::NotListed);
    r = ParseAgentListReply(QString());
    EXPECT_EQ(r.Outcome, AgentListOutcome::NotListed);
    EXPECT_TRUE(r.RawText.isEmpty());
    r = ParseAgentListReply(QStringLiteral("<html>Server Error</html>"));
    EXPECT_EQ(r.Outcome, AgentListOutcome::NotListed);
    EXPECT_EQ(r.RawText, QStringLiteral("<html>Server Error</html>"));
}

TEST(AgentListReply, TrimmingDecodingOrderAndEmptyLines) {
    const QString text =
        QStringLiteral(
            " 김 상담 #;#  지원가능 #;# 1.2.3.4 #;# 5900 #;# 10.0.0.7 #;#  %C8%AB%B1%E6%B5%BF+010  \r\n") +
        QStringLiteral("박#;#%C1%F6%BF%F8%B0%A1%B4%C9#;#5.6.7.8#;#5901#;#5.6.7.8#;#info#;#extra\r\n\r\n");
    const AgentListReply r = ParseAgentListReply(text);
    ASSERT_EQ(r.Records.size(), 2);
    EXPECT_EQ(r.Records[0].Name, QStringLiteral(" 김 상담 "));  // the name is not trimmed
    EXPECT_TRUE(r.Records[0].IsAvailable());
    EXPECT_EQ(r.Records[0].PublicAddress, QStringLiteral("1.2.3.4"));
    EXPECT_EQ(r.Records[0].Port, QStringLiteral("5900"));
    EXPECT_EQ(r.Records[0].Info, QStringLiteral("홍길동 010"));
    EXPECT_EQ(r.Records[1].Name, QStringLiteral("박"));
    EXPECT_TRUE(r.Records[1].IsAvailable());  // status decoded from code page 949 escapes
    EXPECT_EQ(r.Records[1].Info, QStringLiteral("info"));
}

TEST(PublicAddress, TwoCharacterNumericPrefixRule) {
    EXPECT_TRUE(IsAcceptablePublicAddress(QStringLiteral("123.45.67.89")));
    EXPECT_TRUE(IsAcceptablePublicAddress(QStringLiteral("1.2.3.4")));
    EXPECT_FALSE(IsAcceptablePublicAddress(QStringLiteral("not found")));
    EXPECT_FALSE(IsAcceptablePublicAddress(QString()));
    EXPECT_FALSE(IsAcceptablePublicAddress(QStringLiteral("<html>")));
}

TEST(ServiceRoots, AddressesAndConfiguration) {
    pelio::test::TempFolder dir;
    const QString ini = dir.file(QStringLiteral("PelioRS.ini"));
    ServiceRoots roots = LoadServiceRoots(ini);
    EXPECT_EQ(roots.ServiceRoot, DefaultServiceRoots().ServiceRoot);
    pelio::util::IniWrite(ini, QStringLiteral("Service"), QStringLiteral("ServiceRoot"),
                          QStringLiteral("http://svc.test:81"));
    pelio::util::IniWrite(ini, QStringLiteral("Service"), QStringLiteral("IpLookupRoot"),
                          QStringLiteral("ftp://bad/"));
    roots = LoadServiceRoots(ini);
    EXPECT_EQ(roots.ServiceRoot, QStringLiteral("http://svc.test:81/"));
    EXPECT_EQ(roots.IpLookupRoot, DefaultServiceRoots().IpLookupRoot);

    roots = {QStringLiteral("http://s/"), QStringLiteral("http://ip/")};
    EXPECT_EQ(CodeCheckAddress(roots, QStringLiteral("1234"), QStringLiteral("EXK4U96B482")),
              QStringLiteral("http://s/pelio/pg/checkcodes.php?deptcode=1234&customerid=EXK4U96B482"));
    EXPECT_EQ(AgentListAddress(roots, QStringLiteral("1234")),
              QStringLiteral("http://s/pelio/pg/getagents.php?mode=allagent&deptcode=1234"));
    EXPECT_EQ(PublicAddressAddress(roots), QStringLiteral("http://ip/pg/getip.php"));
    const ServicePageRequest notice = NoticePageRequest(roots, QStringLiteral("1234"));
    EXPECT_EQ(notice.PageAddress, QStringLiteral("http://s/pelio/pg/redirect.php?q=remotenotice"));
    EXPECT_EQ(notice.FormBody, QStringLiteral("id=1234"));
    // A code from a command line cannot add fields to a request.
    EXPECT_EQ(AgentListAddress(roots, QStringLiteral("12 34&mode=x#")),
              QStringLiteral("http://s/pelio/pg/getagents.php?mode=allagent&deptcode=12%2034%26mode%3Dx%23"));
    EXPECT_EQ(NoticePageRequest(roots, QStringLiteral("1&a=b")).FormBody, QStringLiteral("id=1%26a%3Db"));
    EXPECT_EQ(UacHelpPageRequest(roots).PageAddress,
              QStringLiteral("http://s/pelio/pg/redirect.php?q=unlockuac"));
    EXPECT_EQ(FirewallPageRequest(roots).PageAddress, QStringLiteral("http://s/pelio/firewall.htm"));
    EXPECT_EQ(HomePageRequest(roots).PageAddress, QStringLiteral("http://s/"));
    EXPECT_EQ(ServiceHomePageRequest(roots).PageAddress, QStringLiteral("http://s/pelio/"));
    EXPECT_TRUE(ServiceHomePageRequest(roots).FormBody.isEmpty());
}

namespace {

// The requests against the reference service on 127.0.0.1.
class ServiceEndpointsLive : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const QByteArray data = QStringLiteral(R"({
          "publicAddress": "123.45.67.89",
          "companies": {
            "1234": { "status": "1", "name": "똠방 펠리오", "reason": "",
                      "agents": [
                        { "name": "김상담", "status": "지원가능", "publicAddress": "123.45.67.89", "port": "5500",
                          "localAddress": "127.0.0.1", "info": "홍길동 010-1234-5678" },
                        { "name": "뷁상담", "status": "상담중", "publicAddress": "1.2.3.4", "port": "5501",
                          "localAddress": "10.0.0.2", "info": "" } ] },
            "7777": { "status": "-777", "name": "Co", "reason": "%BB%E7%BF%EB%C1%DF%C1%F6" },
            "5555": { "checkReply": "<html>maintenance</html>", "agentReply": "-999" }
          }
        })")
                                    .toUtf8();
        service = new ReferenceService(QJsonDocument::fromJson(data).object());
        const int port = service->Start();
        roots.ServiceRoot = roots.IpLookupRoot = QStringLiteral("http://127.0.0.1:%1/").arg(port);
    }
    static void TearDownTestSuite() {
        delete service;
        service = nullptr;
    }
    static inline ReferenceService* service = nullptr;
    static inline ServiceRoots roots;
};

}  // namespace

TEST_F(ServiceEndpointsLive, EveryCodeCheckOutcome) {
    CodeCheckReply r = CheckCompanyCode(roots, QStringLiteral("1234"), QStringLiteral("EXK4U96B482"));
    EXPECT_EQ(r.Outcome, CodeCheckOutcome::Accepted);
    EXPECT_EQ(r.CompanyName, QStringLiteral("똠방 펠리오"));  // a syllable outside EUC-KR survives
    bool sawQuery = false;
    for (const auto& req : service->Requests())
        sawQuery |=
            req.target == QStringLiteral("/pelio/pg/checkcodes.php?deptcode=1234&customerid=EXK4U96B482");
    EXPECT_TRUE(sawQuery);

    r = CheckCompanyCode(roots, QStringLiteral("7777"), QStringLiteral("X"));
    EXPECT_EQ(r.Outcome, CodeCheckOutcome::Refused);
    EXPECT_EQ(r.Reason, QStringLiteral("사용중지"));
    EXPECT_EQ(CheckCompanyCode(roots, QStringLiteral("9999"), QStringLiteral("X")).Outcome,
              CodeCheckOutcome::UnregisteredCode);
    EXPECT_EQ(CheckCompanyCode(roots, QStringLiteral("5555"), QStringLiteral("X")).Outcome,
              CodeCheckOutcome::Unreachable);
    const ServiceRoots nowhere{QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("http://127.0.0.1:1/")};
    EXPECT_EQ(CheckCompanyCode(nowhere, QStringLiteral("1234"), QStringLiteral("X")).Outcome,
              CodeCheckOutcome::Unreachable);
}

TEST_F(ServiceEndpointsLive, EveryAgentListOutcome) {
    AgentListReply r = FetchAgentList(roots, QStringLiteral("1234"));
    EXPECT_EQ(r.Outcome, AgentListOutcome::Listed);
    ASSERT_EQ(r.Records.size(), 2);
    EXPECT_EQ(r.Records[0].Name, QStringLiteral("김상담"));
    EXPECT_TRUE(r.Records[0].IsAvailable());
    EXPECT_EQ(r.Records[0].Info, QStringLiteral("홍길동 010-1234-5678"));
    EXPECT_EQ(r.Records[1].Name, QStringLiteral("뷁상담"));
    EXPECT_FALSE(r.Records[1].IsAvailable());
    EXPECT_EQ(r.Records[1].LocalAddress, QStringLiteral("10.0.0.2"));
    EXPECT_EQ(FetchAgentList(roots, QStringLiteral("5555")).Outcome, AgentListOutcome::ServerFault);
    r = FetchAgentList(roots, QStringLiteral("9999"));
    EXPECT_EQ(r.Outcome, AgentListOutcome::NotListed);
    EXPECT_TRUE(r.RawText.isEmpty());
}

TEST_F(ServiceEndpointsLive, PublicAddressIsKeptAndNotAskedAgain) {
    pelio::app::AppContext context;
    int requests = 0;
    FetchText counting = [&](const QString& url, double timeout) {
        ++requests;
        EXPECT_DOUBLE_EQ(timeout, 3);
        return DefaultFetch()(url, timeout);
    };
    EXPECT_EQ(LookupPublicIp(roots, context, counting), QStringLiteral("123.45.67.89"));
    EXPECT_EQ(context.PublicIP, QStringLiteral("123.45.67.89"));
    EXPECT_EQ(LookupPublicIp(roots, context, counting), QStringLiteral("123.45.67.89"));
    EXPECT_EQ(requests, 1);

    pelio::app::AppContext other;
    FetchText notFound = [](const QString&, double) { return QStringLiteral("not found"); };
    EXPECT_EQ(LookupPublicIp(roots, other, notFound), QStringLiteral("not found"));
    EXPECT_TRUE(other.PublicIP.isEmpty());
    const ServiceRoots nowhere{QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("http://127.0.0.1:1/")};
    EXPECT_TRUE(LookupPublicIp(nowhere, other).isEmpty());
    EXPECT_TRUE(other.PublicIP.isEmpty());
}

// The seventh field is the agent's pin, kept only when the list came from where it can be trusted.
TEST(AgentListReply, PinsOnlyFromATrustedAddress) {
    const QString reply =
        QStringLiteral("김#;#지원가능#;#1.2.3.4#;#5900#;#10.0.0.7#;#info#;# sha256//AAAA= ");
    EXPECT_EQ(ParseAgentListReply(reply).Records[0].Pin, QStringLiteral("sha256//AAAA="));
    const auto fetched = [&](const QString& root) {
        ServiceRoots roots;
        roots.ServiceRoot = root;
        return FetchAgentList(roots, QStringLiteral("1234"), [&](const QString&, double) { return reply; })
            .Records[0]
            .Pin;
    };
    EXPECT_FALSE(fetched(QStringLiteral("https://svc.example/")).isEmpty());
    EXPECT_FALSE(fetched(QStringLiteral("http://127.0.0.1:8080/")).isEmpty());
    EXPECT_FALSE(fetched(QStringLiteral("http://[::1]:8080/")).isEmpty());
    EXPECT_TRUE(fetched(QStringLiteral("http://svc.example/")).isEmpty());
    EXPECT_TRUE(fetched(QStringLiteral("http://127.0.0.1.evil.example/")).isEmpty());
    EXPECT_TRUE(fetched(QStringLiteral("http://10.0.0.1/")).isEmpty());
}
