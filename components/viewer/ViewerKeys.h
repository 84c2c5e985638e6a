// The X keysym that a key of the customer's keyboard stands for on the agent's computer, as RFB key
// events carry it.
#pragma once

#include <QString>
#include <Qt>

#include <cstdint>

namespace pelio::components {

// The keysym of a key event: the native keysym when the window system gave one (X11 does), else the
// one of Qt's key code, else of the event's text (a character beyond Latin-1 as a Unicode keysym).
// The Korean keys (Hangul, Hanja and the other Hangul modes) map to their X keysyms 0xff31..0xff3f.
// 0 when the key stands for nothing that can be sent.
std::uint32_t KeysymForKey(int qtKey, const QString& text, std::uint32_t nativeKeysym,
                           Qt::KeyboardModifiers modifiers);

}  // namespace pelio::components
