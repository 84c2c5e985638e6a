#include "clipboard/ClipboardMessages.h"

#include <QList>

#include <zlib.h>

#include <bit>

namespace pelio::components::clipboard {

namespace {

void PutU32(std::string& out, std::uint32_t value) {
    out += char(value >> 24);
    out += char(value >> 16);
    out += char(value >> 8);
    out += char(value);
}

std::uint32_t GetU32(std::string_view bytes, std::size_t at) {
    const auto b = [&](std::size_t i) { return std::uint32_t(std::uint8_t(bytes[at + i])); };
    return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

// Inflates exactly `size` bytes from the stream into `out`; false when the stream ends or breaks first.
bool InflateExactly(z_stream& stream, std::size_t size, std::string& out) {
    out.resize(size);
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(size);
    while (stream.avail_out > 0) {
        const int result = inflate(&stream, Z_SYNC_FLUSH);
        if (result == Z_STREAM_END) return stream.avail_out == 0;
        if (result != Z_OK) return false;
    }
    return true;
}

}  // namespace

std::string CutTextMessage(std::uint8_t type, std::string_view payload, bool extended) {
    std::string message{char(type), 0, 0, 0};
    const auto length = std::uint32_t(payload.size());
    PutU32(message, extended ? std::uint32_t(-std::int64_t(length)) : length);
    message.append(payload);
    return message;
}

std::string CapsPayload(std::uint32_t actions, std::uint32_t maxText) {
    std::string payload;
    PutU32(payload, kCaps | (actions & kActions) | kText);
    PutU32(payload, maxText);
    return payload;
}

std::string ActionPayload(std::uint32_t action) {
    std::string payload;
    PutU32(payload, (action & kActions) | kText);
    return payload;
}

std::optional<std::string> ProvidePayload(std::string_view wireText) {
    if (wireText.size() + 1 > kMaxText) return std::nullopt;
    std::string plain;
    PutU32(plain, std::uint32_t(wireText.size() + 1));
    plain.append(wireText);
    plain += '\0';
    // A flushed stream that does not end, as viewers and servers keep one stream per message: the
    // server's library counts the end of a stream read as a broken one.
    z_stream stream{};
    if (deflateInit(&stream, Z_DEFAULT_COMPRESSION) != Z_OK) return std::nullopt;
    std::string payload;
    PutU32(payload, kProvide | kText);
    payload.resize(4 + deflateBound(&stream, uLong(plain.size())) + 16);
    stream.next_in = reinterpret_cast<Bytef*>(plain.data());
    stream.avail_in = uInt(plain.size());
    stream.next_out = reinterpret_cast<Bytef*>(payload.data() + 4);
    stream.avail_out = uInt(payload.size() - 4);
    const int result = deflate(&stream, Z_SYNC_FLUSH);
    const bool done = result == Z_OK && stream.avail_in == 0 && stream.avail_out > 0;
    payload.resize(payload.size() - stream.avail_out);
    deflateEnd(&stream);
    if (!done) return std::nullopt;
    return payload;
}

std::optional<Extended> ReadExtended(std::string_view payload) {
    if (payload.size() < 4 || payload.size() > kMaxPayload) return std::nullopt;
    Extended result;
    result.flags = GetU32(payload, 0);
    const std::uint32_t formats = result.flags & 0xFFFF;
    if (result.flags & kCaps) {
        if (payload.size() != 4 + 4 * std::size_t(std::popcount(formats))) return std::nullopt;
        if (formats & kText) result.textLimit = GetU32(payload, 4);
        return result;
    }
    if (!(result.flags & kActions)) return std::nullopt;
    if (!(result.flags & kProvide)) return result;
    if (!(formats & kText)) return result;  // nothing we take; text comes first when it is there
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload.data() + 4));
    stream.avail_in = uInt(payload.size() - 4);
    std::string sizeBytes, text;
    bool ok = InflateExactly(stream, 4, sizeBytes);
    const std::uint32_t size = ok ? GetU32(sizeBytes, 0) : 0;
    ok = ok && size <= kMaxText && InflateExactly(stream, size, text);
    inflateEnd(&stream);
    if (!ok) return std::nullopt;
    result.text = std::move(text);
    return result;
}

std::string ToWire(const QString& text) {
    QString crlf = text;
    crlf.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    crlf.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return crlf.toUtf8().toStdString();
}

QString FromWire(std::string_view bytes) {
    const std::size_t end = bytes.find('\0');
    if (end != std::string_view::npos) bytes = bytes.substr(0, end);
    QString text = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

std::string ToLatin1(const QString& text) {
    QString lf = text;
    lf.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    std::string out;
    out.reserve(std::size_t(lf.size()));
    for (const char32_t c : lf.toUcs4()) out += c < 0x100 ? char(c) : '?';
    return out;
}

QString FromLatin1(std::string_view bytes) {
    const std::size_t end = bytes.find('\0');
    if (end != std::string_view::npos) bytes = bytes.substr(0, end);
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

}  // namespace pelio::components::clipboard
