#pragma once

#include "app/Blowfish.h"

#include <QString>

// The encryption of the values that travel between the customer's and the agent's programs (the
// session messages): code page 949 bytes, Blowfish in electronic-codebook mode under ValueKey,
// Base64, then ScrambleHex with ValueKey. Both programs depend on every detail of it.
namespace pelio::app {

// A new key schedule of ValueKey (521 block encryptions).
Blowfish MakeValueKeySchedule();

// The key schedule of ValueKey, made once on first use and read-only after that, so any thread may
// use it. It only depends on ValueKey, so it gives the same results as a schedule made per call.
const Blowfish& ValueKeySchedule();

// Empty for empty text. Otherwise the text's code page 949 bytes (a character the code page lacks
// becomes "?"), padded with n bytes of value n (n = 1..8, so that the length is a multiple of 8),
// each 8-byte block encrypted on its own, in Base64, scrambled: upper-case hexadecimal, two digits
// for each Base64 character.
QString EncryptValue(const QString& text);

// Reverses EncryptValue. Empty for empty text and for text that is not Base64 once unscrambled. An
// incomplete last block is dropped. The last byte b is the padding: b bytes are dropped when b is 8
// or less, nothing when it is above 8. Never reads outside the input, whatever it holds.
QString DecryptValue(const QString& hexText);

// The same with the caller's key schedule (ValueKeySchedule() or MakeValueKeySchedule()).
QString EncryptValue(const QString& text, const Blowfish& cipher);
QString DecryptValue(const QString& hexText, const Blowfish& cipher);

}  // namespace pelio::app
