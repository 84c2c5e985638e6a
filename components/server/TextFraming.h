// The framing that carries texts of any length over RFB text-chat messages, which hold at most 4,095
// bytes each (the library drops a peer that sends more, or an empty one).
//
// A text travels as its UTF-8 bytes cut into pieces of at most 4,094 bytes; each piece is one chat
// message made of a header byte and the piece:
//   'M'  more pieces of the same text follow;
//   'F'  the final piece: the text is complete.
// So a text is zero or more 'M' messages followed by one 'F' message; an empty text is "F" alone.
// Texts never interleave on one link. A receiver drops a message with any other header byte, and
// with it the pieces collected so far; a text that grows beyond the receiver's limit is dropped
// whole, up to and including its final piece, and so is a text that the receiver refused a piece of.
// Either way a receiver holds at most its limit of one text per link, whatever a peer sends.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pelio::framing {

inline constexpr std::size_t MaxChatMessage = 4095;
inline constexpr std::size_t MaxPiece = MaxChatMessage - 1;
inline constexpr char MoreHeader = 'M';
inline constexpr char FinalHeader = 'F';
// The longest text a link takes. Session messages are short (a chat line travels in pieces of a few
// hundred characters; an offer of a thousand long names enciphers to well under a megabyte), and a
// text is held several times over while it is handled, so a bigger one is only a way to bloat the
// program.
inline constexpr std::size_t DefaultTextLimit = 2u * 1024 * 1024;

// The chat messages that carry one text, in sending order.
std::vector<std::string> SplitText(std::string_view text);

// Joins received chat messages back into texts. Not thread-safe: one per link.
class TextAssembler {
  public:
    explicit TextAssembler(std::size_t limit = DefaultTextLimit) : m_limit(limit) {}
    // Takes one received chat message; true when it completed a text, which is then in `text`.
    bool Feed(std::string_view message, std::string& text);
    // Takes one received chat message that must not be delivered: the text it belongs to is dropped
    // whole, with the pieces already collected and those still to come up to its final piece.
    void Drop(std::string_view message);

  private:
    std::string m_partial;
    std::size_t m_limit;
    bool m_dropping = false;  // the rest of the current text is discarded up to its final piece
};

}  // namespace pelio::framing
