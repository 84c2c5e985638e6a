#include "util/core/Ansi.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <mutex>

namespace pelio::util {

namespace {

// glibc's "CP949" is the Windows code page (Unified Hangul Code). ICU's converter of that name is a
// different IBM code page, which is why the conversion does not go through QStringConverter.
constexpr const char* kCodePage = "CP949";

class Converter {
  public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter() {
        if (m_cd != reinterpret_cast<iconv_t>(-1)) iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts `in`; on an invalid or unmappable input unit, calls onBad(out) and skips
    // badStep(position, bytesLeft) input bytes. Returns the converted bytes.
    template <typename BadStep, typename OnBad>
    QByteArray Run(const char* in, size_t inLeft, BadStep badStep, OnBad onBad) {
        QByteArray out;
        if (!ok()) return out;
        std::lock_guard lock(m_mutex);
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in);
        char buffer[4096];
        while (inLeft > 0) {
            char* dst = buffer;
            size_t dstLeft = sizeof buffer;
            size_t r = iconv(m_cd, &src, &inLeft, &dst, &dstLeft);
            out.append(buffer, static_cast<qsizetype>(dst - buffer));
            if (r != static_cast<size_t>(-1)) break;
            if (errno == E2BIG) continue;
            // EILSEQ (bad or unmappable) or EINVAL (incomplete at the end): replace one unit.
            onBad(out);
            size_t step = std::min(std::max<size_t>(badStep(src, inLeft), 1), inLeft);
            src += step;
            inLeft -= step;
            iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

  private:
    iconv_t m_cd;
    std::mutex m_mutex;
};

Converter& Encoder() {
    static Converter c(kCodePage, "UTF-16LE");
    return c;
}

Converter& Decoder() {
    static Converter c("UTF-16LE", kCodePage);
    return c;
}

bool IsAscii(const QString& text) {
    for (QChar c : text)
        if (c.unicode() >= 0x80) return false;
    return true;
}

}  // namespace

QByteArray ToAnsi(const QString& text) {
    if (IsAscii(text)) return text.toLatin1();
    // One "?" a character: a surrogate pair is skipped whole, any other bad unit alone.
    auto step = [](const char* at, size_t left) -> size_t {
        if (left >= 4) {
            char16_t hi = static_cast<char16_t>(static_cast<unsigned char>(at[0]) |
                                                (static_cast<unsigned char>(at[1]) << 8));
            char16_t lo = static_cast<char16_t>(static_cast<unsigned char>(at[2]) |
                                                (static_cast<unsigned char>(at[3]) << 8));
            if (QChar::isHighSurrogate(hi) && QChar::isLowSurrogate(lo)) return 4;
        }
        return 2;
    };
    const char* data = reinterpret_cast<const char*>(text.utf16());
    return Encoder().Run(data, static_cast<size_t>(text.size()) * 2, step,
                         [](QByteArray& out) { out.append('?'); });
}

QString FromAnsi(const QByteArray& bytes) {
    bool ascii = true;
    for (char b : bytes)
        if (static_cast<unsigned char>(b) >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii) return QString::fromLatin1(bytes);
    QByteArray utf16 = Decoder().Run(
        bytes.constData(), static_cast<size_t>(bytes.size()), [](const char*, size_t) -> size_t { return 1; },
        [](QByteArray& out) { out.append("\xFD\xFF", 2); });
    return QString(reinterpret_cast<const QChar*>(utf16.constData()), utf16.size() / 2);
}

int AnsiCode(QChar ch) {
    if (ch.unicode() < 0x80) return ch.unicode();
    QByteArray b = ToAnsi(QString(ch));
    if (b.size() == 1) return static_cast<unsigned char>(b[0]);
    if (b.size() == 2) {
        int v = (static_cast<unsigned char>(b[0]) << 8) | static_cast<unsigned char>(b[1]);
        return static_cast<int16_t>(v);
    }
    return '?';
}

QString AnsiChar(int code) {
    if (code >= 0 && code < 0x80) return QString(QChar(code));
    QByteArray b;
    if (code >= 0x80 && code <= 0xFF) {
        b.append(static_cast<char>(code));
    } else {
        int v = code & 0xFFFF;
        b.append(static_cast<char>(v >> 8));
        b.append(static_cast<char>(v & 0xFF));
    }
    QString s = FromAnsi(b);
    if (s.size() != 1) return QString(QChar(0xFFFD));
    return s;
}

bool IsValidUtf8(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= n) return false;
            unsigned char cc = p[i + k];
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

QString DecodeLocalText(const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) return QString::fromUtf8(bytes.mid(3));
    if (IsValidUtf8(bytes)) return QString::fromUtf8(bytes);
    return FromAnsi(bytes);
}

}  // namespace pelio::util
