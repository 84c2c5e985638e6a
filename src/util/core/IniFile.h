#pragma once

#include <QString>
#include <QStringList>

// The settings file: a sectioned key=value text file read and written with the classic
// private-profile rules.
//
// Reading: sections and keys match without regard to case; the first matching section and the first
// matching key in it count; blanks around keys and values are ignored, and a value enclosed in a pair
// of matching quotes loses them; lines starting with ";" are comments; a line without "=" is a key
// with an empty value. Each line is read as UTF-8 when it is valid UTF-8, else as code page 949
// (lines written on Windows), so one stray byte affects its own line only. A file larger than 16 MiB is
// not a settings file: it reads as empty (every read gives its default) and is never written.
//
// Writing: the file is created by the first write; the entry is replaced in place, added at the end
// of its section, or added with a new section at the end of the file, in UTF-8. Every other line is
// written back byte for byte as it was. The file is written whole to a temporary file and renamed
// over the old one, so a failed or interrupted write leaves the old content intact. A write never
// corrupts other entries: a line break left in a value is stored as "\n\r" like the others, and a
// section or key that could not be read back as itself (empty, holding a line break, "=" or "]" in a
// section, or starting with "[" or ";") is not written at all.
namespace pelio::util {

// The longest value, in code page 949 bytes, that a read returns: values are cut at a character
// boundary to fit a buffer of 1,500 bytes.
inline constexpr int kIniValueMaxBytes = 1499;

// Low-level private-profile access.
// ProfileRead returns the value text as the platform reader would put it into a 1,500-byte buffer
// (blanks trimmed, quotes removed, cut), or an empty text when the file, section or key is missing.
QString ProfileRead(const QString& file, const QString& section, const QString& key);
// ProfileWrite stores key=value; returns false when nothing was written.
bool ProfileWrite(const QString& file, const QString& section, const QString& key, const QString& value);

// Returns the value of the key, or `defaultValue` when the section name is empty, the key is missing
// or its value is empty. Unless keepBlanks is set, blanks around the value are removed. Every "\n\r"
// (any case) in the value becomes a carriage return and line feed.
QString IniRead(const QString& file, const QString& section, const QString& key,
                const QString& defaultValue = QString(), bool keepBlanks = false);

// The same read for numbers, colours and flags stored as decimal text: `defaultValue` when the value
// is missing, empty or not a number of that kind.
int IniReadInt(const QString& file, const QString& section, const QString& key, int defaultValue);
double IniReadDouble(const QString& file, const QString& section, const QString& key, double defaultValue);
// "True"/"False" (any case) and integers (non-zero is true).
bool IniReadBool(const QString& file, const QString& section, const QString& key, bool defaultValue);

// Stores the value; every carriage return and line feed pair is stored as "\n\r". An empty section
// name writes nothing. Failures are not reported.
void IniWrite(const QString& file, const QString& section, const QString& key, const QString& value);

// Lists of section "ListBox": items each followed by the separator. SplitListValue gives the
// non-empty pieces of a stored value; JoinListValue joins at most `maximum` items (all when
// maximum <= 0) into one value.
QStringList SplitListValue(const QString& value, const QString& separator);
QString JoinListValue(const QStringList& items, const QString& separator, int maximum);

}  // namespace pelio::util
