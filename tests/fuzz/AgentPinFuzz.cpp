// The parser of agents' key pins (the seventh field of the agent list, from the network): any input
// gives an answer; a pin it takes writes back to the same text, and the same bytes read as UTF-16 give
// the same answer.
#include "secure/Pin.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using pelio::components::secure::ParsePin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto pin = ParsePin(text);
    const QString wide = QString::fromLatin1(text.data(), qsizetype(text.size()));
    if (pin.has_value() != ParsePin(QStringView(wide)).has_value()) std::abort();
    if (pin) {
        if (pin->ToString() != wide) std::abort();
        if (ParsePin(QStringView(pin->ToString())) != pin) std::abort();
    }
    return 0;
}
