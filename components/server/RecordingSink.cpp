#include "server/RecordingSink.h"

#include "recording/SrfWriter.h"
#include "server/ServerLog.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace pelio::components {

namespace {

using Clock = RecordingSink::Clock;

// The recording keeps a calmer pace than the live picture: changes are gathered and written at most
// this often, which keeps its cost small while the agent watches a busy screen.
constexpr auto FrameInterval = std::chrono::milliseconds(100);
// Frames waiting for the writer thread (or being written) before the producer holds back.
constexpr int MaxQueuedFrames = 3;
// The writer turns more rectangles than this into their bounding rectangle anyway.
constexpr int MaxRectsPerFrame = 256;
constexpr auto RetryInterval = std::chrono::milliseconds(10);

struct Job {
    enum Kind { Open, Frame, Finish } kind = Frame;
    int id = 0;
    QString path;              // Open
    QSize size;                // Open, Frame: the screen's size
    std::int64_t timeMs = 0;   // Frame: its time; Finish: the recording's length
    std::vector<QRect> rects;  // Frame: changed rectangles, their pixels row after row in `pixels`
    std::vector<std::uint32_t> pixels;
    bool withShape = false;
    QImage shape;
    QPoint hotSpot;
    bool moved = false;
    QPoint position;  // the shape's top-left corner
    bool cursorVisible = false;
};

std::int64_t MsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

}  // namespace

struct RecordingSink::Impl {
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;
    int queuedFrames = 0;
    std::vector<std::vector<std::uint32_t>> spare;  // pixel buffers to reuse
    bool quit = false;
    std::thread thread;

    // The producer's screen and cursor.
    const std::uint32_t* pixels = nullptr;
    QSize size;
    bool cursorRecorded = true;
    QImage shape;
    QPoint hotSpot, position;

    // The recording that runs (0: none), and what it has gathered for its next frame.
    std::atomic<int> current{0};
    std::atomic<int> failed{0};  // a recording whose file could not be created
    int lastId = 0;
    bool cursorOn = false;
    Clock::time_point started, nextFrame;
    QRegion pending;
    bool shapeChanged = false, moved = false;

    bool HasPendingLocked() const { return !pending.isEmpty() || shapeChanged || moved; }
    // A recording runs and its file could be created: frames are worth taking.
    bool Live() const {
        const int id = current.load();
        return id != 0 && failed.load() != id;
    }

    // Copies the gathered changes out of the screen into a frame job. `rects` empty: the whole screen.
    void QueueFrameLocked(Clock::time_point now, bool whole) {
        Job job;
        job.kind = Job::Frame;
        job.id = current;
        job.size = size;
        job.timeMs = std::max<std::int64_t>(0, MsBetween(started, now));
        const QRect bounds(QPoint(0, 0), size);
        if (whole) {
            job.rects.push_back(bounds);
        } else {
            const QRegion region = pending & bounds;
            if (region.rectCount() > MaxRectsPerFrame)
                job.rects.push_back(region.boundingRect());
            else
                job.rects.assign(region.begin(), region.end());
        }
        std::size_t count = 0;
        for (const QRect& r : job.rects) count += std::size_t(r.width()) * std::size_t(r.height());
        if (!spare.empty()) {
            job.pixels = std::move(spare.back());
            spare.pop_back();
        }
        job.pixels.resize(count);
        std::uint32_t* out = job.pixels.data();
        for (const QRect& r : job.rects)
            for (int y = r.top(); y <= r.bottom(); ++y) {
                std::memcpy(out, pixels + std::size_t(y) * std::size_t(size.width()) + r.left(),
                            std::size_t(r.width()) * 4);
                out += r.width();
            }
        if (cursorOn) {
            job.withShape = whole ? !shape.isNull() : shapeChanged;
            job.shape = shape;
            job.hotSpot = hotSpot;
            job.moved = whole ? !shape.isNull() : moved;
            job.position = position - hotSpot;
            job.cursorVisible = true;
        }
        pending = QRegion();
        shapeChanged = moved = false;
        jobs.push_back(std::move(job));
        ++queuedFrames;
        wake.notify_one();
    }

    void StopLocked(Clock::time_point now) {
        if (current == 0) return;
        if (pixels && HasPendingLocked()) QueueFrameLocked(now, false);  // what the agent saw is kept
        Job finish;
        finish.kind = Job::Finish;
        finish.id = current;
        finish.timeMs = std::max<std::int64_t>(0, MsBetween(started, now));
        jobs.push_back(std::move(finish));
        wake.notify_one();
        qCInfo(lcServer, "recording %d stopped", current.load());
        current = 0;
    }

    // ---- writer thread ----

    std::unique_ptr<SrfWriter> writer;
    int openId = 0;
    bool writeFailed = false;

    void Perform(Job& job) {
        switch (job.kind) {
            case Job::Open:
                writer = std::make_unique<SrfWriter>();
                openId = job.id;
                writeFailed = false;
                if (!writer->Open(job.path, job.size)) {
                    qCWarning(lcServer, "recording %d: cannot create %s", job.id, qPrintable(job.path));
                    failed = job.id;
                    writer.reset();
                    openId = 0;
                }
                break;
            case Job::Frame: {
                if (!writer || job.id != openId) break;
                if (job.size != writer->ScreenSize()) writer->SetScreenSize(job.size);
                const std::uint32_t* in = job.pixels.data();
                for (const QRect& r : job.rects) {
                    writer->UpdateRect(r, in, r.width() * 4);
                    in += std::size_t(r.width()) * std::size_t(r.height());
                }
                if (job.withShape) writer->SetCursorShape(job.shape, job.hotSpot);
                if (job.moved) writer->SetCursorPosition(job.position, job.cursorVisible);
                if (!writer->CommitFrame(job.timeMs) && !writeFailed) {
                    writeFailed = true;
                    qCWarning(lcServer, "recording %d: a frame could not be written", job.id);
                }
                break;
            }
            case Job::Finish:
                if (!writer || job.id != openId) break;
                if (!writer->Finish(job.timeMs))
                    qCWarning(lcServer, "recording %d: the file could not be finished", job.id);
                writer.reset();
                openId = 0;
                break;
        }
    }

    void Run() {
        std::unique_lock lock(mutex);
        while (true) {
            wake.wait(lock, [&] { return quit || !jobs.empty(); });
            if (jobs.empty()) return;
            Job job = std::move(jobs.front());
            jobs.pop_front();
            lock.unlock();
            Perform(job);
            lock.lock();
            if (job.kind == Job::Frame) {
                --queuedFrames;
                if (spare.size() < 2 && job.pixels.capacity() > 0) spare.push_back(std::move(job.pixels));
            }
        }
    }
};

RecordingSink::RecordingSink() : d(std::make_unique<Impl>()) {
    d->thread = std::thread([this] { d->Run(); });
}

RecordingSink::~RecordingSink() {
    {
        std::lock_guard lock(d->mutex);
        d->StopLocked(Clock::now());
        d->quit = true;
    }
    d->wake.notify_one();
    d->thread.join();
}

void RecordingSink::Start(const QString& path) {
    const auto now = Clock::now();
    std::lock_guard lock(d->mutex);
    d->StopLocked(now);
    if (!d->pixels) return;
    const int id = ++d->lastId;
    d->current = id;
    d->started = now;
    d->nextFrame = now + FrameInterval;
    d->cursorOn = d->cursorRecorded;
    Job open;
    open.kind = Job::Open;
    open.id = id;
    open.path = path;
    open.size = d->size;
    d->jobs.push_back(std::move(open));
    d->QueueFrameLocked(now, true);  // the screen as it is now, the cursor with it
    qCInfo(lcServer, "recording %d started: %s", id, qPrintable(path));
}

void RecordingSink::Stop() {
    const auto now = Clock::now();
    std::lock_guard lock(d->mutex);
    d->StopLocked(now);
}

bool RecordingSink::Recording() const {
    return d->Live();
}

void RecordingSink::SetScreen(const std::uint32_t* pixels, QSize size) {
    const auto now = Clock::now();
    std::lock_guard lock(d->mutex);
    // The changes gathered on the old screen are taken before it goes.
    if (d->current != 0 && d->pixels && d->HasPendingLocked()) d->QueueFrameLocked(now, false);
    d->pixels = pixels;
    d->size = pixels ? size : QSize();
    d->pending = pixels ? QRegion(QRect(QPoint(0, 0), size)) : QRegion();
}

void RecordingSink::SetCursorRecorded(bool recorded) {
    std::lock_guard lock(d->mutex);
    d->cursorRecorded = recorded;
}

void RecordingSink::Changed(const QRegion& region) {
    if (!d->Live() || region.isEmpty()) return;
    std::lock_guard lock(d->mutex);
    if (d->Live()) d->pending += region;
}

void RecordingSink::SetCursorShape(const QImage& shape, QPoint hotSpot) {
    std::lock_guard lock(d->mutex);
    d->shape = shape;
    d->hotSpot = hotSpot;
    d->shapeChanged = true;
}

void RecordingSink::SetCursorPosition(QPoint position) {
    std::lock_guard lock(d->mutex);
    d->moved = d->moved || position != d->position;
    d->position = position;
}

bool RecordingSink::FrameDue(Clock::time_point now) const {
    if (!d->Live()) return false;
    std::lock_guard lock(d->mutex);
    return d->Live() && now >= d->nextFrame && d->queuedFrames < MaxQueuedFrames;
}

Clock::time_point RecordingSink::NextFrameTime() const {
    if (!d->Live()) return Clock::time_point::max();
    std::lock_guard lock(d->mutex);
    if (!d->Live()) return Clock::time_point::max();
    // While the writer lags, no frame can be taken before it has taken one.
    if (d->queuedFrames >= MaxQueuedFrames) return std::max(d->nextFrame, Clock::now() + RetryInterval);
    return d->nextFrame;
}

Clock::time_point RecordingSink::Tick(Clock::time_point now) {
    if (!d->Live()) return Clock::time_point::max();
    std::lock_guard lock(d->mutex);
    if (!d->Live() || !d->pixels || !d->HasPendingLocked()) return Clock::time_point::max();
    if (now < d->nextFrame) return d->nextFrame;
    if (d->queuedFrames >= MaxQueuedFrames) return now + RetryInterval;  // the writer lags
    d->QueueFrameLocked(now, false);
    d->nextFrame = now + FrameInterval;
    return Clock::time_point::max();
}

}  // namespace pelio::components
