#include "TextFraming.h"

namespace pelio::framing {

std::vector<std::string> SplitText(std::string_view text) {
    std::vector<std::string> messages;
    do {
        const std::size_t n = text.size() < MaxPiece ? text.size() : MaxPiece;
        const bool final = n == text.size();
        std::string message;
        message.reserve(n + 1);
        message += final ? FinalHeader : MoreHeader;
        message.append(text.substr(0, n));
        messages.push_back(std::move(message));
        text.remove_prefix(n);
        if (final) break;
    } while (true);
    return messages;
}

bool TextAssembler::Feed(std::string_view message, std::string& text) {
    if (message.empty() || (message[0] != MoreHeader && message[0] != FinalHeader)) {
        m_partial.clear();
        m_dropping = false;
        return false;
    }
    const bool final = message[0] == FinalHeader;
    message.remove_prefix(1);
    if (!m_dropping && m_partial.size() + message.size() > m_limit) {
        m_dropping = true;
        m_partial.clear();
        m_partial.shrink_to_fit();
    }
    if (!m_dropping) m_partial.append(message);
    if (!final) return false;
    const bool complete = !m_dropping;
    m_dropping = false;
    if (complete) text.swap(m_partial);
    m_partial.clear();
    return complete;
}

void TextAssembler::Drop(std::string_view message) {
    m_partial.clear();
    m_partial.shrink_to_fit();
    // A piece with more to follow leaves its text open: the rest of it goes too. A final piece or a
    // damaged message ends the text, and the next message starts a new one.
    m_dropping = !message.empty() && message[0] == MoreHeader;
}

}  // namespace pelio::framing
