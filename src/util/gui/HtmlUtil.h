#pragma once

#include <QString>

class QWidget;

// HTML work on the browser controls: adding content at the end of a page (chat lines, notices),
// making web links open outside the page, and the page's background colour.
namespace pelio::util {

class HtmlView;

// The text as a JavaScript string literal, safe to embed in a script.
QString ToJsString(const QString& text);

// Adds html at the end of the document's body, in a block of its own (so that a long page is not laid
// out again whole at every addition), scrolls the view to the bottom, and makes the web
// links of the document open in a new window. Empty html only scrolls. A view without a document does
// nothing; while its document is loading the work waits for it, in the order of the calls.
void AppendHtml(HtmlView* view, const QString& html);

// Gives every link of the document whose address starts with "http" (any case) the target "_blank",
// so that it is offered to the view's owner as a new-window request instead of replacing the page.
void OpenLinksInNewWindow(HtmlView* view);

// Lets the user pick the page's background colour. Returns the HTML colour set on the document's body
// (the picked colour half-way to white when blend is set), or empty when the dialog was cancelled or
// black was picked; then nothing changes.
QString PickPageBackground(QWidget* parent, HtmlView* view, bool blend);

}  // namespace pelio::util
