#include "transfer/ChatHtml.h"

#include "transfer/AgentHtml.h"

#include "util/core/Ansi.h"
#include "util/core/Colors.h"
#include "util/core/Paths.h"
#include "util/core/TextUtil.h"

#include <QRegularExpression>
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

QString AgentChatLineHtml(const QString& agentName, const QDateTime& when, const QString& fragment) {
    return kCrLf + QStringLiteral("<br><font size=2 color=#0000FF>") + EscapeAngles(agentName) +
           QStringLiteral(" (") + GeneralDateTime(when) + QStringLiteral(")</font>:<br>") + fragment +
           QStringLiteral("<br>") + kCrLf;
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

QString DroppedRichText(const QString& html) {
    QString part = html;
    const QString start = QStringLiteral("<!--StartFragment-->"), end = QStringLiteral("<!--EndFragment-->");
    const qsizetype fragment = html.indexOf(start);
    const qsizetype fragmentEnd = fragment < 0 ? -1 : html.indexOf(end, fragment + start.size());
    if (fragmentEnd >= 0) {
        part = html.mid(fragment + start.size(), fragmentEnd - fragment - start.size());
    } else {
        static const QRegularExpression body(
            QStringLiteral("<body\\b[^>]*>(.*)</body\\s*>"),
            QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
        const QRegularExpressionMatch match = body.match(html);
        if (match.hasMatch()) part = match.captured(1);
    }
    const QString kept = SanitizeAgentHtml(part).trimmed();
    // Only tags and blanks: nothing to read.
    static const QRegularExpression tags(QStringLiteral("<[^>]*>|&nbsp;|\\s"));
    if (QString(kept).remove(tags).isEmpty()) return QString();
    return QStringLiteral("<p>") + kept + QStringLiteral("</p>");
}

}  // namespace pelio::transfer
