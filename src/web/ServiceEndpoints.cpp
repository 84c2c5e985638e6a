#include "web/ServiceEndpoints.h"

#include "app/AppContext.h"
#include "util/core/Ansi.h"
#include "util/core/SettingsKeys.h"
#include "util/core/TextUtil.h"
#include "web/HttpTransport.h"

#include <QRegularExpression>
#include <QUrl>

namespace pelio::web {

namespace {

const QString kFieldSeparator = QStringLiteral("#;#");
const QString kRecordSeparator = QStringLiteral("\r\n");
const QString kPages = QStringLiteral("pelio/pg/");

// A value for a query or a form body: its code page 949 bytes, every one but letters, digits and
// "-._~" percent-encoded, so that a value holding "&", "#", "=" or a blank stays one value.
QString QueryValue(const QString& value) {
    return QString::fromLatin1(util::ToAnsi(value).toPercentEncoding());
}

// Blanks only, as the reply format means by "trimmed".
QString TrimBlanks(const QString& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && s[b] == u' ') ++b;
    while (e > b && s[e - 1] == u' ') --e;
    return s.mid(b, e - b);
}

QString Field(const QStringList& fields, qsizetype i) {
    return i < fields.size() ? fields[i] : QString();
}

QString NormalisedRoot(const QString& configured, const QString& fallback) {
    const QString root = configured.trimmed();
    if (!root.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) &&
        !root.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return fallback;
    return root.endsWith(u'/') ? root : root + u'/';
}

}  // namespace

ServiceRoots DefaultServiceRoots() {
    return {util::settings::ServiceRoot.defaultValue, util::settings::IpLookupRoot.defaultValue};
}

ServiceRoots LoadServiceRoots(const QString& iniFile) {
    const ServiceRoots defaults = DefaultServiceRoots();
    return {
        NormalisedRoot(util::settings::Read(iniFile, util::settings::ServiceRoot), defaults.ServiceRoot),
        NormalisedRoot(util::settings::Read(iniFile, util::settings::IpLookupRoot), defaults.IpLookupRoot)};
}

QString CodeCheckAddress(const ServiceRoots& roots, const QString& companyCode, const QString& machineCode) {
    return roots.ServiceRoot + kPages + QStringLiteral("checkcodes.php?deptcode=") + QueryValue(companyCode) +
           QStringLiteral("&customerid=") + QueryValue(machineCode);
}

QString AgentListAddress(const ServiceRoots& roots, const QString& companyCode) {
    return roots.ServiceRoot + kPages + QStringLiteral("getagents.php?mode=allagent&deptcode=") +
           QueryValue(companyCode);
}

QString PublicAddressAddress(const ServiceRoots& roots) {
    return roots.IpLookupRoot + QStringLiteral("pg/getip.php");
}

ServicePageRequest NoticePageRequest(const ServiceRoots& roots, const QString& companyCode) {
    return {roots.ServiceRoot + kPages + QStringLiteral("redirect.php?q=remotenotice"),
            QStringLiteral("id=") + QueryValue(companyCode)};
}

ServicePageRequest UacHelpPageRequest(const ServiceRoots& roots) {
    return {roots.ServiceRoot + kPages + QStringLiteral("redirect.php?q=unlockuac"), QString()};
}

ServicePageRequest FirewallPageRequest(const ServiceRoots& roots) {
    return {roots.ServiceRoot + QStringLiteral("pelio/firewall.htm"), QString()};
}

ServicePageRequest HomePageRequest(const ServiceRoots& roots) {
    return {roots.ServiceRoot, QString()};
}

ServicePageRequest ServiceHomePageRequest(const ServiceRoots& roots) {
    return {roots.ServiceRoot + QStringLiteral("pelio/"), QString()};
}

QString UploadedFileAddress(const ServiceRoots& roots, const QString& companyCode, const QString& fileName) {
    return roots.ServiceRoot + QStringLiteral("userfiles/") + companyCode + u'/' + fileName;
}

CodeCheckReply ParseCodeCheckReply(const QString& text) {
    const QStringList fields = text.split(kFieldSeparator);
    CodeCheckReply reply;
    reply.CompanyName = util::DecodeReplyText(Field(fields, 1));
    reply.Reason = util::DecodeReplyText(Field(fields, 2));
    const QString status = Field(fields, 0);
    auto is = [&](const char* code) { return status.compare(QLatin1String(code), Qt::CaseInsensitive) == 0; };
    if (is("-999"))
        reply.Outcome = CodeCheckOutcome::UnregisteredCode;
    else if (is("-777"))
        reply.Outcome = CodeCheckOutcome::Refused;
    else if (is("1"))
        reply.Outcome = CodeCheckOutcome::Accepted;
    else
        reply.Outcome = CodeCheckOutcome::Unreachable;
    return reply;
}

AgentListReply ParseAgentListReply(const QString& text) {
    AgentListReply reply;
    reply.RawText = text;
    if (text.contains(kFieldSeparator)) {
        reply.Outcome = AgentListOutcome::Listed;
        for (const QString& record : text.split(kRecordSeparator)) {
            // An empty line (a reply ending with a line break) is no agent.
            if (record.isEmpty()) continue;
            const QStringList f = record.split(kFieldSeparator);
            AgentRecord a;
            a.Name = util::DecodeReplyText(Field(f, 0));
            a.Status = util::DecodeReplyText(TrimBlanks(Field(f, 1)));
            if (f.size() > 4) {
                a.PublicAddress = TrimBlanks(f[2]);
                a.LocalAddress = TrimBlanks(f[4]);
            }
            a.Port = TrimBlanks(Field(f, 3));
            a.Info = util::DecodeReplyText(TrimBlanks(Field(f, 5)));
            a.Pin = TrimBlanks(Field(f, 6));
            reply.Records.append(a);
        }
    } else if (text.compare(QLatin1String("-999"), Qt::CaseInsensitive) == 0) {
        reply.Outcome = AgentListOutcome::ServerFault;
    } else {
        reply.Outcome = AgentListOutcome::NotListed;
    }
    return reply;
}

bool IsAcceptablePublicAddress(const QString& reply) {
    bool numeric = false;
    reply.left(2).toDouble(&numeric);
    return numeric;
}

FetchText DefaultFetch() {
    return [](const QString& url, double timeoutSeconds) { return HttpGetText(url, timeoutSeconds); };
}

CodeCheckReply CheckCompanyCode(const ServiceRoots& roots, const QString& companyCode,
                                const QString& machineCode, const FetchText& fetch) {
    return ParseCodeCheckReply(fetch(CodeCheckAddress(roots, companyCode, machineCode), 5));
}

bool TrustsAgentPins(const QString& address) {
    const QUrl url(address);
    if (url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0) return true;
    if (url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) != 0) return false;
    const QString host = url.host().toLower();
    static const QRegularExpression loopback4(QStringLiteral(R"(^127\.\d{1,3}\.\d{1,3}\.\d{1,3}$)"));
    return host == u"localhost" || host == u"::1" || loopback4.match(host).hasMatch();
}

AgentListReply FetchAgentList(const ServiceRoots& roots, const QString& companyCode, const FetchText& fetch) {
    const QString address = AgentListAddress(roots, companyCode);
    AgentListReply reply = ParseAgentListReply(fetch(address, 5));
    // A pin read over plain HTTP from the network could be anyone's: the agents count as unverified.
    if (!TrustsAgentPins(address))
        for (AgentRecord& record : reply.Records) record.Pin.clear();
    return reply;
}

QString LookupPublicIp(const ServiceRoots& roots, app::AppContext& context, const FetchText& fetch) {
    if (!context.PublicIP.isEmpty()) return context.PublicIP;
    const QString reply = fetch(PublicAddressAddress(roots), 3);
    if (IsAcceptablePublicAddress(reply)) context.PublicIP = reply;
    return reply;
}

}  // namespace pelio::web
