#include "transfer/ChatHtml.h"

#include "util/core/Ansi.h"
#include "util/core/Colors.h"
#include "util/core/Paths.h"
#include "util/core/TextUtil.h"

#include <QSet>
#include <QStringList>

#include <vector>

namespace pelio::transfer {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
// A line break while the words are split at blanks; it stays a word of its own.
const QString kBreakMark = QStringLiteral("<<br>>");
const QString kHint = QStringLiteral(
    "<div><font color='#FF9966'>하단에 내용을 입력 후 엔터를 치거나 [보내기] 단추를 누르세요.</font></div>"
    "<hr size=1 noshade><br>");

QString HtmlColor(const QColor& color) {
    return util::ColorToHtml(util::ColorFromChannels(color.red(), color.green(), color.blue()));
}

// Every LF that does not follow a CR gets one.
QString WithCrLfLineEnds(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) out += u'\r';
        out += text[i];
    }
    return out;
}

// Input that, without line breaks and blanks, begins with "<" and ends with ">" is the customer's own
// HTML.
bool IsCustomerHtml(const QString& text) {
    QString t = text;
    t.remove(kCrLf);
    t.remove(u' ');
    return t.startsWith(u'<') && t.endsWith(u'>');
}

bool LooksLikeAddress(const QString& word) {
    if (!word.contains(u'.')) return false;
    if (!word.contains(u'@') && util::IsSingleByteText(word)) return true;
    return word.contains(QStringLiteral("www."), Qt::CaseInsensitive) ||
           word.contains(QStringLiteral("http"), Qt::CaseInsensitive);
}

// Whether a browser could read the address's scheme as one that runs a script. Browsers decode
// character references in attribute values and drop blanks and control characters around and inside
// the scheme, so a scheme part holding "&" is taken as unsafe too.
bool RunsScript(const QString& address) {
    const qsizetype colon = address.indexOf(u':');
    if (colon < 0) return false;
    QString scheme = address.left(colon);
    if (scheme.contains(u'&')) return true;
    scheme.removeIf([](QChar c) { return c.unicode() <= 0x20; });
    scheme = scheme.toLower();
    return scheme == u"javascript" || scheme == u"vbscript" || scheme == u"data";
}

// An unquoted attribute value ends at a blank or control character, and older parsers also end it at
// an apostrophe or backtick; an address holding one is quoted so that the rest cannot become an
// attribute. Double quotes and angle brackets are escaped before.
bool NeedsQuotes(const QString& address) {
    for (const QChar c : address)
        if (c.unicode() <= 0x20 || c.unicode() == 0x7F || c == u'\'' || c == u'`') return true;
    return false;
}

// The word as a link that opens in a new window, or the word itself when its address would run a
// script.
QString LinkOf(const QString& word) {
    const QString address = word.contains(u':') ? word : QStringLiteral("http://") + word;
    if (RunsScript(address)) return word;
    const QString href = NeedsQuotes(address) ? u'"' + address + u'"' : address;
    return QStringLiteral("<a href=") + href + QStringLiteral(" target=_blank>") + word +
           QStringLiteral("</a>");
}

// Plain text as HTML: escaped, addresses linked, line breaks, blank runs and tabs made visible.
QString PlainTextHtml(QString s) {
    s.replace(u'<', QStringLiteral("&lt;"));
    s.replace(u'>', QStringLiteral("&gt;"));
    s.replace(kCrLf, u' ' + kBreakMark + u' ');
    s.replace(u'"', QStringLiteral("&quot;"));

    QString r;
    for (const QString& word : s.split(u' ')) {
        const QString piece = LooksLikeAddress(word) ? LinkOf(word) : word;
        // Empty words before the first one that is not empty vanish: leading blanks are dropped.
        if (r.isEmpty())
            r = piece;
        else
            r += u' ' + piece;
    }

    r.replace(u' ' + kBreakMark + u' ', QStringLiteral("<br>") + kCrLf);
    r.replace(kBreakMark, QStringLiteral("<br>") + kCrLf);
    r.replace(QStringLiteral("  "), QStringLiteral("&nbsp;&nbsp;"));
    r.replace(u'\t', QStringLiteral("&nbsp;&nbsp;&nbsp;&nbsp;"));
    return r;
}

// "<" and ">" of plain text escaped, as the customer's input is.
QString EscapeAngles(QString text) {
    text.replace(u'<', QStringLiteral("&lt;"));
    text.replace(u'>', QStringLiteral("&gt;"));
    return text;
}

// Every "%" followed by two hexadecimal digits read as that byte, the bytes as UTF-8; a "%" without
// two digits, or with those of a control character, stays as it is.
QString DecodePercentEscapes(const QString& text) {
    if (!text.contains(u'%')) return text;
    const QByteArray bytes = text.toUtf8();
    QByteArray out;
    out.reserve(bytes.size());
    const auto hex = [](char c) {
        return (c >= '0' && c <= '9')   ? c - '0'
               : (c >= 'a' && c <= 'f') ? c - 'a' + 10
               : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                        : -1;
    };
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '%' && i + 2 < bytes.size() && hex(bytes[i + 1]) >= 2 && hex(bytes[i + 2]) >= 0) {
            out += char(hex(bytes[i + 1]) * 16 + hex(bytes[i + 2]));
            i += 2;
        } else {
            out += bytes[i];
        }
    }
    return QString::fromUtf8(out);
}

// --- Agent lines: a tokenizer that splits HTML as a browser's does, and the allow-list on top. ---

const QString kNoticeMark = QStringLiteral(" class=pelio-notice");
constexpr std::size_t kMaxOpenTags = 100;

bool IsHtmlSpace(QChar c) {
    return c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r' || c == u' ';
}

bool IsAsciiAlpha(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool IsAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

bool IsAsciiHexDigit(QChar c) {
    return IsAsciiDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Tag and attribute names are compared in ASCII lower case only, as the browser does: a letter outside
// ASCII that lowers to an ASCII one must not turn an unknown name into an allowed one.
QString AsciiLower(QStringView text) {
    QString out = text.toString();
    for (QChar& c : out)
        if (c >= u'A' && c <= u'Z') c = QChar(c.unicode() + 0x20);
    return out;
}

struct Attribute {
    QString name;   // ASCII lower case
    QString value;  // as written, without its quotes
    bool hasValue = false;
};

struct Token {
    enum Kind { Text, StartTag, EndTag, Ignored } kind = Text;
    qsizetype begin = 0;
    qsizetype end = 0;
    QString name;           // tags: ASCII lower case
    qsizetype nameEnd = 0;  // tags: where the name ends in the source
    std::vector<Attribute> attributes;
};

// Splits HTML into text, start tags, end tags and what a browser ignores (comments, declarations,
// processing instructions, "</>", a tag the input ends in), following the tokenizer of the HTML
// standard: a "<" begins a tag only before a letter, attribute values in quotes may hold ">", a tag
// never finished is no tag. The caller keeps the text.
class Tokenizer {
  public:
    explicit Tokenizer(const QString& html) : m_s(html) {}

    // The next token; false at the end.
    bool Next(Token& token) {
        const qsizetype n = m_s.size();
        if (m_pos >= n) return false;
        token = Token{};
        token.begin = m_pos;
        if (m_s[m_pos] == u'<') {
            const QChar next = At(m_pos + 1);
            if (IsAsciiAlpha(next)) {
                ReadTag(token, Token::StartTag, m_pos + 1);
                return true;
            }
            if (next == u'/' && m_pos + 2 < n) {
                const QChar after = m_s[m_pos + 2];
                if (IsAsciiAlpha(after))
                    ReadTag(token, Token::EndTag, m_pos + 2);
                else if (after == u'>')
                    Ignore(token, m_pos + 3);
                else
                    IgnoreThroughClose(token, m_pos + 2);
                return true;
            }
            if (next == u'!') {
                if (QStringView(m_s).mid(m_pos + 2, 2) == u"--")
                    IgnoreComment(token, m_pos + 4);
                else
                    IgnoreThroughClose(token, m_pos + 2);
                return true;
            }
            if (next == u'?') {
                IgnoreThroughClose(token, m_pos + 1);
                return true;
            }
        }
        // Text up to the next "<" that begins markup; a "<" here begins none and is text.
        qsizetype i = m_pos + 1;
        while (i < n && !(m_s[i] == u'<' && BeginsMarkup(i))) ++i;
        token.kind = Token::Text;
        token.end = m_pos = i;
        return true;
    }

    // After the start tag of an element whose content is raw text (script, style, ...): skips to its
    // end tag, or to the end when there is none.
    void SkipRawText(const QString& name) {
        const qsizetype n = m_s.size();
        for (qsizetype i = m_s.indexOf(QStringLiteral("</"), m_pos); i >= 0;
             i = m_s.indexOf(QStringLiteral("</"), i + 2)) {
            const qsizetype after = i + 2 + name.size();
            if (after < n && AsciiLower(QStringView(m_s).mid(i + 2, name.size())) == name &&
                (IsHtmlSpace(m_s[after]) || m_s[after] == u'/' || m_s[after] == u'>')) {
                m_pos = i;
                return;
            }
        }
        m_pos = n;
    }

  private:
    QChar At(qsizetype i) const { return i < m_s.size() ? m_s[i] : QChar(); }

    bool BeginsMarkup(qsizetype i) const {
        const QChar next = At(i + 1);
        return IsAsciiAlpha(next) || next == u'!' || next == u'?' || (next == u'/' && i + 2 < m_s.size());
    }

    void Ignore(Token& token, qsizetype end) {
        token.kind = Token::Ignored;
        token.end = m_pos = qMin(end, m_s.size());
    }

    // A bogus comment: everything up to and including the next ">".
    void IgnoreThroughClose(Token& token, qsizetype from) {
        const qsizetype close = m_s.indexOf(u'>', from);
        Ignore(token, close < 0 ? m_s.size() : close + 1);
    }

    // A comment whose "<!--" ends before from: "<!-->" and "<!--->" are empty ones, otherwise it ends
    // at "-->" or "--!>", or with the input.
    void IgnoreComment(Token& token, qsizetype from) {
        if (At(from) == u'>') return Ignore(token, from + 1);
        if (At(from) == u'-' && At(from + 1) == u'>') return Ignore(token, from + 2);
        for (qsizetype i = m_s.indexOf(QStringLiteral("--"), from); i >= 0;
             i = m_s.indexOf(QStringLiteral("--"), i + 1)) {
            if (At(i + 2) == u'>') return Ignore(token, i + 3);
            if (At(i + 2) == u'!' && At(i + 3) == u'>') return Ignore(token, i + 4);
        }
        Ignore(token, m_s.size());
    }

    // A tag whose name begins at from. The input ending inside it makes it ignored, with all the rest.
    void ReadTag(Token& token, Token::Kind kind, qsizetype from) {
        const qsizetype n = m_s.size();
        qsizetype i = from;
        const auto endsName = [&](QChar c) { return IsHtmlSpace(c) || c == u'/' || c == u'>'; };
        while (i < n && !endsName(m_s[i])) ++i;
        token.name = AsciiLower(QStringView(m_s).mid(from, i - from));
        token.nameEnd = i;
        for (;;) {
            while (i < n && (IsHtmlSpace(m_s[i]) || m_s[i] == u'/')) ++i;
            if (i >= n) return Ignore(token, n);
            if (m_s[i] == u'>') {
                ++i;
                break;
            }
            // The first character belongs to the name, even "=".
            const qsizetype nameStart = i++;
            while (i < n && !endsName(m_s[i]) && m_s[i] != u'=') ++i;
            Attribute attribute;
            attribute.name = AsciiLower(QStringView(m_s).mid(nameStart, i - nameStart));
            while (i < n && IsHtmlSpace(m_s[i])) ++i;
            if (i < n && m_s[i] == u'=') {
                ++i;
                while (i < n && IsHtmlSpace(m_s[i])) ++i;
                if (i >= n) return Ignore(token, n);
                attribute.hasValue = true;
                if (m_s[i] == u'"' || m_s[i] == u'\'') {
                    const qsizetype close = m_s.indexOf(m_s[i], i + 1);
                    if (close < 0) return Ignore(token, n);
                    attribute.value = m_s.mid(i + 1, close - i - 1);
                    i = close + 1;
                } else {
                    const qsizetype valueStart = i;
                    while (i < n && !IsHtmlSpace(m_s[i]) && m_s[i] != u'>') ++i;
                    attribute.value = m_s.mid(valueStart, i - valueStart);
                }
            }
            token.attributes.push_back(std::move(attribute));
        }
        token.kind = kind;
        token.end = m_pos = i;
    }

    const QString& m_s;
    qsizetype m_pos = 0;
};

// The length of the character reference at text[at] ("&name;", "&#digits;", "&#xhex;"), or 0 when an
// "&" there begins none.
qsizetype ReferenceLength(QStringView text, qsizetype at) {
    const qsizetype n = text.size();
    qsizetype i = at + 1;
    if (i < n && text[i] == u'#') {
        ++i;
        const bool hex = i < n && (text[i] == u'x' || text[i] == u'X');
        if (hex) ++i;
        const qsizetype digits = i;
        while (i < n && (hex ? IsAsciiHexDigit(text[i]) : IsAsciiDigit(text[i]))) ++i;
        if (i == digits) return 0;
    } else {
        if (i >= n || !IsAsciiAlpha(text[i])) return 0;
        while (i < n && (IsAsciiAlpha(text[i]) || IsAsciiDigit(text[i]))) ++i;
    }
    return i < n && text[i] == u';' ? i + 1 - at : 0;
}

// Text or an attribute value with its character references as they are and every other "&", "<" and
// ">" (and in a value '"') escaped.
QString EscapedKeepingReferences(QStringView text, bool inAttribute) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'&') {
            const qsizetype length = ReferenceLength(text, i);
            if (length > 0) {
                out += text.mid(i, length);
                i += length - 1;
            } else {
                out += QStringLiteral("&amp;");
            }
        } else if (c == u'<') {
            out += QStringLiteral("&lt;");
        } else if (c == u'>') {
            out += QStringLiteral("&gt;");
        } else if (c == u'"' && inAttribute) {
            out += QStringLiteral("&quot;");
        } else {
            out += c;
        }
    }
    return out;
}

// An attribute value as the browser reads it: numeric references and &amp; &lt; &gt; &quot; &apos;
// resolved once. Any other "&" stays, which does no harm: it is escaped when written again.
QString ResolvedReferences(QStringView value) {
    static const std::pair<QStringView, QChar> kNamed[] = {
        {u"&amp;", u'&'}, {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&quot;", u'"'}, {u"&apos;", u'\''}};
    QString out;
    const qsizetype n = value.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (value[i] != u'&') {
            out += value[i];
            continue;
        }
        if (i + 1 < n && value[i + 1] == u'#') {
            qsizetype j = i + 2;
            const bool hex = j < n && (value[j] == u'x' || value[j] == u'X');
            if (hex) ++j;
            const qsizetype digits = j;
            char32_t code = 0;
            while (j < n && (hex ? IsAsciiHexDigit(value[j]) : IsAsciiDigit(value[j]))) {
                const int digit = IsAsciiDigit(value[j]) ? value[j].unicode() - u'0'
                                                         : (value[j].unicode() | 0x20) - u'a' + 10;
                code = qMin<char32_t>(code * (hex ? 16 : 10) + digit, 0x110000);
                ++j;
            }
            if (j > digits) {
                // The browser takes the reference without its ";" too; what cannot be a character is U+FFFD.
                if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
                out += QString::fromUcs4(&code, 1);
                i = (j < n && value[j] == u';') ? j : j - 1;
                continue;
            }
        }
        bool named = false;
        for (const auto& [reference, character] : kNamed) {
            if (value.mid(i).startsWith(reference)) {
                out += character;
                i += reference.size() - 1;
                named = true;
                break;
            }
        }
        if (!named) out += u'&';
    }
    return out;
}

// Whether address begins with scheme (lower case) and ":", the scheme in any ASCII case.
bool HasScheme(QStringView address, QStringView scheme) {
    if (address.size() <= scheme.size() || address[scheme.size()] != u':') return false;
    for (qsizetype i = 0; i < scheme.size(); ++i) {
        const char16_t c = address[i].unicode();
        if ((c >= u'A' && c <= u'Z' ? c + 0x20 : c) != scheme[i].unicode()) return false;
    }
    return true;
}

// Addresses a line may open: web pages and mail.
bool IsOutsideAddress(QStringView address) {
    return HasScheme(address, u"http") || HasScheme(address, u"https") || HasScheme(address, u"mailto");
}

// A link's address as the browser reads the attribute, without control characters (which the
// browser drops from addresses) and blanks around it; empty when it is not one a line may open.
QString LinkAddress(const QString& value) {
    QString address = ResolvedReferences(value);
    address.removeIf([](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
    while (address.startsWith(u' ')) address.remove(0, 1);
    while (address.endsWith(u' ')) address.chop(1);
    return IsOutsideAddress(address) ? address : QString();
}

// A value that can stand without quotes: the agent's own lines write colours, sizes and addresses that
// way. It holds no blank, quote, "<", ">", "&" or backtick.
bool IsPlainWord(QStringView value) {
    if (value.isEmpty()) return false;
    for (const QChar c : value)
        if (!IsAsciiAlpha(c) && !IsAsciiDigit(c) && !QStringView(u"#%+,-./:;=?@_~").contains(c)) return false;
    return true;
}

void AppendAttribute(QString& out, const QString& name, const QString& escapedValue) {
    out += u' ' + name + u'=';
    out += IsPlainWord(escapedValue) ? escapedValue : u'"' + escapedValue + u'"';
}

// The allowed attributes of an allowed start tag, each with a leading blank. As in the browser, the
// first attribute of a name counts and later ones are ignored.
QString AllowedAttributes(const Token& tag) {
    QString out;
    QSet<QString> seen;
    for (const Attribute& attribute : tag.attributes) {
        if (seen.contains(attribute.name)) continue;
        seen.insert(attribute.name);
        if (!attribute.hasValue) continue;
        if (tag.name == u"font" &&
            (attribute.name == u"color" || attribute.name == u"size" || attribute.name == u"face")) {
            AppendAttribute(out, attribute.name, EscapedKeepingReferences(attribute.value, true));
        } else if (tag.name == u"a" && attribute.name == u"href") {
            const QString address = LinkAddress(attribute.value);
            if (!address.isEmpty()) AppendAttribute(out, attribute.name, address.toHtmlEscaped());
        }
    }
    return out;
}

bool IsAllowedTag(const QString& name) {
    static const QStringList kAllowed{QStringLiteral("br"),   QStringLiteral("b"), QStringLiteral("i"),
                                      QStringLiteral("u"),    QStringLiteral("p"), QStringLiteral("font"),
                                      QStringLiteral("span"), QStringLiteral("a")};
    return kAllowed.contains(name);
}

// Elements whose content the browser reads as raw text: it goes with them.
bool DropsContent(const QString& name) {
    static const QStringList kRawText{QStringLiteral("script"),  QStringLiteral("style"),
                                      QStringLiteral("iframe"),  QStringLiteral("noscript"),
                                      QStringLiteral("noembed"), QStringLiteral("noframes"),
                                      QStringLiteral("xmp"),     QStringLiteral("textarea"),
                                      QStringLiteral("title"),   QStringLiteral("plaintext")};
    return kRawText.contains(name);
}

}  // namespace

QString GetHtml(const QString& input, const ChatInputStyle& style) {
    QString s = WithCrLfLineEnds(input);
    if (!s.contains(kCrLf) && s.startsWith(u' ') && !s.contains(u'<'))
        s.replace(QStringLiteral("  "), QStringLiteral("&nbsp;&nbsp;"));
    if (IsCustomerHtml(s)) return s;

    QString r = PlainTextHtml(s);
    if (style.bold) r = QStringLiteral("<b>") + r + QStringLiteral("</b>");
    if (style.italic) r = QStringLiteral("<i>") + r + QStringLiteral("</i>");
    // The font name comes from the font dialog or the settings file; an apostrophe would end the
    // attribute.
    QString face = style.fontName;
    face.replace(u'\'', QStringLiteral("&#39;"));
    return QStringLiteral("<font face='%1' color='%2'><span style='font-size:%3pt;'>%4</span></font>")
        .arg(face, HtmlColor(style.color), QString::number(style.pointSize, 'g', 10), r);
}

QString ChatLineHtml(const QString& customerName, const QString& customerPhone, const QDateTime& when,
                     const QString& fragment) {
    return kCrLf + QStringLiteral("<br><font size=2 color=#008000>") + EscapeAngles(customerName) +
           QStringLiteral(" / ") + EscapeAngles(customerPhone) + QStringLiteral(" (") +
           GeneralDateTime(when) + QStringLiteral(")</font>:<br>") + fragment + QStringLiteral("<br>") +
           kCrLf;
}

QString GeneralDateTime(const QDateTime& when) {
    if (!when.isValid()) return QString();
    const QTime time = when.time();
    const int hour = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
    return QStringLiteral("%1 %2 %3:%4")
        .arg(when.date().toString(u"yyyy-MM-dd"),
             time.hour() < 12 ? QStringLiteral("오전") : QStringLiteral("오후"), QString::number(hour),
             time.toString(u"mm:ss"));
}

QString ChatStartPage(const QColor& background) {
    return QStringLiteral(
               "about:<style type='text/css'>body {border:1px;margin:3px;font-size:12px;"
               "background-color:") +
           HtmlColor(background) + QStringLiteral(";} a:link, a:visited {color:#0000CC;}</style>") + kHint;
}

QString ChatBackgroundStyle(const QColor& background) {
    return QStringLiteral("body {border:1px solid #999999;margin:3px;font-size:12px;background-color:") +
           HtmlColor(background) + QStringLiteral(";}");
}

QString TranscriptFromBody(const QString& bodyOuterHtml) {
    const QString br = QStringLiteral("<br>");
    const qsizetype first = bodyOuterHtml.indexOf(br, 0, Qt::CaseInsensitive);
    QString text = first < 0 ? bodyOuterHtml : bodyOuterHtml.mid(first + br.size());
    text.replace(br, br + kCrLf, Qt::CaseInsensitive);
    return QStringLiteral("<html>") + text + QStringLiteral("</html>");
}

QString SanitizeAgentHtml(const QString& html) {
    struct Open {
        QString name;
        bool written;  // an a without an allowed address is kept open unwritten, to pair its end tag
    };
    std::vector<Open> open;
    QString out;
    out.reserve(html.size());
    const auto openAt = [&](const QString& name) -> qsizetype {
        for (qsizetype i = qsizetype(open.size()) - 1; i >= 0; --i)
            if (open[std::size_t(i)].name == name) return i;
        return -1;
    };
    // Closes the tag open at index and every tag opened inside it.
    const auto closeFrom = [&](qsizetype index) {
        while (qsizetype(open.size()) > index) {
            if (open.back().written) out += QStringLiteral("</") + open.back().name + u'>';
            open.pop_back();
        }
    };

    Tokenizer tokens(html);
    Token token;
    while (tokens.Next(token)) {
        switch (token.kind) {
            case Token::Text:
                out += EscapedKeepingReferences(QStringView(html).mid(token.begin, token.end - token.begin),
                                                false);
                break;
            case Token::Ignored:
                break;
            case Token::EndTag:
                // The browser reads "</br>" as a line break.
                if (token.name == u"br") {
                    out += QStringLiteral("<br>");
                } else if (const qsizetype at = openAt(token.name); at >= 0) {
                    closeFrom(at);
                }
                break;
            case Token::StartTag: {
                if (DropsContent(token.name)) {
                    tokens.SkipRawText(token.name);
                    break;
                }
                if (!IsAllowedTag(token.name)) break;
                if (token.name == u"br") {
                    out += QStringLiteral("<br>");
                    break;
                }
                // Neither nests in the browser: a new one ends the one open.
                if (token.name == u"p" || token.name == u"a")
                    if (const qsizetype at = openAt(token.name); at >= 0) closeFrom(at);
                if (open.size() >= kMaxOpenTags) break;
                const QString attributes = AllowedAttributes(token);
                const bool written = token.name != u"a" || !attributes.isEmpty();
                if (written) out += u'<' + token.name + attributes + u'>';
                open.push_back({token.name, written});
                break;
            }
        }
    }
    closeFrom(0);
    return out;
}

QString MarkedNoticeHtml(const QString& html) {
    QString out;
    qsizetype copied = 0;
    Tokenizer tokens(html);
    Token token;
    while (tokens.Next(token)) {
        if (token.kind != Token::StartTag || (token.name != u"font" && token.name != u"span")) continue;
        out += QStringView(html).mid(copied, token.nameEnd - copied);
        out += kNoticeMark;
        copied = token.nameEnd;
    }
    out += QStringView(html).mid(copied);
    return out;
}

ChatNavigation DecideChatNavigation(const QString& address,
                                    const std::function<bool(const QString&)>& fileExists) {
    const QString separator = QStringLiteral("::");
    const qsizetype split = address.indexOf(separator);
    const QString first = split < 0 ? address : address.left(split);
    if (first.compare(QStringLiteral("explorer"), Qt::CaseInsensitive) == 0) {
        // The rest of the address is the path, even when it holds "::" itself.
        QString path = split < 0 ? QString() : address.mid(split + separator.size());
        path = DecodePercentEscapes(path);
        if (!path.isEmpty() && fileExists && fileExists(path))
            return {ChatNavigation::ShowInFileManager, path};
        return {ChatNavigation::ShowFolder, util::FolderOfPath(path)};
    }
    if (address.startsWith(QStringLiteral("about"), Qt::CaseInsensitive))
        return {ChatNavigation::Allow, QString()};
    if (IsOutsideAddress(address)) return {ChatNavigation::OpenOutside, address};
    return {ChatNavigation::Refuse, QString()};
}

ChatKey ChatKeyAction(int key, Qt::KeyboardModifiers modifiers) {
    if (key == Qt::Key_F8) return ChatKey::InsertDateTime;
    if (key != Qt::Key_Return && key != Qt::Key_Enter) return ChatKey::Default;
    const Qt::KeyboardModifiers held = modifiers & ~Qt::KeypadModifier;
    if (held == Qt::ShiftModifier || held == Qt::AltModifier) return ChatKey::LineBreak;
    return ChatKey::Send;
}

QString DroppedHtmlFragment(const QByteArray& htmlFormat) {
    const QString text = util::FromAnsi(htmlFormat);
    // Bytes that are not code page 949 decode to replacement characters, which would pass as one byte.
    if (!util::IsSingleByteText(text) || text.contains(QChar::ReplacementCharacter)) return QString();
    const QString start = QStringLiteral("<!--StartFragment-->");
    const qsizetype begin = text.indexOf(start);
    if (begin < 0) return QString();
    const qsizetype from = begin + start.size();
    const qsizetype end = text.indexOf(QStringLiteral("<!--EndFragment-->"), from);
    if (end < 0) return QString();
    return QStringLiteral("<p>") + text.mid(from, end - from) + QStringLiteral("</p>");
}

}  // namespace pelio::transfer
