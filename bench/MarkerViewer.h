// The two viewers of the server bench, each reading the latency marker (LatencyMarker.h) back from what
// it shows: the LibVNCClient viewer in this program reads it from its framebuffer as updates arrive,
// and TigerVNC's vncviewer, a process of its own on a second display, is watched on that display
// (XDamage, then the marker's pixels). Include after Qt's headers: Xlib's macros clash with Qt's names.
#pragma once

#include "LatencyMarker.h"

#include <functional>
#include <optional>
#include <string>

struct _XDisplay;

namespace pelio::bench {

struct ViewerFigures {
    long updates = 0;                             // framebuffer updates (LibVNCClient only)
    long long pixels = 0;                         // pixels the updates carried (LibVNCClient only)
    long frames = 0;                              // new marker numbers shown
    double latencyP50Ms = -1, latencyP95Ms = -1;  // -1: no change was shown
};

// Runs a LibVNCClient viewer on the connected socket `fd` for warmup + seconds and counts the last
// `seconds`; the marker is read at (markerX, markerY) of the framebuffer against `times`. onStart runs
// when counting starts, onEnd while the socket is still open. False when the RFB handshake failed.
bool RunLibVncViewer(int fd, double seconds, double warmup, const MarkerTimes& times, int markerX,
                     int markerY, const std::function<void()>& onStart, const std::function<void()>& onEnd,
                     ViewerFigures& figures);

// Watches a display that a viewer draws on, reading the marker whenever something was drawn: at
// (markerX, markerY) of the framebuffer, which the viewer shows at the top left of its window (the
// largest window on the display, found while waiting for the first marker).
class ShownWatcher {
  public:
    ShownWatcher(const std::string& display, int markerX, int markerY);
    ~ShownWatcher();
    ShownWatcher(const ShownWatcher&) = delete;
    ShownWatcher& operator=(const ShownWatcher&) = delete;
    bool ok() const { return m_damage != 0; }

    // Follows the markers shown for `seconds`, into `log`.
    void Watch(double seconds, LatencyLog& log);
    // Whether the marker has been shown at all (any number that `times` drew) within `seconds`.
    bool WaitForMarker(double seconds, const MarkerTimes& times);

  private:
    std::optional<std::uint32_t> Read();
    void FindViewerWindow();
    bool Drawn(double timeLeft);  // true after a drawing was reported

    ::_XDisplay* m_d = nullptr;
    int m_markerX, m_markerY;
    int m_windowX = 0, m_windowY = 0;
    int m_damageEvent = 0;
    unsigned long m_damage = 0;
};

}  // namespace pelio::bench
