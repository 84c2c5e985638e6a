#include "app/Base64.h"

#include <array>
#include <cstdint>

namespace pelio::app {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of each ASCII code in the alphabet, -1 for codes outside it.
constexpr std::array<std::int8_t, 128> MakeDecodeTable() {
    std::array<std::int8_t, 128> table{};
    for (auto& v : table) v = -1;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}

constexpr auto kDecodeTable = MakeDecodeTable();

int SextetOf(QChar c) {
    const char16_t u = c.unicode();
    return u < kDecodeTable.size() ? kDecodeTable[u] : -1;
}

}  // namespace

QString Base64Encode(QByteArrayView bytes) {
    QString out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    for (; i + 3 <= n; i += 3) {
        const std::uint32_t v = (std::uint32_t{p[i]} << 16) | (std::uint32_t{p[i + 1]} << 8) | p[i + 2];
        out += QLatin1Char(kAlphabet[v >> 18]);
        out += QLatin1Char(kAlphabet[(v >> 12) & 0x3F]);
        out += QLatin1Char(kAlphabet[(v >> 6) & 0x3F]);
        out += QLatin1Char(kAlphabet[v & 0x3F]);
    }
    if (n - i == 1) {
        const std::uint32_t v = std::uint32_t{p[i]} << 16;
        out += QLatin1Char(kAlphabet[v >> 18]);
        out += QLatin1Char(kAlphabet[(v >> 12) & 0x3F]);
        out += QStringLiteral("==");
    } else if (n - i == 2) {
        const std::uint32_t v = (std::uint32_t{p[i]} << 16) | (std::uint32_t{p[i + 1]} << 8);
        out += QLatin1Char(kAlphabet[v >> 18]);
        out += QLatin1Char(kAlphabet[(v >> 12) & 0x3F]);
        out += QLatin1Char(kAlphabet[(v >> 6) & 0x3F]);
        out += u'=';
    }
    return out;
}

std::optional<QByteArray> Base64Decode(QStringView text) {
    QByteArray out;
    out.reserve(text.size() / 4 * 3 + 2);
    std::uint32_t bits = 0;
    int count = 0;  // sextets gathered in the current group
    qsizetype i = 0;
    for (; i < text.size(); ++i) {
        if (text[i] == u'=') break;
        const int v = SextetOf(text[i]);
        if (v < 0) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        if (++count == 4) {
            out += static_cast<char>(bits >> 16);
            out += static_cast<char>(bits >> 8);
            out += static_cast<char>(bits);
            bits = 0;
            count = 0;
        }
    }
    for (; i < text.size(); ++i)
        if (text[i] != u'=') return std::nullopt;
    if (count == 2) {
        out += static_cast<char>(bits >> 4);
    } else if (count == 3) {
        out += static_cast<char>(bits >> 10);
        out += static_cast<char>(bits >> 2);
    }
    return out;
}

}  // namespace pelio::app
