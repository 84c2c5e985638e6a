// One view of a remote screen over RFB with LibVNCClient, run on a thread of its own that owns the
// library's client: it connects, authenticates with the password, receives the screen and sends the
// input queued by the owner. Every write to the link happens on that thread.
//
// The owner (the viewer widget, on the UI thread) creates a link per connection, starts it and stops
// it; the thread holds the link until it has put the client down, so the owner may drop the link at
// any time. Stop returns at once: the socket is shut, which ends any wait of the thread.
//
// The picture: the library decodes into Screen() itself, while the thread holds the picture lock for
// the whole of each message (so the owner never sees half an update), and reports Event::Frame after
// an update. The owner then paints under the lock and calls FrameShown; until it does (or 50 ms have
// passed) the thread reads no further message, so that the owner gets the lock between messages and
// no frame is painted twice or skipped half-decoded. An owner that could not take the lock (the thread
// was in a message) calls PaintMissed and gets Event::Frame after that message.
//
// What the link refuses from its peer (each ends the link with Event::Closed): a screen wider or
// higher than kMaxSide pixels or larger than kMaxPixels in all, any message that the library rejects
// (among them rectangles outside the screen), no data for ReadTimeoutS seconds in the middle of a
// message, a link on which input cannot be written for as long. An idle link is probed by TCP
// keep-alive. Memory stays within the largest screen allowed and the library's own buffers.
//
// Reverse connection: with Settings::acceptedSocket the link runs on a socket that the owner has
// already accepted (the peer connected to it) instead of connecting out; the link owns that socket
// from Start on. Text chat: the peer's RFB text-chat messages are kept for TakeTexts (Event::Text),
// and QueueText sends one; the open/close controls of text chat are ignored. A peer that sends texts
// faster than the owner takes them (more than kMaxQueuedTexts waiting) ends the link.
#pragma once

#include <QImage>
#include <QRect>
#include <QRegion>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pelio::components {

class ViewerLink : public std::enable_shared_from_this<ViewerLink> {
  public:
    static constexpr int kMaxSide = 16384;
    static constexpr std::int64_t kMaxPixels = std::int64_t(1) << 25;  // 8K fits
    static constexpr std::size_t kMaxQueuedTexts = 65536;

    struct Settings {
        std::string host;
        int port = 0;
        std::string password;
        bool lossless = false;   // no JPEG
        bool exclusive = false;  // ask the server to drop its other viewers
        int connectTimeoutMs = 10000;
        int readTimeoutS = 30;
        int acceptedSocket = -1;  // >= 0: a connected socket to run on; host and port only name it
        // The screen in a System V shared-memory segment that an X server can attach (ScreenSegment),
        // marked for removal at once so that it goes with the last process that maps it; ordinary
        // memory when no segment can be made.
        bool sharedMemory = false;
        // Shares the clipboard's text with the server (ViewerCutText.h): received texts wait in
        // TakeClipboard (Event::Clipboard), QueueClipboard sends one.
        bool clipboard = false;
        // When set, called on the link's thread with the socket connected out (blocking); it takes the
        // socket in every case and returns the descriptor RFB is to be spoken on, or -1 (with the
        // reason in `why`), which counts as no link (Event::Unreachable). `keep` holds what must live
        // while that descriptor is used; the link drops it after closing the descriptor. `cancelled`
        // turns true on Stop.
        std::function<int(int socket, const std::function<bool()>& cancelled, std::shared_ptr<void>& keep,
                          std::string& why)>
            wrap;
    };

    enum class Event {
        Frame,        // a changed area waits in TakeDirty
        Closed,       // the link that was made has ended by itself (see above)
        Unreachable,  // no link could be made (refused, no such host, time limit)
        Text,         // a text-chat message waits in TakeTexts
        Clipboard     // a clipboard text waits in TakeClipboard
    };
    // Called on the link's thread, never after Stop has returned.
    using Notify = std::function<void(Event)>;

    explicit ViewerLink(Settings settings);
    ~ViewerLink();
    ViewerLink(const ViewerLink&) = delete;
    ViewerLink& operator=(const ViewerLink&) = delete;

    // Starts the thread; call once.
    void Start(Notify notify);
    // Ends the link; no notification follows once it returns. Safe to call again.
    void Stop();
    // Waits until the thread has finished, at most ms milliseconds; true when it has.
    bool WaitFinished(int ms);

    // Input, queued for the thread. Pointer positions are in screen pixels, mask bit b = button b + 1.
    // Successive moves with the same buttons are merged.
    void QueuePointer(int x, int y, int mask);
    void QueueKey(std::uint32_t keysym, bool down);
    // One text-chat message (1 to 4,095 bytes, as the server accepts); false, and nothing queued, for
    // any other length or while the link has taken no input for long.
    bool QueueText(std::string text);
    // The text-chat messages received since the last call, in order.
    std::vector<std::string> TakeTexts();
    // This computer's clipboard text for the server (as clipboard::ToWire gives it); a newer one
    // replaces one not sent yet. The server's latest clipboard text, once (none when none came).
    void QueueClipboard(std::string wireText);
    std::optional<QString> TakeClipboard();

    // The screen (RGB32; null before the first update). Read it only while holding PictureLock.
    std::mutex& PictureLock() { return m_pictureMutex; }
    const QImage& Screen() const { return m_screen; }
    // Also under PictureLock: the shared-memory segment that holds the screen (-1 when it is in
    // ordinary memory) and the number of the screen's memory, new each time the screen is remade.
    int ScreenSegment() const { return m_screenSegment; }
    std::uint64_t ScreenSerial() const { return m_screenSerial; }
    // The area changed since the last call (empty when none), whether the screen's size changed, and
    // the size. Never waits for the picture lock.
    QRegion TakeDirty(bool* resized = nullptr, QSize* size = nullptr);
    // The owner has painted what Event::Frame announced: the thread goes on.
    void FrameShown();
    // The owner wanted to paint but the thread held the picture lock.
    void PaintMissed();

    struct Impl;  // the thread's side, with the library's callbacks

  private:
    friend struct Impl;
    void Run();
    void Report(Event event);
    // After each message: waits until the owner has shown the frame reported, at most 50 ms.
    void AwaitShown();

    const Settings m_settings;

    std::mutex m_notifyMutex;
    Notify m_notify;  // cleared by Stop
    std::atomic<bool> m_stop{false};
    int m_wake[2] = {-1, -1};  // a pipe that wakes the thread for input and Stop

    std::mutex m_wireMutex;
    int m_wire = -1;  // a duplicate of the socket, for Stop to shut it; closed by the thread

    std::mutex m_pictureMutex;  // held by the thread for each message, by the owner while painting
    QImage m_screen;            // the library's frame buffer
    int m_screenSegment = -1;
    std::uint64_t m_screenSerial = 0;

    std::mutex m_stateMutex;
    std::condition_variable m_shown;
    QRegion m_dirty;
    QSize m_size;
    bool m_resized = false;
    bool m_framePending = false;  // Event::Frame was reported and the owner has not shown it yet
    bool m_paintMissed = false;
    std::vector<std::string> m_texts;  // received, not taken yet
    bool m_textsOverflow = false;
    bool m_textPending = false;            // Event::Text was reported and the owner has not taken the texts
    std::optional<QString> m_clipboardIn;  // the server's latest clipboard text, not taken yet

    std::mutex m_inputMutex;
    struct Input {
        bool key = false;
        std::uint32_t keysym = 0;
        bool down = false;
        int x = 0, y = 0, mask = 0;
        std::string text;  // a text-chat message when not empty
    };
    std::vector<Input> m_input;
    std::optional<std::string> m_clipboardOut;  // this computer's clipboard text, not sent yet

    std::mutex m_doneMutex;
    std::condition_variable m_doneSignal;
    bool m_done = false;
};

}  // namespace pelio::components
