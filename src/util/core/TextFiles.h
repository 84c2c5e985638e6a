#pragma once

#include <QString>

// Whole-file text reads and writes of the program's local files (transcripts, the request text).
namespace pelio::util {

// The whole file as text (UTF-8, or code page 949 when the bytes are not UTF-8); empty when the path
// is empty, missing or unreadable.
QString LoadTextFile(const QString& path);

// Writes text as UTF-8 (a text starting with U+FEFF starts the file with the UTF-8 byte-order mark).
// Without append the file is created or replaced whole, atomically: a failed write leaves the old
// content as it was. With append a carriage return and line feed and then the text are added at the
// end, the file being created when missing; a file that is not UTF-8 (written on Windows in code
// page 949) is converted to UTF-8 first, so the file never mixes two encodings. Returns false when
// nothing was written; callers may ignore it.
bool WriteTextFile(const QString& path, const QString& text, bool append);

}  // namespace pelio::util
