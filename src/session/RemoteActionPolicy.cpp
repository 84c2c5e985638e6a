#include "session/RemoteActionPolicy.h"

#include "util/core/SettingsKeys.h"

namespace pelio::session {

namespace {

// The scheme of an address in lower case: the letters, digits, "+", "-" and "." before its first ":",
// starting with a letter; empty for an address without one (a path), where anything else comes first
// (a control character, a blank inside) or for a single letter (a drive, "c:"). The rest of the address
// is the handler's to read, as it may hold blanks and other characters that are not escaped.
QString SchemeOf(const QString& address) {
    const qsizetype colon = address.indexOf(u':');
    if (colon < 2) return QString();
    for (qsizetype i = 0; i < colon; ++i) {
        const char16_t c = address.at(i).unicode();
        const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        const bool other = (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
        if (!letter && !(i > 0 && other)) return QString();
    }
    return address.left(colon).toLower();
}

}  // namespace

QString RemoteActionPolicy::Question(RemoteAction action, const QString& detail) {
    switch (action) {
        case RemoteAction::RunProgram:
            return QStringLiteral(
                       "상담원이 이 컴퓨터에서 다음 프로그램을 실행하려고 합니다. 허용하시겠습니까?\r\n") +
                   detail;
        case RemoteAction::OpenAddress:
            return QStringLiteral("상담원이 다음 주소를 열려고 합니다. 허용하시겠습니까?\r\n") + detail;
        case RemoteAction::MoveToAgent:
            return QStringLiteral("상담원이 다른 상담원에게 연결을 넘기려고 합니다. 허용하시겠습니까?\r\n") +
                   detail;
        default:
            return QStringLiteral("상담원이 다음 작업을 하려고 합니다. 허용하시겠습니까?\r\n") + detail;
    }
}

bool RemoteActionPolicy::IsOpenableAddress(const QString& address) {
    const QString scheme = SchemeOf(address.trimmed());
    return scheme == u"http" || scheme == u"https" || scheme == u"mailto";
}

bool RemoteActionPolicy::IsDownloadAddress(const QString& address) {
    const QString scheme = SchemeOf(address.trimmed());
    return scheme == u"http" || scheme == u"https";
}

bool RemoteActionPolicy::RequiresSecureAgents(const QString& iniFile) {
    return util::settings::Read(iniFile, util::settings::RequireSecure).trimmed() == u"1";
}

}  // namespace pelio::session
