#include "app/ValueCipher.h"

#include "app/Base64.h"
#include "app/Scramble.h"
#include "util/core/Ansi.h"

#include <cstdint>
#include <optional>
#include <utility>

namespace pelio::app {

namespace {

std::uint8_t* BytesOf(QByteArray& bytes) {
    return reinterpret_cast<std::uint8_t*>(bytes.data());
}

}  // namespace

Blowfish MakeValueKeySchedule() {
    Blowfish cipher;
    const QByteArray key = util::ToAnsi(ValueKey);
    cipher.SetKey(
        {reinterpret_cast<const std::uint8_t*>(key.constData()), static_cast<std::size_t>(key.size())});
    return cipher;
}

const Blowfish& ValueKeySchedule() {
    static const Blowfish schedule = MakeValueKeySchedule();
    return schedule;
}

QString EncryptValue(const QString& text) {
    return EncryptValue(text, ValueKeySchedule());
}

QString DecryptValue(const QString& hexText) {
    return DecryptValue(hexText, ValueKeySchedule());
}

QString EncryptValue(const QString& text, const Blowfish& cipher) {
    if (text.isEmpty()) return {};
    QByteArray bytes = util::ToAnsi(text);
    const auto pad = static_cast<qsizetype>(Blowfish::kBlockSize - bytes.size() % Blowfish::kBlockSize);
    bytes.append(pad, static_cast<char>(pad));
    std::uint8_t* data = BytesOf(bytes);
    for (qsizetype i = 0; i < bytes.size(); i += Blowfish::kBlockSize) cipher.EncryptBlock(data + i);
    return ScrambleHex(Base64Encode(bytes), ValueKey);
}

QString DecryptValue(const QString& hexText, const Blowfish& cipher) {
    if (hexText.isEmpty()) return {};
    std::optional<QByteArray> decoded = Base64Decode(UnscrambleHex(hexText, ValueKey));
    if (!decoded) return {};
    QByteArray bytes = std::move(*decoded);
    bytes.truncate(bytes.size() - bytes.size() % Blowfish::kBlockSize);
    if (bytes.isEmpty()) return {};
    std::uint8_t* data = BytesOf(bytes);
    for (qsizetype i = 0; i < bytes.size(); i += Blowfish::kBlockSize) cipher.DecryptBlock(data + i);
    const std::uint8_t pad = data[bytes.size() - 1];
    if (pad <= Blowfish::kBlockSize) bytes.chop(pad);
    if (bytes.isEmpty()) return {};
    return util::FromAnsi(bytes);
}

}  // namespace pelio::app
