// Feeds arbitrary text to the value decryption and checks the encryption round trip.
//   first byte even: the rest, read as Latin-1 (so every byte is one character), is decrypted;
//   first byte odd:  the rest, read as UTF-8, is encrypted and must decrypt to its code page 949 form.
#include "app/Base64.h"
#include "app/ValueCipher.h"
#include "util/core/Ansi.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const char* rest = reinterpret_cast<const char*>(data + 1);
    const auto restSize = static_cast<qsizetype>(size - 1);
    if ((data[0] & 1) == 0) {
        const QString text = QString::fromLatin1(rest, restSize);
        pelio::app::DecryptValue(text);
        pelio::app::Base64Decode(text);
    } else {
        const QString text = QString::fromUtf8(rest, restSize);
        const QString expected = pelio::util::FromAnsi(pelio::util::ToAnsi(text));
        if (pelio::app::DecryptValue(pelio::app::EncryptValue(text)) != expected) std::abort();
    }
    return 0;
}
