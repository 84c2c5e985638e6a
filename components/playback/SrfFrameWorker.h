// Decodes the frames of a ".srf" recording on a thread of its own, for the playback widget: the
// widget asks for a time, the worker decodes the frame shown at that time and hands it to the widget's
// thread. A newer request replaces an older one, also one that is being decoded.
//
// Every member is called from the thread that created the worker (the UI thread). Open and Close wait
// until the worker has put down the frame it is decoding (one frame, bounded by the format); requests
// and frames of a recording that was closed meanwhile are dropped. While requests follow each other
// faster than frames decode, each still delivers the frames it got to, so that playback moves on.
#pragma once

#include "recording/SrfReader.h"

#include <QImage>
#include <QObject>
#include <QPoint>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace pelio::components {

class SrfFrameWorker {
  public:
    // What one frame shows. The images are shared with the worker until it decodes the next frame.
    struct Frame {
        QImage screen;  // RGB32; null when nothing is shown
        QImage cursorShape;
        QPoint cursorHotSpot;
        QPoint cursorPosition;
        bool cursorVisible = false;
        std::int64_t timeMs = -1;
    };

    // Decoded frames reach deliver on the thread of context, through its event loop; when several are
    // ready by then, only the newest. context owns the worker.
    SrfFrameWorker(QObject* context, std::function<void(const Frame&)> deliver);
    ~SrfFrameWorker();
    SrfFrameWorker(const SrfFrameWorker&) = delete;
    SrfFrameWorker& operator=(const SrfFrameWorker&) = delete;

    // Releases the open recording, then opens path; on success *first is its first frame. A failed
    // open leaves nothing open.
    SrfOpenStatus Open(const QString& path, Frame* first);
    void Close();

    // Of the open recording (0, -1 and false when none is).
    std::int64_t LengthMs() const { return m_length; }
    std::int64_t CreatedMs() const { return m_created; }
    bool IsComplete() const { return m_complete; }
    bool IsOpen() const { return m_open; }

    // Asks for the frame at timeMs. It is delivered when it differs from the frame delivered last.
    void Request(std::int64_t timeMs);

  private:
    void Run();
    // What the reader shows now; m_mutex is held and the worker idle, or the caller is the worker.
    Frame Current() const;
    // Stops the decoding under way, drops what was asked and decoded, and waits until the worker is
    // idle; m_mutex is held.
    void Quiesce(std::unique_lock<std::mutex>& lock);
    void TakeFrame();

    QObject* m_context;
    std::function<void(const Frame&)> m_deliver;

    // The reader is used by the worker while m_busy, else by the owner's thread under m_mutex.
    SrfReader m_reader;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<std::int64_t> m_pending;
    std::optional<Frame> m_mailbox;  // decoded, not yet taken by the owner's thread
    bool m_notified = false;         // a call of TakeFrame is on its way
    bool m_busy = false;
    bool m_stop = false;
    int m_lastDecoded = -1;                // the reader's frame put in the mailbox last
    std::uint64_t m_generation = 0;        // counts Open and Close
    std::atomic<bool> m_interrupt{false};  // a newer request, Open, Close or the end waits

    std::int64_t m_length = 0;
    std::int64_t m_created = -1;
    bool m_complete = false;
    bool m_open = false;
    std::thread m_thread;
};

}  // namespace pelio::components
