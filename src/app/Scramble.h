#pragma once

#include <QString>

// The program's hexadecimal scramble. It keeps the machine code in the per-user settings, is the last
// layer of the message encryption, and turns back the stored drop-box credentials.
namespace pelio::app {

// The fixed key text of the scramble and of the message encryption. The agent's program uses the same.
inline const QString ValueKey = QStringLiteral("qzlanternfoldwhisperbrick");

// The key stream: the decimal character codes of the key text, concatenated ("A" gives "65").
QString ScrambleKeyStream(const QString& keyText);

// Each character's code page 949 code XOR the code of the key-stream digit at its position, in
// upper-case hexadecimal, at least two digits (ASCII text gives exactly two a character; a
// double-byte character gives four, its signed 16-bit code in two's complement).
QString ScrambleHex(const QString& text, const QString& keyText);

// Reads two hexadecimal digits at a time (a last single digit alone), XORs each value with the
// key stream and appends the character of that code. A pair that is not valid hexadecimal reads as
// the value of its valid leading digit, or 0. Reverses ScrambleHex for ASCII text.
QString UnscrambleHex(const QString& hexText, const QString& keyText);

}  // namespace pelio::app
