#pragma once

#include <QString>

#include <memory>

struct _XDisplay;

namespace pelio::platform {

// The X side of LinuxDesktop: one Xlib connection of its own, used on the UI thread only. Windows are
// X window ids; X errors (a window gone meanwhile) are ignored, never fatal.
class DesktopX11 {
  public:
    // A connection to the named display (":N"; empty: $DISPLAY); null when it cannot be opened.
    static std::unique_ptr<DesktopX11> Open(const QString& displayName);
    ~DesktopX11();
    DesktopX11(const DesktopX11&) = delete;
    DesktopX11& operator=(const DesktopX11&) = delete;

    // The display's name, as a program started on it finds it in $DISPLAY.
    QString Name() const;
    // The X server's time now (a round trip).
    unsigned long ServerTime();
    // See Desktop::ToggleShowDesktop and Desktop::PressHangulKey.
    bool ToggleShowingDesktop();
    bool PressHangulKey();
    // Asks the window manager to add _NET_WM_STATE_DEMANDS_ATTENTION to the window.
    void DemandAttention(unsigned long window);
    // Sets or clears the ICCCM urgency hint of the window, keeping its other hints.
    void SetUrgency(unsigned long window, bool urgent);

  private:
    explicit DesktopX11(_XDisplay* display);
    // Drops the events the server sends every client (keyboard mapping changes), which no one reads.
    void DiscardEvents();
    struct Atoms;
    _XDisplay* m_display;
    std::unique_ptr<Atoms> m_atoms;
    unsigned long m_timeWindow = 0;  // an unmapped window of ours whose property changes give the time
};

}  // namespace pelio::platform
