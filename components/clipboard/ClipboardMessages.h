// The clipboard's texts on an RFB link: the classic cut-text messages (ServerCutText, type 3, and
// ClientCutText, type 6: Latin-1, at most 1 MiB) and the extended clipboard carried in the same
// messages with a negative length:
//
//   type (1 byte), 3 bytes of padding, -N (signed 32-bit, big-endian), N bytes of payload:
//     flags (32-bit): the formats (bit 0 text, 1 RTF, 2 HTML, 3 DIB, 4 files) and one action:
//       caps    (bit 24) the actions and formats the sender accepts, then one 32-bit size per format
//               present, in bit order: the longest data it takes unasked;
//       request (bit 25), peek (26), notify (27): flags alone;
//       provide (bit 28) a zlib stream holding, per format present in bit order, a 32-bit size and
//               that many bytes. Text is UTF-8 with CR LF line ends and a terminating NUL.
//
// Both sides advertise the extended clipboard (the pseudo-encoding kEncoding among the viewer's
// encodings; the server then sends its caps), and only a peer that advertised it is sent extended
// messages. These functions build and read the payloads; they hold no state and never trust a
// payload: a malformed one gives nothing, and no text over kMaxText bytes is made or taken.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelio::components::clipboard {

inline constexpr std::int32_t kEncoding = std::int32_t(0xC0A1E5CE);
inline constexpr std::uint8_t kServerCutText = 3;
inline constexpr std::uint8_t kClientCutText = 6;

inline constexpr std::uint32_t kText = 1u << 0;
inline constexpr std::uint32_t kCaps = 1u << 24;
inline constexpr std::uint32_t kRequest = 1u << 25;
inline constexpr std::uint32_t kPeek = 1u << 26;
inline constexpr std::uint32_t kNotify = 1u << 27;
inline constexpr std::uint32_t kProvide = 1u << 28;
inline constexpr std::uint32_t kActions = kCaps | kRequest | kPeek | kNotify | kProvide;

// The longest text that crosses, in bytes as it travels (UTF-8 with its NUL, or Latin-1). A longer one
// is neither sent nor taken. The longest payload a peer may send is a little more (kMaxPayload).
inline constexpr std::size_t kMaxText = 1u << 20;
inline constexpr std::size_t kMaxPayload = kMaxText + 64 * 1024;

// A whole message: type, padding, the length (negative for extended) and the payload.
std::string CutTextMessage(std::uint8_t type, std::string_view payload, bool extended);

// Caps accepting `actions` for text, taking texts up to maxText bytes unasked.
std::string CapsPayload(std::uint32_t actions, std::uint32_t maxText);
// A request, peek or notify about text.
std::string ActionPayload(std::uint32_t action);
// Provide with the text (as ToWire gives it); nothing when it is longer than kMaxText with its NUL.
std::optional<std::string> ProvidePayload(std::string_view wireText);

// A received extended payload.
struct Extended {
    std::uint32_t flags = 0;
    std::uint32_t textLimit = 0;      // caps: the longest text the peer takes unasked (0: no text)
    std::optional<std::string> text;  // provide: the text as it travelled (without inflating more)
};
// Nothing for a payload that is cut short, holds no action, a caps whose sizes do not match its
// formats, or a provide whose stream is broken or whose text is longer than kMaxText.
std::optional<Extended> ReadExtended(std::string_view payload);

// The text as the extended clipboard carries it: UTF-8, line ends CR LF (no NUL; ProvidePayload adds it).
std::string ToWire(const QString& text);
// A received extended text: up to its first NUL, CR LF back to LF; invalid UTF-8 becomes U+FFFD.
QString FromWire(std::string_view bytes);
// The classic message's Latin-1 text, LF line ends; a character outside Latin-1 becomes "?".
std::string ToLatin1(const QString& text);
QString FromLatin1(std::string_view bytes);

}  // namespace pelio::components::clipboard
