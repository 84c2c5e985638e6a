#include "util/core/TextUtil.h"

#include "util/core/Ansi.h"

#include <QStringList>

namespace pelio::util {

namespace {

int HexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    return -1;
}

// True when the bytes end with a lead byte of code page 949 that still waits for its trail byte.
bool EndsWithOpenLeadByte(const QByteArray& bytes) {
    qsizetype i = 0;
    const qsizetype n = bytes.size();
    while (i < n) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b >= 0x81 && b <= 0xFE) {
            if (i + 1 >= n) return true;
            i += 2;
        } else {
            ++i;
        }
    }
    return false;
}

// The ASCII letters, which code page 949 also uses as trail bytes of its extended syllables.
bool IsTrailLetter(QChar c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

}  // namespace

QString UrlDecode(const QString& text) {
    QString s = text;
    s.replace(QStringLiteral("%9%9"), QStringLiteral("\t"), Qt::CaseInsensitive);
    s.replace(QStringLiteral("%A%A"), QStringLiteral("\n"), Qt::CaseInsensitive);
    s.replace(QStringLiteral("%D%D"), QStringLiteral("\r"), Qt::CaseInsensitive);
    s.remove(QStringLiteral("%0%0"), Qt::CaseInsensitive);

    QString out;
    out.reserve(s.size());
    QByteArray pending;  // encoded bytes not yet decoded
    auto flush = [&] {
        if (!pending.isEmpty()) out += FromAnsi(pending);
        pending.clear();
    };
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = s[i];
        if (c == u'%' && i + 2 < n && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
            pending.append(static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2])));
            i += 2;
            continue;
        }
        if (IsTrailLetter(c) && EndsWithOpenLeadByte(pending)) {
            pending.append(static_cast<char>(c.unicode()));
            continue;
        }
        flush();
        out += c;
    }
    flush();
    return out;
}

QString DecodeReplyText(const QString& text) {
    if (text.isEmpty()) return QString();
    if (!IsSingleByteText(text) || !text.contains(u'%')) return text;
    // The service sends blanks as "+"; replies are read the way it writes them, so a plus sign that
    // arrives encoded also reads as a blank.
    QString decoded = UrlDecode(text);
    decoded.replace(u'+', u' ');
    return decoded;
}

bool IsSingleByteText(const QString& text) {
    return ToAnsi(text).size() == text.size();
}

QString CleanWhitespace(const QString& text) {
    QString s = text;
    s.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    s.replace(u'\r', u' ');
    s.remove(u'\'');
    s.replace(u'\n', u' ');
    s.replace(u'\t', u' ');
    s.replace(QStringLiteral("  "), QStringLiteral(" "));
    s.replace(QStringLiteral("  "), QStringLiteral(" "));
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s[begin] == u' ') ++begin;
    while (end > begin && s[end - 1] == u' ') --end;
    return s.mid(begin, end - begin);
}

QString DigitsOnly(const QString& text, bool allowMinus) {
    if (text.isEmpty()) return QString();
    QString s = text;
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s[begin] == u' ') ++begin;
    while (end > begin && s[end - 1] == u' ') --end;
    s = s.mid(begin, end - begin);
    bool negative = false;
    if (allowMinus && s.startsWith(u'-')) {
        negative = true;
        s.remove(0, 1);
    }
    QString out;
    for (QChar c : s)
        if ((c >= u'0' && c <= u'9') || c == u'.') out += c;
    if (negative) out.prepend(u'-');
    return out;
}

QString FormatPhoneNumber(const QString& text) {
    const QString s = CleanWhitespace(text);
    if (s.isEmpty()) return s;
    for (QChar c : s)
        if (c < u'0' || c > u'9') return s;
    // Group sizes by length; a 10-digit Seoul number (02) has a four-digit middle group.
    auto groups = [&s](std::initializer_list<int> sizes) {
        QStringList parts;
        qsizetype at = 0;
        for (int size : sizes) {
            parts << s.mid(at, size);
            at += size;
        }
        return parts.join(u'-');
    };
    switch (s.size()) {
        case 7:
            return groups({3, 4});
        case 8:
            return groups({4, 4});
        case 9:
            return groups({2, 3, 4});
        case 10:
            if (s.startsWith(QStringLiteral("02"))) return groups({2, 4, 4});
            return groups({3, 3, 4});
        case 11:
            return groups({3, 4, 4});
        default:
            return s;
    }
}

int CountOccurrences(const QString& text, const QString& pattern) {
    if (pattern.isEmpty()) return 0;
    int count = 0;
    qsizetype from = 0;
    while ((from = text.indexOf(pattern, from, Qt::CaseInsensitive)) >= 0) {
        ++count;
        from += pattern.size();
    }
    return count;
}

}  // namespace pelio::util
