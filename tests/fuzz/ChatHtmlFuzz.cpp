// Feeds arbitrary text and style bits to GetHtml. Text that is not taken as the customer's own HTML
// must come out holding only the markup the rules add: font (face, color), span (style), b, i, br and
// a (href, target). The output is read with the tag and attribute rules of an HTML parser.
//   byte 0: bit 0 bold, bit 1 italic, bit 2 a font name that holds quotes
//   rest:   the input as UTF-8
#include "transfer/ChatHtml.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

struct Tag {
    QString name;  // lower case; "!" for a comment, declaration or bogus end tag
    QStringList attributes;
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
            tags.push_back({QStringLiteral("!"), {}});
            continue;
        }
        if (html[i] == u'/') {
            ++i;
            if (i < n && !IsAsciiLetter(html[i]) && html[i] != u'>')
                tags.push_back({QStringLiteral("!"), {}});
        }
        if (i >= n || !IsAsciiLetter(html[i])) continue;  // "<" as text
        Tag tag;
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
            while (i < n && IsSpace(html[i])) ++i;
            if (i >= n || html[i] != u'=') continue;
            ++i;
            while (i < n && IsSpace(html[i])) ++i;
            if (i < n && (html[i] == u'"' || html[i] == u'\'')) {
                const QChar quote = html[i++];
                while (i < n && html[i] != quote) ++i;
                ++i;
            } else {
                while (i < n && !IsSpace(html[i]) && html[i] != u'>') ++i;
            }
        }
        tags.push_back(tag);
    }
    return tags;
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
