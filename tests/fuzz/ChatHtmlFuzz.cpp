// Feeds arbitrary text and style bits to the chat view's two ways in. The outputs are read with the tag
// and attribute rules of an HTML parser.
// GetHtml: text that is not taken as the customer's own HTML must come out holding only the markup the
// rules add: font (face, color), span (style), b, i, br and a (href, target).
// SanitizeAgentHtml, given the text as an agent's line and as a notice of the program's: the output
// holds only br, b, i, u, p, font (color, size, face), span and a (href), so never a class attribute
// and never the notice mark; every href is an http:, https: or mailto: address as the browser reads
// it; every "<" begins a tag; the tags nest and are all closed; and sanitizing the output again gives
// it back unchanged.
//   byte 0: bit 0 bold, bit 1 italic, bit 2 a font name that holds quotes
//   rest:   the input as UTF-8
#include "transfer/ChatHtml.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

struct Tag {
    QString name;  // lower case; "!" for a comment, declaration or bogus end tag
    bool end = false;
    QStringList attributes;
    QStringList values;  // as written, without quotes; empty without a value
};

bool IsSpace(QChar c) {
    return c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r' || c == u' ';
}

bool IsAsciiLetter(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// The tags of html with their attribute names, as an HTML tokenizer finds them.
std::vector<Tag> Tags(const QString& html) {
    std::vector<Tag> tags;
    const qsizetype n = html.size();
    qsizetype i = 0;
    while (i < n) {
        if (html[i++] != u'<') continue;
        if (i >= n) break;
        if (html[i] == u'!' || html[i] == u'?') {
            tags.push_back({QStringLiteral("!"), false, {}, {}});
            continue;
        }
        Tag tag;
        if (html[i] == u'/') {
            ++i;
            tag.end = true;
            if (i < n && !IsAsciiLetter(html[i]) && html[i] != u'>')
                tags.push_back({QStringLiteral("!"), true, {}, {}});
        }
        if (i >= n || !IsAsciiLetter(html[i])) continue;  // "<" as text
        while (i < n && !IsSpace(html[i]) && html[i] != u'/' && html[i] != u'>')
            tag.name += html[i++].toLower();
        while (i < n) {
            while (i < n && (IsSpace(html[i]) || html[i] == u'/')) ++i;
            if (i >= n) break;
            if (html[i] == u'>') {
                ++i;
                break;
            }
            QString attribute(html[i++]);  // a leading "=" belongs to the name
            while (i < n && !IsSpace(html[i]) && html[i] != u'/' && html[i] != u'>' && html[i] != u'=')
                attribute += html[i++];
            tag.attributes << attribute.toLower();
            tag.values << QString();
            while (i < n && IsSpace(html[i])) ++i;
            if (i >= n || html[i] != u'=') continue;
            ++i;
            while (i < n && IsSpace(html[i])) ++i;
            const qsizetype start = i;
            if (i < n && (html[i] == u'"' || html[i] == u'\'')) {
                const QChar quote = html[i++];
                while (i < n && html[i] != quote) ++i;
                tag.values.back() = html.mid(start + 1, i - start - 1);
                ++i;
            } else {
                while (i < n && !IsSpace(html[i]) && html[i] != u'>') ++i;
                tag.values.back() = html.mid(start, i - start);
            }
        }
        tags.push_back(tag);
    }
    return tags;
}

// An href as the sanitizer writes it: its only references are &amp; &lt; &gt; &quot;, it holds no
// control character, and its scheme is http, https or mailto in any ASCII case.
bool IsAllowedHref(const QString& value) {
    static const std::pair<QStringView, QChar> kReferences[] = {
        {u"&amp;", u'&'}, {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&quot;", u'"'}};
    QString address;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'&') {
            address += value[i];
            continue;
        }
        bool known = false;
        for (const auto& [reference, character] : kReferences) {
            if (QStringView(value).mid(i).startsWith(reference)) {
                address += character;
                i += reference.size() - 1;
                known = true;
                break;
            }
        }
        if (!known) return false;
    }
    for (const QChar c : address)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) return false;
    const auto scheme = [&](const char* name) {
        const QString prefix = QString::fromLatin1(name) + u':';
        if (address.size() < prefix.size()) return false;
        for (qsizetype i = 0; i < prefix.size(); ++i) {
            const char16_t c = address[i].unicode();
            if ((c >= u'A' && c <= u'Z' ? c + 0x20 : c) != prefix[i].unicode()) return false;
        }
        return true;
    };
    return scheme("http") || scheme("https") || scheme("mailto");
}

void CheckSanitized(const QString& input) {
    const QString out = pelio::transfer::SanitizeAgentHtml(input);
    static const QHash<QString, QSet<QString>> allowed = {
        {QStringLiteral("font"), {QStringLiteral("color"), QStringLiteral("size"), QStringLiteral("face")}},
        {QStringLiteral("span"), {}},
        {QStringLiteral("a"), {QStringLiteral("href")}},
        {QStringLiteral("b"), {}},
        {QStringLiteral("i"), {}},
        {QStringLiteral("u"), {}},
        {QStringLiteral("p"), {}},
        {QStringLiteral("br"), {}},
    };
    // Every "<" begins a tag: no comment, declaration or stray "<" that a browser might read otherwise.
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out[i] != u'<') continue;
        const qsizetype name = i + 1 < out.size() && out[i + 1] == u'/' ? i + 2 : i + 1;
        if (name >= out.size() || !IsAsciiLetter(out[name])) std::abort();
    }
    QStringList open;
    for (const Tag& tag : Tags(out)) {
        const auto found = allowed.constFind(tag.name);
        if (found == allowed.cend()) std::abort();
        if (tag.end) {
            if (open.isEmpty() || open.takeLast() != tag.name) std::abort();
            continue;
        }
        for (qsizetype a = 0; a < tag.attributes.size(); ++a) {
            if (!found->contains(tag.attributes[a])) std::abort();
            if (tag.attributes[a] == u"href" && !IsAllowedHref(tag.values[a])) std::abort();
        }
        if (tag.name != u"br") open << tag.name;
    }
    if (!open.isEmpty()) std::abort();
    if (pelio::transfer::SanitizeAgentHtml(out) != out) std::abort();
}

bool TakenAsHtml(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.remove(u'\n');
    text.remove(u' ');
    return text.startsWith(u'<') && text.endsWith(u'>');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    pelio::transfer::ChatInputStyle style;
    style.bold = data[0] & 1;
    style.italic = data[0] & 2;
    if (data[0] & 4) style.fontName = QStringLiteral("A' b=\"c");
    const QString input =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    CheckSanitized(input);
    CheckSanitized(pelio::transfer::MarkedNoticeHtml(input));

    const QString html = pelio::transfer::GetHtml(input, style);
    if (TakenAsHtml(input)) return 0;

    static const QHash<QString, QSet<QString>> allowed = {
        {QStringLiteral("font"), {QStringLiteral("face"), QStringLiteral("color")}},
        {QStringLiteral("span"), {QStringLiteral("style")}},
        {QStringLiteral("a"), {QStringLiteral("href"), QStringLiteral("target")}},
        {QStringLiteral("b"), {}},
        {QStringLiteral("i"), {}},
        {QStringLiteral("br"), {}},
    };
    for (const Tag& tag : Tags(html)) {
        const auto found = allowed.constFind(tag.name);
        if (found == allowed.cend()) std::abort();
        for (const QString& attribute : tag.attributes)
            if (!found->contains(attribute)) std::abort();
    }
    return 0;
}
