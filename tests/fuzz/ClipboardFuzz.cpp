// Feeds arbitrary bytes to the reading of extended clipboard messages, as a peer may send them.
//   first byte even: the rest is a payload as received; whatever it holds, a text read from it is at
//                    most the longest clipboard text;
//   first byte odd:  the rest, read as UTF-8, is sent and read back, and must come back as it was.
#include "clipboard/ClipboardMessages.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace cb = pelio::components::clipboard;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    if ((data[0] & 1) == 0) {
        const std::optional<cb::Extended> read = cb::ReadExtended(rest);
        if (read && read->text && read->text->size() > cb::kMaxText) std::abort();
        if (read && read->text) cb::FromWire(*read->text);
        cb::FromLatin1(rest);
        return 0;
    }
    QString text = QString::fromUtf8(rest.data(), qsizetype(rest.size()));
    text.truncate(text.indexOf(QChar(u'\0')) < 0 ? text.size() : text.indexOf(QChar(u'\0')));
    while (text.contains(QStringLiteral("\r\n"))) text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const std::optional<std::string> payload = cb::ProvidePayload(cb::ToWire(text));
    if (!payload) return 0;
    const std::optional<cb::Extended> read = cb::ReadExtended(*payload);
    if (!read || !read->text || cb::FromWire(*read->text) != text) std::abort();
    return 0;
}
