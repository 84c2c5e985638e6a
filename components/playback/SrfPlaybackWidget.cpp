#include "playback/SrfPlaybackWidget.h"

#include <QAbstractScrollArea>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>

namespace pelio::components {

namespace {
constexpr int TickMs = 15;
constexpr int ScrollTickMs = 30;
constexpr int EdgeMargin = 24;  // pixels from a window edge where auto-scroll starts
constexpr int ScrollStep = 24;  // pixels per scroll tick
}  // namespace

// The recorded screen inside scroll bars. Scroll bars appear only at full size when the screen is
// larger than the window.
class SrfPlaybackWidget::ScreenView : public QAbstractScrollArea {
  public:
    explicit ScreenView(SrfPlaybackWidget* owner) : QAbstractScrollArea(owner), m_owner(owner) {
        setFrameShape(QFrame::NoFrame);
        viewport()->setMouseTracking(true);
        viewport()->setAutoFillBackground(false);
        m_scroll.setInterval(ScrollTickMs);
        connect(&m_scroll, &QTimer::timeout, this, [this] { ScrollStepNow(); });
    }

    void UpdateLayout() {
        const QSize screen = ScreenSize();
        const bool fullSize = !m_owner->m_stretch && !screen.isEmpty();
        const Qt::ScrollBarPolicy policy = fullSize ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
        setHorizontalScrollBarPolicy(policy);
        setVerticalScrollBarPolicy(policy);
        const QSize area = viewport()->size();
        horizontalScrollBar()->setRange(0, fullSize ? std::max(0, screen.width() - area.width()) : 0);
        verticalScrollBar()->setRange(0, fullSize ? std::max(0, screen.height() - area.height()) : 0);
        horizontalScrollBar()->setPageStep(area.width());
        verticalScrollBar()->setPageStep(area.height());
        if (!fullSize || !m_owner->m_autoScroll) m_scroll.stop();
        m_laidOutFor = screen;
        viewport()->update();
    }

    QSize LaidOutFor() const { return m_laidOutFor; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(viewport());
        painter.fillRect(viewport()->rect(), Qt::black);
        const SrfFrameWorker::Frame& frame = m_owner->m_shown;
        if (frame.screen.isNull()) return;
        const QImage& screen = frame.screen;
        const QSize area = viewport()->size();
        if (m_owner->m_stretch) {
            const QSize fitted = screen.size().scaled(area, Qt::KeepAspectRatio);
            if (fitted.isEmpty()) return;
            painter.translate((area.width() - fitted.width()) / 2, (area.height() - fitted.height()) / 2);
            painter.scale(double(fitted.width()) / screen.width(), double(fitted.height()) / screen.height());
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
        } else {
            const int x = screen.width() < area.width() ? (area.width() - screen.width()) / 2
                                                        : -horizontalScrollBar()->value();
            const int y = screen.height() < area.height() ? (area.height() - screen.height()) / 2
                                                          : -verticalScrollBar()->value();
            painter.translate(x, y);
        }
        painter.drawImage(0, 0, screen);
        if (frame.cursorVisible)
            painter.drawImage(frame.cursorPosition - frame.cursorHotSpot, frame.cursorShape);
    }

    void resizeEvent(QResizeEvent* event) override {
        QAbstractScrollArea::resizeEvent(event);
        UpdateLayout();
    }

    void scrollContentsBy(int, int) override { viewport()->update(); }

    void mouseMoveEvent(QMouseEvent* event) override {
        const QPoint p = event->position().toPoint();
        const QSize area = viewport()->size();
        m_direction = QPoint(p.x() < EdgeMargin                   ? -1
                             : p.x() >= area.width() - EdgeMargin ? 1
                                                                  : 0,
                             p.y() < EdgeMargin                    ? -1
                             : p.y() >= area.height() - EdgeMargin ? 1
                                                                   : 0);
        const bool canScroll = !m_owner->m_stretch && m_owner->m_autoScroll &&
                               (horizontalScrollBar()->maximum() > 0 || verticalScrollBar()->maximum() > 0);
        if (canScroll && !m_direction.isNull()) {
            if (!m_scroll.isActive()) m_scroll.start();
        } else {
            m_scroll.stop();
        }
        QAbstractScrollArea::mouseMoveEvent(event);
    }

    bool viewportEvent(QEvent* event) override {
        if (event->type() == QEvent::Leave) m_scroll.stop();
        return QAbstractScrollArea::viewportEvent(event);
    }

  private:
    QSize ScreenSize() const { return m_owner->m_shown.screen.size(); }

    void ScrollStepNow() {
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + m_direction.x() * ScrollStep);
        verticalScrollBar()->setValue(verticalScrollBar()->value() + m_direction.y() * ScrollStep);
    }

    SrfPlaybackWidget* m_owner;
    QTimer m_scroll;
    QPoint m_direction;
    QSize m_laidOutFor;
};

SrfPlaybackWidget::SrfPlaybackWidget(QWidget* parent) : PlaybackComponent(parent) {
    m_worker =
        std::make_unique<SrfFrameWorker>(this, [this](const SrfFrameWorker::Frame& f) { ShowFrame(f); });
    m_now = [] {
        return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count());
    };
    m_view = new ScreenView(this);
    m_view->setMinimumSize(1, 1);  // any window size will do; scroll bars appear when needed
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    m_tick.setInterval(TickMs);
    connect(&m_tick, &QTimer::timeout, this, &SrfPlaybackWidget::Tick);
}

SrfPlaybackWidget::~SrfPlaybackWidget() = default;

void SrfPlaybackWidget::SetTimeSource(TimeSource now) {
    if (!now) return;
    m_basePosition = Position();
    m_now = std::move(now);
    m_startedAt = m_now();
}

bool SrfPlaybackWidget::OpenRecording(const QString& path) {
    // Nothing of the recording shown before is kept while the next one is read.
    m_tick.stop();
    m_shown = {};
    m_basePosition = 0;
    m_endSignalled = false;
    SrfFrameWorker::Frame first;
    switch (m_worker->Open(path, &first)) {
        case SrfOpenStatus::Ok:
            m_lastError = OpenError::None;
            break;
        case SrfOpenStatus::CannotRead:
            m_lastError = OpenError::CannotRead;
            break;
        case SrfOpenStatus::NotRecording:
            m_lastError = OpenError::NotRecording;
            break;
        case SrfOpenStatus::BeingWritten:
            m_lastError = OpenError::BeingWritten;
            break;
    }
    m_shown = first;
    ChangeState(Stopped);
    m_view->UpdateLayout();
    return m_lastError == OpenError::None;
}

void SrfPlaybackWidget::CloseRecording() {
    m_tick.stop();
    m_shown = {};
    m_worker->Close();
    m_basePosition = 0;
    ChangeState(Stopped);
    m_view->UpdateLayout();
}

qint64 SrfPlaybackWidget::Length() const {
    return m_worker->LengthMs();
}

qint64 SrfPlaybackWidget::Position() const {
    if (m_playState != Playing) return m_basePosition;
    const qint64 elapsed = std::max<qint64>(0, m_now() - m_startedAt);
    return std::min<qint64>(m_worker->LengthMs(), m_basePosition + static_cast<qint64>(elapsed * m_speed));
}

void SrfPlaybackWidget::SetSpeed(double speed) {
    if (!(speed >= MinSpeed && speed <= MaxSpeed)) return;
    // The time played so far counts at the old speed; from now on at the new one.
    m_basePosition = Position();
    m_startedAt = m_now();
    m_speed = speed;
}

qint64 SrfPlaybackWidget::StartTime() const {
    return m_worker->CreatedMs();
}

void SrfPlaybackWidget::SetPosition(qint64 position) {
    if (!m_worker->IsOpen()) return;
    m_basePosition = std::clamp<qint64>(position, 0, m_worker->LengthMs());
    m_startedAt = m_now();
    m_endSignalled = false;
    m_worker->Request(m_basePosition);
}

void SrfPlaybackWidget::SetPlayState(int state) {
    if (state < Playing || state > Stopped) return;
    if (state == Playing) {
        if (!m_worker->IsOpen()) return;
        if (m_playState != Playing) {
            m_startedAt = m_now();
            m_tick.start();
        }
    } else {
        m_tick.stop();
        m_basePosition = state == Stopped ? 0 : Position();
        if (state == Stopped) m_endSignalled = false;
        m_worker->Request(m_basePosition);
    }
    ChangeState(state);
}

void SrfPlaybackWidget::ChangeState(int state) {
    if (state == m_playState) return;
    // Position() of a playing component runs on the time source: keep the position when leaving that state.
    m_playState = state;
    emit PlayStateChanged(state);
}

void SrfPlaybackWidget::SetStretchView(bool stretch) {
    m_stretch = stretch;
    m_view->UpdateLayout();
}

void SrfPlaybackWidget::SetAutoScrollView(bool autoScroll) {
    m_autoScroll = autoScroll;
    m_view->UpdateLayout();
}

qint64 SrfPlaybackWidget::ShownFrameTime() const {
    return m_shown.timeMs;
}

bool SrfPlaybackWidget::RecordingComplete() const {
    return m_worker->IsComplete();
}

void SrfPlaybackWidget::Tick() {
    const qint64 position = Position();
    m_worker->Request(position);
    if (position >= m_worker->LengthMs() && !m_endSignalled) {
        m_endSignalled = true;
        emit EndReached();
    }
}

void SrfPlaybackWidget::ShowFrame(const SrfFrameWorker::Frame& frame) {
    // A damaged frame ends the picture where it is; the clock still runs to the end.
    m_shown = frame;
    if (m_shown.screen.size() != m_view->LaidOutFor()) m_view->UpdateLayout();
    m_view->viewport()->update();
}

}  // namespace pelio::components
