#include "util/core/IniFile.h"

#include "util/core/Ansi.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace pelio::util {

namespace {

// Files larger than this are not settings files; reading stops there so a stray huge file cannot
// exhaust memory.
constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;

bool IsProfileBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

QString TrimProfileBlanks(const QString& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && IsProfileBlank(s[b])) ++b;
    while (e > b && IsProfileBlank(s[e - 1])) --e;
    return s.mid(b, e - b);
}

QString TrimSpaces(const QString& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && s[b] == u' ') ++b;
    while (e > b && s[e - 1] == u' ') --e;
    return s.mid(b, e - b);
}

struct ParsedLine {
    enum Kind { Other, Section, Entry } kind = Other;
    QString name;   // section name or key, trimmed
    QString value;  // entry value, trimmed
};

ParsedLine ParseLine(const QString& raw) {
    ParsedLine p;
    QString line = TrimProfileBlanks(raw);
    if (line.isEmpty() || line.startsWith(u';')) return p;
    if (line.startsWith(u'[')) {
        qsizetype close = line.indexOf(u']');
        p.kind = ParsedLine::Section;
        p.name = TrimProfileBlanks(close < 0 ? line.mid(1) : line.mid(1, close - 1));
        return p;
    }
    p.kind = ParsedLine::Entry;
    qsizetype eq = line.indexOf(u'=');
    if (eq < 0) {
        p.name = line;
    } else {
        p.name = TrimProfileBlanks(line.left(eq));
        p.value = TrimProfileBlanks(line.mid(eq + 1));
    }
    return p;
}

// The lines of a settings file, each kept as its bytes (so that a write gives back every line it does
// not change exactly as it was) and as its text for reading.
struct FileLines {
    QList<QByteArray> bytes;  // without the line feed; a carriage return before it stays
    QStringList text;         // decoded, without the line break
    bool complete = false;    // the lines are the whole file (a missing file is complete and empty)
    QByteArray newLineEnd;    // "\r" when the file's lines end with CR LF: new lines follow its style
};

// A line as text: UTF-8 when its bytes are UTF-8, else code page 949 (lines written on Windows). Each
// line is decided on its own, so one stray byte cannot change how the other lines read.
QString DecodeLine(QByteArrayView line) {
    if (line.endsWith('\r')) line.chop(1);
    const QByteArray bytes = line.toByteArray();
    return IsValidUtf8(bytes) ? QString::fromUtf8(bytes) : FromAnsi(bytes);
}

// Reads the file's lines. A file that cannot be read, or is larger than kMaxFileBytes (no settings
// file is), gives no lines and is not complete: a writer must not replace a file it could not read
// whole.
FileLines ReadLines(const QString& file) {
    FileLines lines;
    QFile f(file);
    lines.complete = !f.exists();
    if (!f.open(QIODevice::ReadOnly)) return lines;
    const QByteArray all = f.read(kMaxFileBytes + 1);
    if (all.size() > kMaxFileBytes || f.error() != QFileDevice::NoError) return lines;
    lines.complete = true;
    lines.bytes = all.split('\n');
    if (lines.bytes.last().isEmpty()) lines.bytes.removeLast();
    if (!lines.bytes.isEmpty() && lines.bytes.first().endsWith('\r')) lines.newLineEnd = "\r";
    for (qsizetype i = 0; i < lines.bytes.size(); ++i) {
        QByteArrayView line = lines.bytes[i];
        if (i == 0 && line.startsWith("\xEF\xBB\xBF")) line = line.sliced(3);  // byte-order mark
        lines.text << DecodeLine(line);
    }
    return lines;
}

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Cuts text to at most maxBytes code page 949 bytes, at a character boundary.
QString CutToAnsiBytes(const QString& text, int maxBytes) {
    if (text.size() * 2 <= maxBytes) return text;
    int bytes = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        qsizetype len = (text[i].isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        int n = static_cast<int>(ToAnsi(text.mid(i, len)).size());
        if (bytes + n > maxBytes) break;
        bytes += n;
        i += len;
    }
    return text.left(i);
}

QString ReplaceLineBreakMarker(QString value) {
    // "\n\r" compared without regard to case.
    static const QString marker = QStringLiteral("\\n\\r");
    qsizetype pos = 0;
    while ((pos = value.indexOf(marker, pos, Qt::CaseInsensitive)) >= 0) {
        value.replace(pos, marker.size(), QStringLiteral("\r\n"));
        pos += 2;
    }
    return value;
}

bool SectionWritable(const QString& section) {
    QString s = TrimProfileBlanks(section);
    return !s.isEmpty() && !s.contains(u']') && !s.contains(u'\r') && !s.contains(u'\n') &&
           !s.contains(QChar(0));
}

bool KeyWritable(const QString& key) {
    QString k = TrimProfileBlanks(key);
    return !k.isEmpty() && !k.contains(u'=') && !k.contains(u'\r') && !k.contains(u'\n') &&
           !k.contains(QChar(0)) && !k.startsWith(u'[') && !k.startsWith(u';');
}

}  // namespace

QString ProfileRead(const QString& file, const QString& section, const QString& key) {
    const QString wantedSection = TrimProfileBlanks(section);
    const QString wantedKey = TrimProfileBlanks(key);
    bool inSection = false;
    bool sectionSeen = false;
    for (const QString& raw : ReadLines(file).text) {
        ParsedLine p = ParseLine(raw);
        if (p.kind == ParsedLine::Section) {
            if (inSection) break;  // only the first matching section counts
            inSection = !sectionSeen && SameName(p.name, wantedSection);
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        if (!inSection || p.kind != ParsedLine::Entry || !SameName(p.name, wantedKey)) continue;
        QString value = p.value;
        if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
            value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        return CutToAnsiBytes(value, kIniValueMaxBytes);
    }
    return {};
}

bool ProfileWrite(const QString& file, const QString& section, const QString& key, const QString& rawValue) {
    if (!SectionWritable(section) || !KeyWritable(key)) return false;
    const QString sec = TrimProfileBlanks(section);
    const QString k = TrimProfileBlanks(key);
    // A value is one line: cut at a NUL like the C interface would, and keep any line break as the
    // marker so the next line cannot turn into an entry or a section.
    QString value =
        rawValue.left(rawValue.indexOf(QChar(0)) < 0 ? rawValue.size() : rawValue.indexOf(QChar(0)));
    value.replace(QStringLiteral("\r\n"), QStringLiteral("\\n\\r"));
    value.replace(u'\r', QStringLiteral("\\n\\r"));
    value.replace(u'\n', QStringLiteral("\\n\\r"));
    const QString entry = k + u'=' + value;

    FileLines lines = ReadLines(file);
    if (!lines.complete) return false;
    const QByteArray entryBytes = entry.toUtf8() + lines.newLineEnd;
    qsizetype sectionLine = -1;
    qsizetype insertAt = -1;  // after the last entry of the section
    bool replaced = false;
    for (qsizetype i = 0; i < lines.text.size(); ++i) {
        ParsedLine p = ParseLine(lines.text[i]);
        if (p.kind == ParsedLine::Section) {
            if (sectionLine >= 0) break;
            if (SameName(p.name, sec)) {
                sectionLine = i;
                insertAt = i + 1;
            }
            continue;
        }
        if (sectionLine < 0) continue;
        if (p.kind == ParsedLine::Entry) {
            if (SameName(p.name, k)) {
                lines.bytes[i] = entryBytes;
                replaced = true;
                break;
            }
            insertAt = i + 1;
        }
    }
    if (!replaced) {
        if (sectionLine >= 0) {
            lines.bytes.insert(insertAt, entryBytes);
        } else {
            lines.bytes << (u'[' + sec + u']').toUtf8() + lines.newLineEnd << entryBytes;
        }
    }

    QFileInfo info(file);
    if (!info.absoluteDir().exists()) return false;
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) return false;
    QByteArray bytes = lines.bytes.join('\n');
    bytes.append('\n');
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

QString IniRead(const QString& file, const QString& section, const QString& key, const QString& defaultValue,
                bool keepBlanks) {
    if (section.isEmpty()) return defaultValue;
    QString value = ProfileRead(file, section, key);
    if (value.isEmpty()) return defaultValue;
    qsizetype nul = value.indexOf(QChar(0));
    if (nul >= 0) value.truncate(nul);
    if (!keepBlanks) value = TrimSpaces(value);
    return ReplaceLineBreakMarker(value);
}

int IniReadInt(const QString& file, const QString& section, const QString& key, int defaultValue) {
    QString text = IniRead(file, section, key);
    bool ok = false;
    int v = text.toInt(&ok);
    return ok ? v : defaultValue;
}

double IniReadDouble(const QString& file, const QString& section, const QString& key, double defaultValue) {
    QString text = IniRead(file, section, key);
    bool ok = false;
    double v = text.toDouble(&ok);
    return ok ? v : defaultValue;
}

bool IniReadBool(const QString& file, const QString& section, const QString& key, bool defaultValue) {
    QString text = IniRead(file, section, key);
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return true;
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return false;
    bool ok = false;
    int v = text.toInt(&ok);
    return ok ? v != 0 : defaultValue;
}

void IniWrite(const QString& file, const QString& section, const QString& key, const QString& value) {
    if (section.isEmpty()) return;
    QString stored = value;
    stored.replace(QStringLiteral("\r\n"), QStringLiteral("\\n\\r"));
    ProfileWrite(file, section, key, stored);
}

QStringList SplitListValue(const QString& value, const QString& separator) {
    QStringList items;
    if (separator.isEmpty()) {
        if (!value.isEmpty()) items << value;
        return items;
    }
    for (const QString& piece : value.split(separator))
        if (!piece.isEmpty()) items << piece;
    return items;
}

QString JoinListValue(const QStringList& items, const QString& separator, int maximum) {
    QString value;
    qsizetype count = items.size();
    if (maximum > 0 && count > maximum) count = maximum;
    for (qsizetype i = 0; i < count; ++i) value += items[i] + separator;
    return value;
}

}  // namespace pelio::util
