// Fuzzes the classification of the web service's replies: the bytes of a reply as the transport
// would decode them, through the code-check and the agent-list parsers. Besides memory safety it checks
// the parsers against fields cut out of the raw reply here, by searching for the separators.
#include "util/core/Ansi.h"
#include "util/core/TextUtil.h"
#include "web/ServiceEndpoints.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

const QString kSep = QStringLiteral("#;#");
const QString kLineBreak = QStringLiteral("\r\n");

// The pieces of `text` between occurrences of `separator`, found left to right.
QStringList Cut(const QString& text, const QString& separator) {
    QStringList pieces;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = text.indexOf(separator, from);
        if (at < 0) break;
        pieces << text.mid(from, at - from);
        from = at + separator.size();
    }
    pieces << text.mid(from);
    return pieces;
}

// A field as a reply carries it: URL-encoded when it holds "%" (the decoding has tests of its own).
QString Decoded(const QString& field) {
    return field.contains(u'%') ? pelio::util::DecodeReplyText(field) : field;
}

bool HasOuterBlank(const QString& field) {
    return field.startsWith(u' ') || field.endsWith(u' ');
}

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = pelio::util::FromAnsi(bytes);

    // Code check: "status#;#name#;#reason"; accepted exactly when the status is "1", and then the name
    // and the reason are the second and third fields of the reply.
    const pelio::web::CodeCheckReply check = pelio::web::ParseCodeCheckReply(text);
    const QStringList fields = Cut(text, kSep);
    Check((check.Outcome == pelio::web::CodeCheckOutcome::Accepted) == (fields[0] == QLatin1String("1")));
    if (check.Outcome == pelio::web::CodeCheckOutcome::Accepted) {
        Check(check.CompanyName == (fields.size() > 1 ? Decoded(fields[1]) : QString()));
        Check(check.Reason == (fields.size() > 2 ? Decoded(fields[2]) : QString()));
    }

    // Agent list: listed when the reply holds a separator; one agent for each non-empty line, in order.
    const pelio::web::AgentListReply list = pelio::web::ParseAgentListReply(text);
    Check(list.RawText == text);
    Check((list.Outcome == pelio::web::AgentListOutcome::Listed) == text.contains(kSep));
    if (list.Outcome != pelio::web::AgentListOutcome::Listed) {
        Check(list.Records.isEmpty());
        return 0;
    }
    // Addresses come only from records of five fields or more.
    for (const auto& r : list.Records)
        if (!r.PublicAddress.isEmpty() || !r.LocalAddress.isEmpty()) Check(text.count(kSep) >= 4);
    QStringList lines = Cut(text, kLineBreak);
    lines.removeAll(QString());
    Check(list.Records.size() == lines.size());
    for (qsizetype i = 0; i < lines.size() && i < list.Records.size(); ++i) {
        // A record of six plain fields (nothing to decode, no blanks to trim) re-joins to its line.
        const QStringList f = Cut(lines[i], kSep);
        bool plain = f.size() == 6 && !lines[i].contains(u'%');
        for (const QString& field : f) plain = plain && !HasOuterBlank(field);
        if (!plain) continue;
        const pelio::web::AgentRecord& a = list.Records[i];
        Check(QStringList{a.Name, a.Status, a.PublicAddress, a.Port, a.LocalAddress, a.Info}.join(kSep) ==
              lines[i]);
    }
    return 0;
}
