#pragma once

#include <QList>
#include <QString>

#include <functional>

// The service's web site: its addresses, how each request is built, the reply formats and how each
// reply is classified. The transport is HttpTransport.h; what the customer then sees is up to the
// windows.
namespace pelio::app {
struct AppContext;
}

namespace pelio::web {

// The two sites the program talks to, each "http://" + host + "/"; paths are appended as they are.
struct ServiceRoots {
    QString ServiceRoot;
    QString IpLookupRoot;
};

// The compiled-in roots, replaced by section "Service", keys "ServiceRoot" and "IpLookupRoot" of the
// settings file when those hold an http:// or https:// address (a missing final "/" is added).
ServiceRoots LoadServiceRoots(const QString& iniFile);
ServiceRoots DefaultServiceRoots();

// The status word of an agent who can take a request.
inline const QString AvailableStatus = QStringLiteral("지원가능");

enum class CodeCheckOutcome { Accepted, UnregisteredCode, Refused, Unreachable };

struct CodeCheckReply {
    CodeCheckOutcome Outcome = CodeCheckOutcome::Unreachable;
    QString CompanyName;
    QString Reason;
};

struct AgentRecord {
    QString Name;
    QString Status;
    QString PublicAddress;
    QString Port;
    QString LocalAddress;
    QString Info;
    // The agent's key pin ("sha256//..."), the record's seventh field; empty when the service gives
    // none or cannot be trusted with it (see FetchAgentList).
    QString Pin;

    bool IsAvailable() const { return Status == AvailableStatus; }
};

enum class AgentListOutcome { Listed, ServerFault, NotListed };

struct AgentListReply {
    AgentListOutcome Outcome = AgentListOutcome::NotListed;
    QList<AgentRecord> Records;  // in reply order
    QString RawText;             // the reply as received
};

// A page to show: its address and, for a form post, the form body.
struct ServicePageRequest {
    QString PageAddress;
    QString FormBody;  // empty for a plain navigation
};

// Addresses of the text endpoints. The company code and the machine code are percent-encoded (in code
// page 949), so that a code holding "&", "#" or a blank cannot add or cut query fields; the codes the
// service issues (letters and digits) cross unchanged.
QString CodeCheckAddress(const ServiceRoots& roots, const QString& companyCode, const QString& machineCode);
QString AgentListAddress(const ServiceRoots& roots, const QString& companyCode);
QString PublicAddressAddress(const ServiceRoots& roots);

// Pages.
ServicePageRequest NoticePageRequest(const ServiceRoots& roots, const QString& companyCode);
ServicePageRequest UacHelpPageRequest(const ServiceRoots& roots);
ServicePageRequest FirewallPageRequest(const ServiceRoots& roots);
ServicePageRequest HomePageRequest(const ServiceRoots& roots);
ServicePageRequest ServiceHomePageRequest(const ServiceRoots& roots);
// The drop box file that the agent's side downloads.
QString UploadedFileAddress(const ServiceRoots& roots, const QString& companyCode, const QString& fileName);

// Classification of reply texts.
CodeCheckReply ParseCodeCheckReply(const QString& text);
AgentListReply ParseAgentListReply(const QString& text);
// The public-address rule: stored when the reply's first two characters form a number.
bool IsAcceptablePublicAddress(const QString& reply);

// The fetch the requests use: HttpGetText unless a test passes another.
using FetchText = std::function<QString(const QString& url, double timeoutSeconds)>;
FetchText DefaultFetch();

// Checks a company code (time limit 5 s); stores nothing.
CodeCheckReply CheckCompanyCode(const ServiceRoots& roots, const QString& companyCode,
                                const QString& machineCode, const FetchText& fetch = DefaultFetch());

// Whether agent pins read from an address may be trusted: an https: address (its certificate checked
// by the system's authorities) or http: to this computer (a loopback address or "localhost").
bool TrustsAgentPins(const QString& address);

// Fetches the company's agents (time limit 5 s); stores nothing. The agents' pins are kept only when
// the list's address can be trusted with them.
AgentListReply FetchAgentList(const ServiceRoots& roots, const QString& companyCode,
                              const FetchText& fetch = DefaultFetch());

// The customer's public address: context.PublicIP when already known (no request), else the reply of
// the lookup (time limit 3 s), which is kept in context.PublicIP when acceptable. Returns the reply
// also when it is not kept (empty after a failed request).
QString LookupPublicIp(const ServiceRoots& roots, app::AppContext& context,
                       const FetchText& fetch = DefaultFetch());

}  // namespace pelio::web
