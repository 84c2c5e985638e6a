#include "viewer/ViewerCutText.h"

#include "clipboard/ClipboardMessages.h"
#include "viewer/ViewerLog.h"

#include <rfb/rfbclient.h>

namespace pelio::components {

namespace cb = clipboard;

bool ViewerCutText::Read(rfbClient* client) {
    char header[7];
    if (!ReadFromRFBServer(client, header, sizeof header)) return false;
    const auto b = [&](int i) { return std::uint32_t(std::uint8_t(header[3 + i])); };
    const std::uint32_t raw = b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
    const bool extended = m_enabled && (raw & 0x80000000u);
    const std::uint64_t length = extended ? std::uint64_t(-std::int64_t(std::int32_t(raw))) : raw;
    if (length > (extended ? cb::kMaxPayload : cb::kMaxText)) {
        qCWarning(lcViewer, "the server sent a clipboard message of %llu bytes", (unsigned long long)length);
        return false;
    }
    std::string payload(std::size_t(length), '\0');
    if (length > 0 && !ReadFromRFBServer(client, payload.data(), unsigned(length))) return false;
    if (extended) return Handle(client, payload);
    if (m_enabled && !payload.empty()) m_deliver(cb::FromLatin1(payload));
    return true;
}

bool ViewerCutText::Handle(rfbClient* client, std::string_view payload) {
    const std::optional<cb::Extended> message = cb::ReadExtended(payload);
    if (!message) {
        qCInfo(lcViewer, "a malformed clipboard message was ignored");
        return true;
    }
    const std::uint32_t flags = message->flags;
    if (flags & cb::kCaps) {
        m_extended = true;
        m_serverFlags = flags;
        m_serverTextLimit = message->textLimit;
        return Write(client,
                     cb::CapsPayload(cb::kRequest | cb::kPeek | cb::kNotify | cb::kProvide,
                                     std::uint32_t(cb::kMaxText)),
                     true);
    }
    if (!(flags & cb::kText)) return true;
    if (flags & cb::kProvide) {
        if (message->text) m_deliver(cb::FromWire(*message->text));
    } else if (flags & cb::kNotify) {
        return Write(client, cb::ActionPayload(cb::kRequest), true);
    } else if (flags & cb::kRequest) {
        if (const std::optional<std::string> provide = cb::ProvidePayload(m_local);
            provide && !m_local.empty())
            return Write(client, *provide, true);
    } else if (flags & cb::kPeek) {
        if (!m_local.empty()) return Write(client, cb::ActionPayload(cb::kNotify), true);
    }
    return true;
}

bool ViewerCutText::Send(rfbClient* client, const std::string& wireText) {
    if (!m_enabled || wireText.empty()) return true;
    m_local = wireText;
    const std::string latin1 = cb::ToLatin1(cb::FromWire(wireText));
    if (!Write(client, latin1, false)) return false;
    if (!m_extended) return true;
    if ((m_serverFlags & cb::kProvide) && wireText.size() + 1 <= m_serverTextLimit) {
        if (const std::optional<std::string> provide = cb::ProvidePayload(wireText))
            return Write(client, *provide, true);
    }
    if (m_serverFlags & cb::kNotify) return Write(client, cb::ActionPayload(cb::kNotify), true);
    return true;
}

bool ViewerCutText::Write(rfbClient* client, const std::string& payload, bool extended) {
    const std::string message = cb::CutTextMessage(cb::kClientCutText, payload, extended);
    return WriteToRFBServer(client, message.data(), unsigned(message.size()));
}

}  // namespace pelio::components
