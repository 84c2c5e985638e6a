#include "secure/Pin.h"

#include <QByteArray>

namespace pelio::components::secure {

namespace {

constexpr std::string_view kPrefix = "sha256//";
constexpr std::size_t kEncodedLength = 44;  // 32 bytes in Base64, with one "=" of padding

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

QString Pin::ToString() const {
    const QByteArray digest(reinterpret_cast<const char*>(sha256.data()), qsizetype(sha256.size()));
    return QString::fromLatin1(kPrefix.data(), qsizetype(kPrefix.size())) +
           QString::fromLatin1(digest.toBase64());
}

std::optional<Pin> ParsePin(std::string_view text) {
    if (text.size() != kPrefix.size() + kEncodedLength || text.substr(0, kPrefix.size()) != kPrefix)
        return std::nullopt;
    const std::string_view encoded = text.substr(kPrefix.size());
    if (encoded.back() != '=') return std::nullopt;
    Pin pin;
    std::uint32_t bits = 0;
    int pending = 0;  // bits in `bits` not yet written out
    std::size_t written = 0;
    for (std::size_t i = 0; i + 1 < encoded.size(); ++i) {
        const int value = Base64Value(encoded[i]);
        if (value < 0) return std::nullopt;
        bits = (bits << 6) | std::uint32_t(value);
        pending += 6;
        if (pending >= 8) {
            pending -= 8;
            pin.sha256[written++] = std::uint8_t(bits >> pending);
            bits &= (1u << pending) - 1;
        }
    }
    // 43 characters carry 258 bits: the 32 bytes and two more, which a canonical text leaves zero.
    if (written != pin.sha256.size() || pending != 2 || bits != 0) return std::nullopt;
    return pin;
}

std::optional<Pin> ParsePin(QStringView text) {
    if (text.size() != qsizetype(kPrefix.size() + kEncodedLength)) return std::nullopt;
    std::string ascii;
    ascii.reserve(std::size_t(text.size()));
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) return std::nullopt;
        ascii += char(c.unicode());
    }
    return ParsePin(std::string_view(ascii));
}

}  // namespace pelio::components::secure
