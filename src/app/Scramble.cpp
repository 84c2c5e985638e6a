#include "app/Scramble.h"

#include "util/core/Ansi.h"

namespace pelio::app {

namespace {

int HexDigit(QChar c) {
    if (c >= u'0' && c <= u'9') return c.unicode() - '0';
    if (c >= u'a' && c <= u'f') return c.unicode() - 'a' + 10;
    if (c >= u'A' && c <= u'F') return c.unicode() - 'A' + 10;
    return -1;
}

// The value of a pair of hexadecimal digits, read as far as its digits are valid.
int PairValue(const QString& pair) {
    int value = 0;
    for (QChar c : pair) {
        int d = HexDigit(c);
        if (d < 0) break;
        value = value * 16 + d;
    }
    return value;
}

}  // namespace

QString ScrambleKeyStream(const QString& keyText) {
    QString stream;
    for (QChar c : keyText) stream += QString::number(c.unicode());
    return stream;
}

QString ScrambleHex(const QString& text, const QString& keyText) {
    const QString stream = ScrambleKeyStream(keyText);
    if (stream.isEmpty()) return {};
    QString out;
    out.reserve(text.size() * 2);
    for (qsizetype n = 0; n < text.size(); ++n) {
        int k = stream[n % stream.size()].unicode();
        int code = util::AnsiCode(text[n]) ^ k;
        QString hex =
            QString::number(code < 0 ? static_cast<uint>(code) & 0xFFFF : static_cast<uint>(code), 16)
                .toUpper();
        if (hex.size() == 1) hex.prepend(u'0');
        out += hex;
    }
    return out;
}

QString UnscrambleHex(const QString& hexText, const QString& keyText) {
    const QString stream = ScrambleKeyStream(keyText);
    if (stream.isEmpty()) return {};
    QString out;
    out.reserve(hexText.size() / 2 + 1);
    for (qsizetype pos = 0, k = 0; pos < hexText.size(); pos += 2, ++k) {
        int value = PairValue(hexText.mid(pos, 2));
        int code = value ^ stream[k % stream.size()].unicode();
        out += util::AnsiChar(code);
    }
    return out;
}

}  // namespace pelio::app
