// Keeps the served screen up to date on a capture thread of its own. It grabs what the X server
// reports as damaged when a viewer has asked for an update or the recording is due for a frame (so a
// slow link is served less often) and once the drawing has paused for a moment (2 ms, at most 8 ms
// after it began, so that one update has all of it), sweeps the whole screen now and then, follows
// the pointer and the cursor's shape, and takes a change of screen size. Changes go to the library's
// clients and to the recording sink.
//
// The library's clients are served either the whole screen or one monitor's area (Show): then the
// loop keeps a framebuffer of that area for the library, copies into it what changed inside the area,
// and offsets the cursor's position; the recording keeps the whole screen. A served monitor that is no
// longer one after a change of the monitors' layout gives way to the whole screen.
//
// It owns the framebuffer the library serves and the cursor shapes handed to the library. After a
// change of size the old framebuffer is freed at once: the library swaps buffers while it holds every
// client's send lock, under which all encoding happens, so no encoder reads the old one afterwards.
#pragma once

#include "server/RecordingSink.h"
#include "server/X11Capture.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct _rfbClientRec;
struct _rfbScreenInfo;
struct rfbCursor;

namespace pelio::components {

class CaptureLoop {
  public:
    struct Settings {
        int maxFps = 100;            // the most damage grabs per second
        int sweepMs = 2000;          // full-screen comparison interval when damage reports are used
        bool damage = true;          // damage reports; without them every frame is a full comparison
        bool cursor = true;          // cursor shape and position to the viewers and the recording
        std::function<void()> tick;  // called on the capture thread about every 100 ms
        // Whether a viewer's request waits for room on its link rather than for a change.
        std::function<bool(_rfbClientRec*)> holding;
        // Called on the capture thread with the display's monitors (X11Capture::Monitors) whenever
        // they changed.
        std::function<void(const std::vector<QRect>&)> monitors;
    };

    // Takes an opened capture; allocates the first framebuffer at the capture's size.
    CaptureLoop(std::unique_ptr<X11Capture> grabber, RecordingSink& sink, Settings settings);
    ~CaptureLoop();  // stops; frees the framebuffer and the cursor shapes it still holds
    CaptureLoop(const CaptureLoop&) = delete;
    CaptureLoop& operator=(const CaptureLoop&) = delete;

    QSize Size() const;
    // The framebuffer to give the screen when it is created (the loop replaces it on a resize).
    char* Framebuffer() const { return m_framebuffer; }

    // Takes the screen's current contents, then runs the loop on the screen until Stop, which joins the
    // thread.
    void Start(_rfbScreenInfo* screen);
    void Stop();
    // Before the screen is cleaned up: the library frees the cursor it shows, the loop the others.
    void ReleaseCursors();
    // A viewer asked for an update (any thread): damage that waits for one is grabbed now.
    void Wake();
    // Serves `area` (screen coordinates) from the loop's next turn when it is one of the monitors then,
    // else the whole screen; an empty rectangle: the whole screen. Any thread.
    void Show(QRect area);
    // Where the served area begins on the screen (any thread): a viewer's pointer is offset by it.
    QPoint Origin() const;

  private:
    // Every client's send lock, held while the framebuffer is written. The library encodes updates
    // from the framebuffer under it, and an encoder that read an area half before and half after a
    // write sends colours of neither: a solid area found in the old pixels is filled with a colour of
    // the new ones, over parts of the screen that did not change and are never sent again.
    class EncodersHeld {
      public:
        explicit EncodersHeld(_rfbScreenInfo* screen);
        ~EncodersHeld();
        EncodersHeld(const EncodersHeld&) = delete;
        EncodersHeld& operator=(const EncodersHeld&) = delete;

      private:
        _rfbScreenInfo* m_screen;
        std::vector<_rfbClientRec*> m_held, m_busy;
    };

    void Run();
    void SetCursor(const QImage& shape, QPoint hot);
    bool UpdateWanted();
    void Resize();
    // Hands the library a framebuffer of `area` (see Show) when it is not the one served, or always
    // with force; true when the served framebuffer changed (the library then sends all of it).
    bool Serve(QRect area, bool force);
    // Copies what changed (screen coordinates) inside the served area into its framebuffer; returns
    // that part in the served framebuffer's coordinates. Under EncodersHeld.
    QRegion Publish(const QRegion& changed);
    void MovePointer(QPoint pos);

    std::unique_ptr<X11Capture> m_grabber;
    RecordingSink& m_sink;
    Settings m_settings;
    _rfbScreenInfo* m_screen = nullptr;
    char* m_framebuffer = nullptr;  // the whole screen, which the recording keeps
    QSize m_size;
    QRect m_area;              // the served area
    char* m_served = nullptr;  // the library's framebuffer: m_framebuffer, or one of m_area alone
    std::vector<QRect> m_monitors;
    QPoint m_pointer;  // where the pointer is on the screen
    std::mutex m_showMutex;
    QRect m_wanted;  // under m_showMutex
    std::atomic<bool> m_showPending{false};
    std::atomic<std::int64_t> m_origin{0};  // m_area's top left: x in the high half, y in the low
    std::deque<rfbCursor*> m_cursors;
    int m_wakeFd = -1;  // an eventfd
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace pelio::components
