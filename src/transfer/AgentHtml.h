// The agent's chat lines as the program shows them: an allow-list of HTML, and the mark that only the
// program's own lines carry.
#pragma once

#include <QString>
#include <QStringView>

namespace pelio::transfer {

// An agent's chat line as the view shows it and the transcript keeps it. Only these tags stay: br, b,
// i, u, p, font (color, size, face), span (no attributes) and a (href, when the address is http:,
// https: or mailto:). Every other attribute is dropped: no style, which could make a line look like
// the program's notices, and no class, so that no line carries the notice mark (MarkedNoticeHtml). An
// a without such an address is no link; its text stays. Other tags are dropped and their text kept,
// except that script, style, iframe, noscript, noembed, noframes, xmp, textarea, title and plaintext
// go with everything up to their end tag; comments and declarations go too. A tag that is never
// finished drops the rest of the line.
// Character references stay as they were written; an "&" that begins none becomes "&amp;", a "<" or
// ">" that is no tag "&lt;" or "&gt;". A link's address is judged as the browser reads it (references
// resolved once, control characters removed, blanks around it trimmed) and written that way, escaped
// again. The result is well nested: an end tag closes the tags opened inside it, a p or an a closes
// the p or a still open, a tag nested more than 100 deep is dropped, and whatever is open at the end
// is closed, so that no line runs into the lines after it. Tags are written in lower case with
// attribute values quoted unless they are plain words; sanitizing the result again gives it back.
QString SanitizeAgentHtml(const QString& html);

// One of the program's own lines (a notice, a file offer, a transfer's result) with the notice mark
// "class=pelio-notice" as the first attribute of each font and span start tag; nothing else changes,
// and no style of the view refers to the mark, so the line looks as before. Agent lines never carry
// the mark: SanitizeAgentHtml keeps no class attribute.
QString MarkedNoticeHtml(const QString& html);

// Whether an address may open outside the program: http:, https: or mailto: (the scheme in any case).
bool IsOutsideAddress(QStringView address);

}  // namespace pelio::transfer
