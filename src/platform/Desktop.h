#pragma once

#include <QString>

class QWindow;

namespace pelio::platform {

// Short commands run on the customer's desktop: start a program, show the desktop, switch the input
// language, play a sound, flash a window. Each acts at once and never blocks on the desktop.
class Desktop {
  public:
    virtual ~Desktop() = default;

    // Runs a command line as a program in its own process, detached, with a normal window that takes
    // the focus. The line is split as a shell would split words (quotes kept together), no shell runs
    // it. False when the line is empty or the program could not be started.
    virtual bool RunCommandLine(const QString& commandLine) = 0;

    // Toggles the desktop's show-desktop state (EWMH _NET_SHOWING_DESKTOP, read from the root window
    // and changed through a client message to the root, as the EWMH says); returns false when no
    // window manager supports it (the property or _NET_SUPPORTED lacks it).
    virtual bool ToggleShowDesktop() = 0;

    // Presses and releases the Hangul/English key (keysym 0xff31, XK_Hangul) through XTest, so that
    // the input method of the focused window switches its input language. When no keycode of the
    // keyboard carries that keysym, a spare keycode (one with no keysym) is remapped to it first.
    // False without an X display or without the XTest extension (or when no keycode is spare).
    virtual bool PressHangulKey() = 0;

    // Plays a sound file without waiting, stopping any sound this service is playing. Nothing (and no
    // message) when the file does not exist or no sound device is there.
    virtual void PlaySound(const QString& path) = 0;

    // Asks the desktop to draw the customer's attention to the window once (EWMH
    // _NET_WM_STATE_DEMANDS_ATTENTION and the ICCCM urgency hint), flushed to the X server at once.
    // Nothing for a null window or one not shown yet.
    virtual void FlashWindow(QWindow* window) = 0;
};

}  // namespace pelio::platform
