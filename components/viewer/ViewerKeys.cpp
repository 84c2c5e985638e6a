#include "viewer/ViewerKeys.h"

#include <QHash>

namespace pelio::components {

namespace {

const QHash<int, std::uint32_t>& SpecialKeys() {
    static const QHash<int, std::uint32_t> keys = {
        {Qt::Key_Escape, 0xff1b},
        {Qt::Key_Tab, 0xff09},
        {Qt::Key_Backtab, 0xfe20},
        {Qt::Key_Backspace, 0xff08},
        {Qt::Key_Return, 0xff0d},
        {Qt::Key_Enter, 0xff8d},
        {Qt::Key_Insert, 0xff63},
        {Qt::Key_Delete, 0xffff},
        {Qt::Key_Pause, 0xff13},
        {Qt::Key_Print, 0xff61},
        {Qt::Key_SysReq, 0xff15},
        {Qt::Key_Clear, 0xff0b},
        {Qt::Key_Home, 0xff50},
        {Qt::Key_End, 0xff57},
        {Qt::Key_Left, 0xff51},
        {Qt::Key_Up, 0xff52},
        {Qt::Key_Right, 0xff53},
        {Qt::Key_Down, 0xff54},
        {Qt::Key_PageUp, 0xff55},
        {Qt::Key_PageDown, 0xff56},
        {Qt::Key_Shift, 0xffe1},
        {Qt::Key_Control, 0xffe3},
        {Qt::Key_Meta, 0xffeb},
        {Qt::Key_Alt, 0xffe9},
        {Qt::Key_AltGr, 0xfe03},
        {Qt::Key_CapsLock, 0xffe5},
        {Qt::Key_NumLock, 0xff7f},
        {Qt::Key_ScrollLock, 0xff14},
        {Qt::Key_Super_L, 0xffeb},
        {Qt::Key_Super_R, 0xffec},
        {Qt::Key_Menu, 0xff67},
        {Qt::Key_Hyper_L, 0xffed},
        {Qt::Key_Hyper_R, 0xffee},
        {Qt::Key_Help, 0xff6a},
        {Qt::Key_Space, 0x0020},
        // The Korean keys and the input-method keys they share.
        {Qt::Key_Hangul, 0xff31},
        {Qt::Key_Hangul_Start, 0xff32},
        {Qt::Key_Hangul_End, 0xff33},
        {Qt::Key_Hangul_Hanja, 0xff34},
        {Qt::Key_Hangul_Jamo, 0xff35},
        {Qt::Key_Hangul_Romaja, 0xff36},
        {Qt::Key_Codeinput, 0xff37},
        {Qt::Key_Hangul_Jeonja, 0xff38},
        {Qt::Key_Hangul_Banja, 0xff39},
        {Qt::Key_Hangul_PreHanja, 0xff3a},
        {Qt::Key_Hangul_PostHanja, 0xff3b},
        {Qt::Key_SingleCandidate, 0xff3c},
        {Qt::Key_MultipleCandidate, 0xff3d},
        {Qt::Key_PreviousCandidate, 0xff3e},
        {Qt::Key_Hangul_Special, 0xff3f},
    };
    return keys;
}

std::uint32_t KeysymForCharacter(char32_t c) {
    if ((c >= 0x20 && c <= 0x7e) || (c >= 0xa0 && c <= 0xff)) return std::uint32_t(c);
    if (c > 0xff && c <= 0x10ffff) return 0x01000000u | std::uint32_t(c);
    return 0;
}

}  // namespace

std::uint32_t KeysymForKey(int qtKey, const QString& text, std::uint32_t nativeKeysym,
                           Qt::KeyboardModifiers modifiers) {
    if (nativeKeysym != 0) return nativeKeysym;
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    if (keypad && qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return 0xffb0u + std::uint32_t(qtKey - Qt::Key_0);
    if (const auto it = SpecialKeys().constFind(qtKey); it != SpecialKeys().cend()) return it.value();
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35) return 0xffbeu + std::uint32_t(qtKey - Qt::Key_F1);
    const QList<uint> characters = text.toUcs4();
    if (characters.size() == 1)
        if (const std::uint32_t keysym = KeysymForCharacter(char32_t(characters.first()))) return keysym;
    // A control character (Ctrl with a letter) stands for its key.
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return std::uint32_t(modifiers.testFlag(Qt::ShiftModifier) ? qtKey : qtKey - Qt::Key_A + 'a');
    if (qtKey >= 0x20 && qtKey <= 0xff) return std::uint32_t(qtKey);
    return 0;
}

}  // namespace pelio::components
