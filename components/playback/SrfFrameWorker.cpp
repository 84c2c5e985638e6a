#include "playback/SrfFrameWorker.h"

namespace pelio::components {

SrfFrameWorker::SrfFrameWorker(QObject* context, std::function<void(const Frame&)> deliver)
    : m_context(context), m_deliver(std::move(deliver)) {
    m_thread = std::thread([this] { Run(); });
}

SrfFrameWorker::~SrfFrameWorker() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_interrupt = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

SrfOpenStatus SrfFrameWorker::Open(const QString& path, Frame* first) {
    std::unique_lock lock(m_mutex);
    Quiesce(lock);
    // The recording open before goes first, so that two are never held at once.
    m_reader.Close();
    m_open = m_complete = false;
    m_length = 0;
    m_created = -1;
    const SrfOpenStatus status = m_reader.Open(path);
    if (status != SrfOpenStatus::Ok) return status;
    m_open = true;
    m_complete = m_reader.IsComplete();
    m_length = m_reader.LengthMs();
    m_created = m_reader.CreatedMs();
    m_lastDecoded = m_reader.CurrentFrame();
    *first = Current();
    return status;
}

void SrfFrameWorker::Close() {
    std::unique_lock lock(m_mutex);
    Quiesce(lock);
    m_reader.Close();
    m_open = m_complete = false;
    m_length = 0;
    m_created = -1;
}

void SrfFrameWorker::Request(std::int64_t timeMs) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_open) return;
        m_pending = timeMs;
        m_interrupt = true;
    }
    m_wake.notify_all();
}

void SrfFrameWorker::Quiesce(std::unique_lock<std::mutex>& lock) {
    ++m_generation;
    m_pending.reset();
    m_mailbox.reset();
    m_interrupt = true;
    m_wake.wait(lock, [this] { return !m_busy; });
    m_lastDecoded = -1;
}

SrfFrameWorker::Frame SrfFrameWorker::Current() const {
    Frame frame;
    frame.screen = m_reader.Screen();
    frame.cursorShape = m_reader.CursorShape();
    frame.cursorHotSpot = m_reader.CursorHotSpot();
    frame.cursorPosition = m_reader.CursorPosition();
    frame.cursorVisible = m_reader.CursorVisible();
    frame.timeMs = m_reader.CurrentTimeMs();
    return frame;
}

void SrfFrameWorker::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_pending; });
        if (m_stop) return;
        const std::int64_t target = *m_pending;
        const std::uint64_t generation = m_generation;
        m_pending.reset();
        m_interrupt = false;
        m_busy = true;
        lock.unlock();
        m_reader.SeekTo(target, [this] { return m_interrupt.load(std::memory_order_relaxed); });
        // A seek cut short by a newer request still hands over the frame it reached: it belongs to
        // the recording, and playback would stand still if every request were superseded.
        const int reached = m_reader.CurrentFrame();
        Frame frame;
        const bool fresh = reached != m_lastDecoded;  // written only while the worker is idle
        if (fresh) frame = Current();
        lock.lock();
        m_busy = false;
        if (generation == m_generation && fresh && reached >= 0) {
            m_lastDecoded = reached;
            m_mailbox = std::move(frame);
            if (!m_notified) {
                m_notified = true;
                QMetaObject::invokeMethod(
                    m_context, [this] { TakeFrame(); }, Qt::QueuedConnection);
            }
        }
        m_wake.notify_all();
    }
}

void SrfFrameWorker::TakeFrame() {
    std::optional<Frame> frame;
    {
        std::lock_guard lock(m_mutex);
        m_notified = false;
        frame.swap(m_mailbox);
    }
    if (frame) m_deliver(*frame);
}

}  // namespace pelio::components
