#include "transfer/AgentHtml.h"

#include <QSet>
#include <QStringList>

#include <vector>

namespace pelio::transfer {

namespace {

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

bool IsOutsideAddress(QStringView address) {
    return HasScheme(address, u"http") || HasScheme(address, u"https") || HasScheme(address, u"mailto");
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

}  // namespace pelio::transfer
