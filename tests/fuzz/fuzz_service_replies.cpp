// Fuzzes the classification of the web service's replies: the bytes of a reply as the transport
// would decode them, through the code-check and the agent-list parsers.
#include "util/core/Ansi.h"
#include "web/ServiceEndpoints.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = pelio::util::FromAnsi(bytes);

    const pelio::web::CodeCheckReply check = pelio::web::ParseCodeCheckReply(text);
    if (check.Outcome == pelio::web::CodeCheckOutcome::Accepted && !text.startsWith(u'1')) std::abort();

    const pelio::web::AgentListReply list = pelio::web::ParseAgentListReply(text);
    if (list.RawText != text) std::abort();
    if (list.Outcome != pelio::web::AgentListOutcome::Listed && !list.Records.isEmpty()) std::abort();
    if (list.Records.size() > text.count(QStringLiteral("\r\n")) + 1) std::abort();
    // Addresses come only from records of five fields or more.
    for (const auto& r : list.Records)
        if ((!r.PublicAddress.isEmpty() || !r.LocalAddress.isEmpty()) &&
            text.count(QStringLiteral("#;#")) < 4)
            std::abort();
    return 0;
}
