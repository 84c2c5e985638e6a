// The clipboard on one viewer link (clipboard/ClipboardMessages.h), on the link's thread.
//
// The viewer advertises the extended clipboard; the server then sends its caps, and the viewer answers
// with its own (it takes requests, peeks, notifies and texts up to 1 MiB unasked). The library does not
// know the extended messages (it drops a link that sends one), so the link reads every cut-text message
// itself, before the library sees the message: Read takes over after the type byte.
//
// A copy here goes to a server with the extended clipboard unasked when the server takes that much,
// else announced (the server asks for it); it goes as Latin-1 to a server without it, and to one with
// it before the UTF-8 text too, since servers built on the same library that hook only the classic
// text ignore the extended one, while the others keep the one that comes last.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <string>

struct _rfbClient;

namespace pelio::components {

class ViewerCutText {
  public:
    // Called with each text the server sends, when the link shares the clipboard.
    explicit ViewerCutText(bool enabled, std::function<void(QString)> deliver)
        : m_enabled(enabled), m_deliver(std::move(deliver)) {}

    // Whether the link advertises the extended clipboard.
    bool Enabled() const { return m_enabled; }
    // Reads the rest of a cut-text message whose type byte was read. False when the link must end (the
    // stream broke, or the message is longer than any clipboard text).
    bool Read(_rfbClient* client);
    // Sends this computer's clipboard text (as clipboard::ToWire gives it); false when the link broke.
    bool Send(_rfbClient* client, const std::string& wireText);

  private:
    bool Write(_rfbClient* client, const std::string& payload, bool extended);
    bool Handle(_rfbClient* client, std::string_view payload);

    const bool m_enabled;
    std::function<void(QString)> m_deliver;
    bool m_extended = false;  // the server sent its caps
    std::uint32_t m_serverFlags = 0, m_serverTextLimit = 0;
    std::string m_local;  // this computer's latest text, for a server that asks for it
};

}  // namespace pelio::components
