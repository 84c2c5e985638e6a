#pragma once

#include "transfer/AgentHtml.h"

#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QString>
#include <Qt>

#include <functional>

// The chat window's rules about text, without widgets: the HTML fragment sent for the customer's
// input, the conversation lines, the view's pages, the transcript, and what links, keys and drops do.
// All functions are pure.
namespace pelio::transfer {

// How the customer's input is written: font, size in points, weight, slant and colour.
struct ChatInputStyle {
    QString fontName = QStringLiteral("굴림");
    double pointSize = 11;
    bool bold = false;
    bool italic = false;
    QColor color = Qt::black;
};

// The HTML fragment for the customer's input (line ends CR LF; a lone LF counts as CR LF).
// Input that, without its blanks and line breaks, begins with "<" and ends with ">" is the customer's
// own HTML and comes back as it is. Any other input is plain text: "<", ">" and double quotes are
// escaped (the ampersand is not), words that look like web addresses become links that open in a new
// window, line breaks become "<br>" CR LF, runs of two blanks and tabs become non-breaking spaces, and
// the whole is set in the style's font, colour and size, bold and italic. Plain text never yields a
// tag or an attribute of its own: a link address that could end early is quoted, and a word whose
// address would run a script ("javascript:", "vbscript:", "data:") stays plain text.
QString GetHtml(const QString& input, const ChatInputStyle& style);

// One line of the conversation as the customer sent it:
// CR LF + "<br><font size=2 color=#008000>" + name + " / " + phone + " (" + GeneralDateTime(when)
// + ")</font>:<br>" + fragment + "<br>" + CR LF. "<" and ">" in the name and phone are escaped.
QString ChatLineHtml(const QString& customerName, const QString& customerPhone, const QDateTime& when,
                     const QString& fragment);

// One line of the agent's as the agent's program sends it: the header of ChatLineHtml with the
// agent's name alone, in blue: CR LF + "<br><font size=2 color=#0000FF>" + name + " (" +
// GeneralDateTime(when) + ")</font>:<br>" + fragment + "<br>" + CR LF. "<" and ">" in the name are
// escaped.
QString AgentChatLineHtml(const QString& agentName, const QDateTime& when, const QString& fragment);

// The date and time as the system's general date-time format shows it to a Korean user:
// "2026-12-07 오후 4:05:09" (yyyy-MM-dd, 오전/오후, hour 1..12 without leading zero, mm:ss).
// An invalid date and time gives empty text.
QString GeneralDateTime(const QDateTime& when);

// The conversation view's start page, an "about:" address: the page style with the background colour
// and the hint to type below and press Enter or the send button.
QString ChatStartPage(const QColor& background);

// The page style after the customer changes the background colour: a grey border around the page and
// no link colour of its own.
QString ChatBackgroundStyle(const QColor& background);

// The transcript file's text from the view's body as outer HTML: everything up to and including the
// first "<br>" (any case; the start page's hint) is dropped (nothing when there is none), every
// "<br>" is followed by CR LF, and the whole is wrapped in "<html>" ... "</html>".
QString TranscriptFromBody(const QString& bodyOuterHtml);

// What a navigation request in the conversation view does.
//   Allow: the view's own "about:" pages load.
//   ShowInFileManager: target (an existing file or folder) is shown; a folder opens, a file is shown
//     selected in its folder.
//   ShowFolder: target is the folder of a path that does not exist (empty when the path names none;
//     then nothing is shown).
//   OpenOutside: target (an http:, https: or mailto: address) opens in the desktop's browser or mail
//     program.
//   Refuse: nothing happens.
struct ChatNavigation {
    enum Kind { Allow, ShowInFileManager, ShowFolder, OpenOutside, Refuse } kind;
    QString target;
};

// Decides a navigation to address. "explorer::PATH" (the first part in any case; a percent escape in
// PATH reads as its byte of UTF-8: "%20" a blank, "%25" a "%", "%EB%82%B4" 내) shows PATH when
// fileExists(PATH), else its folder; an address that begins with "about" (any case) is allowed; an
// http:, https: or mailto: address (the scheme in any case) opens outside; any other is refused, as the
// desktop would hand it to whatever program is registered for its scheme.
// Only the program's own lines hold "explorer::" links: SanitizeAgentHtml keeps no address of an
// agent's line but http:, https: and mailto:, and the file names of an offer are shown as text.
ChatNavigation DecideChatNavigation(const QString& address,
                                    const std::function<bool(const QString&)>& fileExists);

// What a key press in the input box does.
enum class ChatKey { Send, LineBreak, InsertDateTime, Default };

// F8 inserts the date and time; Enter or Return with exactly Shift or exactly Alt breaks the line, with
// any other modifiers (none, Ctrl, two or more) sends; other keys do what they usually do. The keypad
// modifier is ignored.
ChatKey ChatKeyAction(int key, Qt::KeyboardModifiers modifiers);

// The text a drop of "HTML Format" clipboard data gives (bytes in code page 949): the part between
// "<!--StartFragment-->" and the following "<!--EndFragment-->", wrapped as "<p>" + part + "</p>".
// Empty when the data is not single-byte text or lacks the markers; the caller then takes the plain
// text.
QString DroppedHtmlFragment(const QByteArray& htmlFormat);

// The text a drop of "text/html" gives (X11 and other desktops): the part between
// "<!--StartFragment-->" and "<!--EndFragment-->" when both are there, else what is inside the body
// element when there is one, else the whole; kept as SanitizeAgentHtml leaves it (formatting tags only:
// no scripts, styles or images of the page) and wrapped as "<p>" + part + "</p>". Empty when no text
// is left; the caller then takes the plain text.
QString DroppedRichText(const QString& html);

}  // namespace pelio::transfer
