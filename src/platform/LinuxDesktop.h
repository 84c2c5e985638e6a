#pragma once

#include "platform/Desktop.h"

#include <QPointer>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class QSoundEffect;

namespace pelio::platform {

class DesktopX11;

// The desktop commands on an X display, through an Xlib connection of this service's own. Without a
// display (another Qt platform, no X server) the X commands answer false or do nothing, and a window
// flash falls back to Qt's own alert.
class LinuxDesktop : public Desktop {
  public:
    // The X display of $DISPLAY when Qt shows our windows on X11 ("xcb"); none on another platform.
    LinuxDesktop();
    // The named X display (":N"), whatever Qt runs on; FlashWindow still needs Qt on that display.
    explicit LinuxDesktop(const QString& displayName);
    ~LinuxDesktop() override;
    LinuxDesktop(const LinuxDesktop&) = delete;
    LinuxDesktop& operator=(const LinuxDesktop&) = delete;

    // The program runs in the home folder with its standard streams on /dev/null, on this service's
    // display, with a startup id stamped with the X server's time, so that a window manager that
    // prevents focus stealing still gives its window the focus. No variables, patterns, redirections
    // or pipes: such characters are plain text.
    bool RunCommandLine(const QString& commandLine) override;
    bool ToggleShowDesktop() override;
    bool PressHangulKey() override;
    void PlaySound(const QString& path) override;
    // The urgency hint is cleared again when the window next becomes active.
    void FlashWindow(QWindow* window) override;

    // The words of a command line as a POSIX shell splits them, without any expansion: blanks separate
    // words; '...' keeps everything; "..." keeps everything but \" \\ \$ \` (the character) and
    // backslash-newline (removed); outside quotes a backslash keeps the next character. Nothing for an
    // unterminated quote or a final lone backslash.
    static std::optional<QStringList> SplitCommandLine(const QString& commandLine);

  private:
    std::unique_ptr<DesktopX11> m_x;  // null without a display
    std::unique_ptr<QSoundEffect> m_sound;
    std::vector<QPointer<QWindow>> m_flashing;  // flashed, with their urgency hint still set
    std::unique_ptr<QObject> m_context;         // ends the connections to flashed windows with this service
};

}  // namespace pelio::platform
