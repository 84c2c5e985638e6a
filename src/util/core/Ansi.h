#pragma once

#include <QByteArray>
#include <QString>

// The "ANSI code page" of the program: Korean code page 949 (the Unified Hangul Code superset of
// EUC-KR, all 11,172 syllables). Everything that crosses to a peer (cipher bytes, HTTP replies, form
// bodies, FTP names) goes through these functions.
namespace pelio::util {

// Encodes text into code page 949. A character the code page cannot hold becomes "?".
QByteArray ToAnsi(const QString& text);

// Decodes code page 949 bytes. A byte sequence that is not valid code page 949 becomes U+FFFD, one
// replacement a bad byte, and decoding goes on after it; it never fails.
QString FromAnsi(const QByteArray& bytes);

// The character's code in the code page, as the classic BASIC Asc function gives it: a single-byte
// character gives its byte (0..255), a double-byte character gives its two bytes as a signed 16-bit
// value (lead byte high), so 가 (B0 A1) gives -20319. An unmappable character gives 63 ("?").
int AnsiCode(QChar ch);

// The character whose code page 949 code is `code` (0..255 single byte, or a double-byte code as
// returned by AnsiCode or as an unsigned 16-bit value). A code that names no character gives U+FFFD.
QString AnsiChar(int code);

// True when `bytes` is valid UTF-8 with no forbidden sequences. Readers of local files use it to tell
// UTF-8 files from code page 949 files written on Windows.
bool IsValidUtf8(const QByteArray& bytes);

// Decodes a local text file's bytes: UTF-8 (with or without a byte-order mark) when they are valid
// UTF-8, otherwise code page 949.
QString DecodeLocalText(const QByteArray& bytes);

}  // namespace pelio::util
