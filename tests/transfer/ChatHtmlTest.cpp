#include "transfer/ChatHtml.h"

#include <gtest/gtest.h>

#include <QSet>

#include <ostream>

// Failures show the text itself.
void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

using namespace pelio::transfer;

namespace {

const QString kOpen = QStringLiteral("<font face='굴림' color='#000000'><span style='font-size:11pt;'>");
const QString kClose = QStringLiteral("</span></font>");

// The fragment for input in the default style, without the font wrapper.
QString Body(const QString& input) {
    const QString html = GetHtml(input, ChatInputStyle{});
    if (!html.startsWith(kOpen) || !html.endsWith(kClose)) return QStringLiteral("NO WRAPPER: ") + html;
    return html.mid(kOpen.size(), html.size() - kOpen.size() - kClose.size());
}

QString Link(const QString& href, const QString& text) {
    return QStringLiteral("<a href=%1 target=_blank>%2</a>").arg(href, text);
}

}  // namespace

TEST(ChatHtml, BlanksLineBreaksAndTabs) {
    EXPECT_EQ(Body(QStringLiteral("  ")), QStringLiteral("&nbsp;&nbsp;"));
    EXPECT_EQ(Body(QStringLiteral(" ")), QString());
    EXPECT_EQ(Body(QStringLiteral("a  b")), QStringLiteral("a&nbsp;&nbsp;b"));
    // A single line that begins with two blanks keeps them; one leading blank, and the leading blanks
    // of a text of several lines, are dropped.
    EXPECT_EQ(Body(QStringLiteral("  a")), QStringLiteral("&nbsp;&nbsp;a"));
    EXPECT_EQ(Body(QStringLiteral(" a")), QStringLiteral("a"));
    EXPECT_EQ(Body(QStringLiteral("  a\r\nb")), QStringLiteral("a<br>\r\nb"));
    // A lone LF is a line break too; an empty line gives two breaks.
    EXPECT_EQ(Body(QStringLiteral("a\nb\r\n\r\nc")), QStringLiteral("a<br>\r\nb<br>\r\n<br>\r\nc"));
    EXPECT_EQ(Body(QStringLiteral("a\tb")), QStringLiteral("a&nbsp;&nbsp;&nbsp;&nbsp;b"));
    EXPECT_EQ(Body(QStringLiteral("1 < 2 \"q\" & r")), QStringLiteral("1 &lt; 2 &quot;q&quot; & r"));
}

TEST(ChatHtml, CustomerHtmlComesBackUnwrapped) {
    EXPECT_EQ(GetHtml(QStringLiteral("<b>굵게</b>"), ChatInputStyle{}), QStringLiteral("<b>굵게</b>"));
    EXPECT_EQ(GetHtml(QStringLiteral(" <b>x</b>\n "), ChatInputStyle{}), QStringLiteral(" <b>x</b>\r\n "));
    // Not both ends: plain text.
    EXPECT_EQ(Body(QStringLiteral("<b>x")), QStringLiteral("&lt;b&gt;x"));
}

TEST(ChatHtml, WordsThatLookLikeAddressesBecomeLinks) {
    EXPECT_EQ(Body(QStringLiteral("see a.b now")),
              QStringLiteral("see ") + Link(QStringLiteral("http://a.b"), QStringLiteral("a.b")) +
                  QStringLiteral(" now"));
    // With ":" the word is its own address.
    EXPECT_EQ(Body(QStringLiteral("https://x.y/z")),
              Link(QStringLiteral("https://x.y/z"), QStringLiteral("https://x.y/z")));
    EXPECT_EQ(Body(QStringLiteral("a.b/x?y=1&z=2")),
              Link(QStringLiteral("http://a.b/x?y=1&z=2"), QStringLiteral("a.b/x?y=1&z=2")));
    // "@" keeps a word plain unless it names the web.
    EXPECT_EQ(Body(QStringLiteral("me@a.b")), QStringLiteral("me@a.b"));
    EXPECT_EQ(Body(QStringLiteral("me@WWW.a.b")),
              Link(QStringLiteral("http://me@WWW.a.b"), QStringLiteral("me@WWW.a.b")));
    // Hangul words link only with "www." or "http" and a dot.
    EXPECT_EQ(Body(QStringLiteral("홈.페이지")), QStringLiteral("홈.페이지"));
    EXPECT_EQ(Body(QStringLiteral("www.홈.kr")),
              Link(QStringLiteral("http://www.홈.kr"), QStringLiteral("www.홈.kr")));
    EXPECT_EQ(Body(QStringLiteral("http홈")), QStringLiteral("http홈"));
}

TEST(ChatHtml, PlainTextNeverAddsAttributesOrScriptLinks) {
    // A carriage return or a quote inside an unquoted address would end it; the rest would become an
    // attribute of the link.
    EXPECT_EQ(Body(QStringLiteral("a.b\ronmouseover=alert(1)")),
              Link(QStringLiteral("\"http://a.b\ronmouseover=alert(1)\""),
                   QStringLiteral("a.b\ronmouseover=alert(1)")));
    EXPECT_EQ(Body(QStringLiteral("a.b/x'onx=")),
              Link(QStringLiteral("\"http://a.b/x'onx=\""), QStringLiteral("a.b/x'onx=")));
    // Addresses that would run a script stay text, however the scheme is spelt.
    EXPECT_EQ(Body(QStringLiteral("JavaScript:alert(1).x")), QStringLiteral("JavaScript:alert(1).x"));
    EXPECT_EQ(Body(QStringLiteral("java\tscript:x.y")),
              QStringLiteral("java&nbsp;&nbsp;&nbsp;&nbsp;script:x.y"));
    EXPECT_EQ(Body(QStringLiteral("java&#115;cript:x.y")), QStringLiteral("java&#115;cript:x.y"));
    // A font name cannot end its attribute either.
    ChatInputStyle style;
    style.fontName = QStringLiteral("A' onload='x");
    EXPECT_TRUE(
        GetHtml(QStringLiteral("a"), style).startsWith(QStringLiteral("<font face='A&#39; onload=&#39;x'")));
}

TEST(ChatHtml, StyleWrapsBoldInsideItalicAndWritesTheSize) {
    ChatInputStyle style;
    style.fontName = QStringLiteral("Nanum");
    style.pointSize = 10.5;
    style.bold = true;
    style.italic = true;
    style.color = QColor(0x12, 0xAB, 0xEF);
    EXPECT_EQ(GetHtml(QStringLiteral("x"), style),
              QStringLiteral("<font face='Nanum' color='#12ABEF'><span style='font-size:10.5pt;'>"
                             "<i><b>x</b></i></span></font>"));
}

TEST(ChatHtml, ChatLineAndGeneralDateTime) {
    EXPECT_EQ(GeneralDateTime(QDateTime(QDate(2026, 12, 7), QTime(16, 5, 9))),
              QStringLiteral("2026-12-07 오후 4:05:09"));
    EXPECT_EQ(GeneralDateTime(QDateTime(QDate(2026, 1, 2), QTime(0, 0, 0))),
              QStringLiteral("2026-01-02 오전 12:00:00"));
    EXPECT_EQ(GeneralDateTime(QDateTime(QDate(2026, 1, 2), QTime(12, 30, 0))),
              QStringLiteral("2026-01-02 오후 12:30:00"));

    // The caller cuts a line into pieces of 300 characters, counted on exactly this text.
    const QString head = QStringLiteral(
        "\r\n<br><font size=2 color=#008000>홍길동 / 010-1234-5678 (2026-12-07 오전 9:01:02)</font>:<br>");
    const QString tail = QStringLiteral("<br>\r\n");
    const QString fragment(650 - head.size() - tail.size(), u'가');
    const QString line = ChatLineHtml(QStringLiteral("홍길동"), QStringLiteral("010-1234-5678"),
                                      QDateTime(QDate(2026, 12, 7), QTime(9, 1, 2)), fragment);
    EXPECT_EQ(line, head + fragment + tail);
    EXPECT_EQ(line.size(), 650);
    // The customer's name and phone are text.
    EXPECT_TRUE(ChatLineHtml(QStringLiteral("<b>"), QStringLiteral("1>"), QDateTime(), QString())
                    .contains(QStringLiteral("&lt;b&gt; / 1&gt; ()")));
}

TEST(ChatHtml, TranscriptDropsTheHintAndBreaksLines) {
    EXPECT_EQ(TranscriptFromBody(QStringLiteral("<body><div>hint</div><hr><BR>a<Br>b<br></body>")),
              QStringLiteral("<html>a<br>\r\nb<br>\r\n</body></html>"));
    EXPECT_EQ(TranscriptFromBody(QStringLiteral("<body>x</body>")),
              QStringLiteral("<html><body>x</body></html>"));
}

TEST(ChatHtml, AgentLinesKeepTheAllowedMarkupAndTheirText) {
    // A line as the agent's program writes it comes back as it was, less its span's style and the
    // link's target.
    EXPECT_EQ(SanitizeAgentHtml(QStringLiteral(
                  "\r\n<br><font size=2 color=#0000FF>상담원 (2026-12-07 오후 4:05:09)</font>:<br>"
                  "<font face='굴림' color='#000000'><span style='font-size:11pt;'><b>굵게</b> <i>기울임</i> "
                  "<u>밑줄</u><BR/><P>문단</P><a href=http://a.b/x?y=1 target=_blank>a.b</a></span></font>"
                  "<br>\r\n")),
              QStringLiteral("\r\n<br><font size=2 color=#0000FF>상담원 (2026-12-07 오후 4:05:09)</font>:<br>"
                             "<font face=\"굴림\" color=#000000><span><b>굵게</b> <i>기울임</i> "
                             "<u>밑줄</u><br><p>문단</p><a href=http://a.b/x?y=1>a.b</a></span></font>"
                             "<br>\r\n"));
    // References stay as written, never read twice; a bare "&", "<" or ">" is escaped.
    EXPECT_EQ(SanitizeAgentHtml(QStringLiteral("&lt;script&gt; &amp;lt; &#44032;&#xAC00; a & b < c > d <3")),
              QStringLiteral("&lt;script&gt; &amp;lt; &#44032;&#xAC00; a &amp; b &lt; c &gt; d &lt;3"));
    EXPECT_EQ(SanitizeAgentHtml(QStringLiteral("<font face=\"a&quot;b\" color='x\"y'>t</font>")),
              QStringLiteral("<font face=\"a&quot;b\" color=\"x&quot;y\">t</font>"));
}

TEST(ChatHtml, AgentLinesCannotPassForNotices) {
    const QString notice = QStringLiteral("상담원이 파일 전송을 수락하여 전송을 시작합니다.");
    EXPECT_EQ(SanitizeAgentHtml(QStringLiteral("<font size=2 color=#008080 class=\"pelio-notice\">") +
                                notice + QStringLiteral("</font>")),
              QStringLiteral("<font size=2 color=#008080>") + notice + QStringLiteral("</font>"));
    EXPECT_EQ(SanitizeAgentHtml(QStringLiteral("<span class=pelio-notice style='color:#008080;font-size:10pt'"
                                               " data-notice=1 id=x>x</span>"
                                               "<font style=\"color:red\" CLASS=pelio-notice>y</font>")),
              QStringLiteral("<span>x</span><font>y</font>"));

    // The program's own lines get the mark on every font and span, and nothing else changes.
    EXPECT_EQ(MarkedNoticeHtml(QStringLiteral("\r\n<br><font size=2 color=gray>a</font><SPAN>b</SPAN>"
                                              "<a href='explorer::/r/<font>.txt'>c</a><font>d<br>\r\n")),
              QStringLiteral("\r\n<br><font class=pelio-notice size=2 color=gray>a</font>"
                             "<SPAN class=pelio-notice>b</SPAN><a href='explorer::/r/<font>.txt'>c</a>"
                             "<font class=pelio-notice>d<br>\r\n"));
    EXPECT_EQ(MarkedNoticeHtml(QStringLiteral("끝이 잘린 줄<fo")), QStringLiteral("끝이 잘린 줄<fo"));
}

TEST(ChatHtml, AgentLinksOpenOnlyWebPagesAndMail) {
    const auto link = [](const QString& href) {
        return SanitizeAgentHtml(QStringLiteral("<a href=\"%1\">x</a>").arg(href));
    };
    // The address must not hand anything to a local program: the link goes, its text stays.
    for (const char* href :
         {"file:///usr/bin/xterm", "javascript:alert(1)", " JaVaScRiPt:alert(1)", "java&#9;script:alert(1)",
          "&#106;avascript:alert(1)", "javascript&colon;x", "explorer::/home/u/.bashrc",
          "EXPLORER::C:\\Windows", "data:text/html,x", "vbscript:x", "/usr/bin/xterm", "setup.exe",
          "\\\\host\\share\\a.exe", "ht tp://a.b", "\xC2\xA0http://a.b", ""})
        EXPECT_EQ(link(QString::fromUtf8(href)), QStringLiteral("x")) << href;
    EXPECT_EQ(SanitizeAgentHtml(QStringLiteral("<a href>x</a><a name=y>y</a>")), QStringLiteral("xy"));
    // The first href counts, as in the browser.
    EXPECT_EQ(SanitizeAgentHtml(QStringLiteral("<a href=javascript:x href=http://a.b>x</a>")),
              QStringLiteral("x"));

    // The address is written as the browser reads it.
    EXPECT_EQ(link(QStringLiteral("HTTPS://A.B/c d")), QStringLiteral("<a href=\"HTTPS://A.B/c d\">x</a>"));
    EXPECT_EQ(link(QStringLiteral(" \r\nmailto:a@b.c ")), QStringLiteral("<a href=mailto:a@b.c>x</a>"));
    EXPECT_EQ(link(QStringLiteral("&#x68;t\ttp://a.b/?q=1&amp;r=&quot;2&quot;&lt;")),
              QStringLiteral("<a href=\"http://a.b/?q=1&amp;r=&quot;2&quot;&lt;\">x</a>"));
}

TEST(ChatHtml, AgentLinesLoseScriptsAndMalformedTricks) {
    const auto same = [](const char* in, const char* out) {
        EXPECT_EQ(SanitizeAgentHtml(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
    };
    same("a<script>alert('</b>')</script>b<SCRIPT >x</SCRIPT\t>c<style>b{color:red}</style>d", "abcd");
    same("<img src=x onerror=alert(1)><iframe src=http://a.b>in</iframe><svg onload=x>s</svg>", "s");
    same(
        "<b onclick=x style=color:red>b</b><form action=http://a.b><input name=p></form><meta "
        "http-equiv=refresh content='0;url=http://a.b'><base href=http://a.b/>",
        "<b>b</b>");
    same("<!-- <script>x</script> -->a<!-->b<!--->c<!x>d<?x>e</>f</ x>g<!--", "abcdefg");
    // A tag name holding "<", a quoted ">" in an attribute, a tag the line ends in.
    same("<scr<script>ipt>alert(1)</script>", "ipt&gt;alert(1)");
    same("<a href=\"http://a.b\" title=\">\"onmouseover=y>x</a>", "<a href=http://a.b>x</a>");
    same("<b>x<font color=red", "<b>x</b>");
    same("<b>x<a href='http://a.b>y</a>", "<b>x</b>");
    same("a<", "a&lt;");
    same("<<b>>", "&lt;<b>&gt;</b>");
    // Every tag is closed in order, so that nothing runs into the next line.
    same("<b><i>x</b>y</i>", "<b><i>x</i></b>y");
    same("<font color=red><p>a<p>b</font></p></b>c", "<font color=red><p>a</p><p>b</p></font>c");
    same("<a href=http://a.b>a<a href=http://c.d>c</a>d</a>",
         "<a href=http://a.b>a</a><a href=http://c.d>c</a>d");
    same("<a href=file:///x>a<b>b</a>c", "a<b>b</b>c");
    const QString deep = SanitizeAgentHtml(QString(QStringLiteral("<b>")).repeated(150) + u'x');
    EXPECT_EQ(deep, QString(QStringLiteral("<b>")).repeated(100) + u'x' +
                        QString(QStringLiteral("</b>")).repeated(100));
}

TEST(ChatHtml, Navigation) {
    const QSet<QString> existing{QStringLiteral("/no/such/my file.txt")};
    const auto exists = [&](const QString& p) { return existing.contains(p); };
    const auto decide = [&](const char* address) {
        const ChatNavigation n = DecideChatNavigation(QString::fromUtf8(address), exists);
        return std::make_pair(n.kind, n.target);
    };
    using N = ChatNavigation;
    EXPECT_EQ(decide("explorer::/no/such/my%20file.txt"),
              std::make_pair(N::ShowInFileManager, QStringLiteral("/no/such/my file.txt")));
    EXPECT_EQ(decide("Explorer::/no/such/gone.txt"),
              std::make_pair(N::ShowFolder, QStringLiteral("/no/such/")));
    EXPECT_EQ(decide("explorer::/no/such/a::b"), std::make_pair(N::ShowFolder, QStringLiteral("/no/such/")));
    EXPECT_EQ(decide("explorer::"), std::make_pair(N::ShowFolder, QString()));
    EXPECT_EQ(decide("about:blank"), std::make_pair(N::Allow, QString()));
    EXPECT_EQ(decide("http://a.b/x::y"), std::make_pair(N::OpenOutside, QStringLiteral("http://a.b/x::y")));
    EXPECT_EQ(decide("HTTPS://a.b").first, N::OpenOutside);
    EXPECT_EQ(decide("mailto:a@b.c").first, N::OpenOutside);
    // Anything else would be handed to the program the desktop has for its scheme.
    for (const char* address : {"file:///usr/bin/xterm", "javascript:x", "ftp://a.b/x", "c:\\x.exe", "x"})
        EXPECT_EQ(decide(address), std::make_pair(N::Refuse, QString())) << address;
    EXPECT_EQ(DecideChatNavigation(QStringLiteral("explorer::/x"), nullptr).kind, N::ShowFolder);
}

TEST(ChatHtml, Keys) {
    EXPECT_EQ(ChatKeyAction(Qt::Key_F8, Qt::NoModifier), ChatKey::InsertDateTime);
    EXPECT_EQ(ChatKeyAction(Qt::Key_F8, Qt::ControlModifier), ChatKey::InsertDateTime);
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        EXPECT_EQ(ChatKeyAction(key, Qt::NoModifier), ChatKey::Send);
        EXPECT_EQ(ChatKeyAction(key, Qt::KeypadModifier), ChatKey::Send);
        EXPECT_EQ(ChatKeyAction(key, Qt::ControlModifier), ChatKey::Send);
        EXPECT_EQ(ChatKeyAction(key, Qt::ShiftModifier | Qt::AltModifier), ChatKey::Send);
        EXPECT_EQ(ChatKeyAction(key, Qt::ShiftModifier), ChatKey::LineBreak);
        EXPECT_EQ(ChatKeyAction(key, Qt::AltModifier | Qt::KeypadModifier), ChatKey::LineBreak);
    }
    EXPECT_EQ(ChatKeyAction(Qt::Key_A, Qt::ShiftModifier), ChatKey::Default);
}

TEST(ChatHtml, DroppedHtmlFragment) {
    EXPECT_EQ(
        DroppedHtmlFragment("Version:0.9\r\n<html><!--StartFragment--><b>x</b><!--EndFragment--></html>"),
        QStringLiteral("<p><b>x</b></p>"));
    EXPECT_EQ(DroppedHtmlFragment("<!--EndFragment--><!--StartFragment-->x"), QString());
    // Double-byte text (가 in code page 949) and bytes that are no code page 949 text.
    EXPECT_EQ(DroppedHtmlFragment("<!--StartFragment-->\xB0\xA1<!--EndFragment-->"), QString());
    EXPECT_EQ(DroppedHtmlFragment("<!--StartFragment-->\xFF<!--EndFragment-->"), QString());
}

TEST(ChatHtml, DroppedRichTextKeepsTheFormattingAndNothingOfThePage) {
    // As a browser on X11 offers a selection: a charset declaration and the page's own markup.
    EXPECT_EQ(
        DroppedRichText(QStringLiteral("<meta http-equiv=\"content-type\" content=\"text/html; "
                                       "charset=utf-8\"><b>굵게</b> 그리고 <i style=\"color:red\">기울임</i>"
                                       "<script>alert(1)</script><img src=\"http://x/y.png\">")),
        QStringLiteral("<p><b>굵게</b> 그리고 <i>기울임</i></p>"));
    // Fragment markers win over the body, and the body over the rest.
    EXPECT_EQ(
        DroppedRichText(QStringLiteral("<html><body>앞<!--StartFragment--><u>밑줄</u><!--EndFragment-->뒤"
                                       "</body></html>")),
        QStringLiteral("<p><u>밑줄</u></p>"));
    EXPECT_EQ(DroppedRichText(QStringLiteral("<html><head><title>제목</title></head><BODY class=x><b>본문</b>"
                                             "</BODY></html>")),
              QStringLiteral("<p><b>본문</b></p>"));
    // Nothing to read: the caller takes the plain text.
    EXPECT_EQ(DroppedRichText(QStringLiteral("<img src=x><br> &nbsp;")), QString());
}
