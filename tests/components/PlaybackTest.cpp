#include "SrfTestSupport.h"
#include "playback/FakePlaybackComponent.h"
#include "playback/SrfPlaybackWidget.h"
#include "recording/SrfWriter.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QDateTime>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTemporaryDir>

using namespace pelio::components;
using pelio::components::test::RawRecording;
using pelio::components::test::WriteRecording;
using pelio::test::WaitFor;

namespace {

class PlaybackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_writtenFrom = QDateTime::currentMSecsSinceEpoch();
        m_expected = WriteRecording(m_dir.filePath("a.srf"), 30);  // 0..2900 ms
        m_writtenTo = QDateTime::currentMSecsSinceEpoch();
        ASSERT_EQ(m_expected.size(), 30u);
        m_widget.resize(64, 48);
        m_widget.SetStretchView(false);
        m_widget.SetTimeSource([this] { return m_now; });
        m_widget.show();
    }

    // The colour the widget shows at a screen point of the recording (full size, no scrolling).
    QColor Shown(QPoint p) { return m_widget.grab().toImage().pixelColor(p); }
    // Waits until the frame at timeMs is on screen.
    bool Shows(qint64 timeMs) {
        return WaitFor([&] { return m_widget.ShownFrameTime() == timeMs; });
    }

    QTemporaryDir m_dir;
    std::vector<test::ExpectedFrame> m_expected;
    qint64 m_now = 1000;                        // the clock that playing follows
    qint64 m_writtenFrom = 0, m_writtenTo = 0;  // when the recording was written (wall clock)
    SrfPlaybackWidget m_widget;
};

TEST_F(PlaybackTest, OpensStoppedAtTheStartAndSeeksByPosition) {
    ASSERT_TRUE(m_widget.OpenRecording(m_dir.filePath("a.srf")));
    EXPECT_EQ(m_widget.Length(), 2900);
    EXPECT_EQ(m_widget.Position(), 0);
    EXPECT_EQ(m_widget.PlayState(), PlaybackComponent::Stopped);
    EXPECT_EQ(Shown(QPoint(5, 5)), m_expected[0].screen.pixelColor(5, 5));

    // The position changes at once; the picture follows through the event loop, decoded elsewhere.
    m_widget.SetPosition(1750);
    EXPECT_EQ(m_widget.Position(), 1750);
    EXPECT_EQ(m_widget.ShownFrameTime(), 0);
    ASSERT_TRUE(Shows(1700));
    EXPECT_EQ(Shown(QPoint(40, 20)), m_expected[17].screen.pixelColor(40, 20));
    // A newer position replaces one still on its way.
    m_widget.SetPosition(2900);
    m_widget.SetPosition(250);
    ASSERT_TRUE(Shows(200));
    m_widget.SetPosition(99999);
    EXPECT_EQ(m_widget.Position(), 2900);
}

TEST_F(PlaybackTest, PlaysToTheEndAndHoldsThere) {
    ASSERT_TRUE(m_widget.OpenRecording(m_dir.filePath("a.srf")));
    int ended = 0;
    QList<int> states;
    QObject::connect(&m_widget, &PlaybackComponent::EndReached, [&] { ++ended; });
    QObject::connect(&m_widget, &PlaybackComponent::PlayStateChanged, [&](int state) { states << state; });
    m_widget.SetPosition(2700);
    m_widget.SetPlayState(PlaybackComponent::Playing);
    m_now += 150;
    EXPECT_EQ(m_widget.Position(), 2850);
    ASSERT_TRUE(Shows(2800));
    EXPECT_EQ(ended, 0);
    m_now += 1000;
    ASSERT_TRUE(WaitFor([&] { return ended > 0; }));
    EXPECT_EQ(m_widget.Position(), 2900);
    EXPECT_EQ(m_widget.PlayState(), PlaybackComponent::Playing);
    ASSERT_TRUE(Shows(2900));
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(states, QList<int>{PlaybackComponent::Playing});

    // Stopping returns to the start; pausing holds the position whatever the clock does.
    m_widget.SetPlayState(PlaybackComponent::Stopped);
    EXPECT_EQ(m_widget.Position(), 0);
    ASSERT_TRUE(Shows(0));
    m_widget.SetPosition(1200);
    m_widget.SetPlayState(PlaybackComponent::Playing);
    m_now += 333;
    m_widget.SetPlayState(PlaybackComponent::Paused);
    EXPECT_EQ(m_widget.Position(), 1533);
    m_now += 5000;
    EXPECT_EQ(m_widget.Position(), 1533);
    ASSERT_TRUE(Shows(1500));
    m_widget.SetPlayState(PlaybackComponent::Playing);
    m_now += 100;
    EXPECT_EQ(m_widget.Position(), 1633);
}

TEST_F(PlaybackTest, PlaysAtItsSpeedAndTellsWhenTheRecordingStarted) {
    ASSERT_TRUE(m_widget.OpenRecording(m_dir.filePath("a.srf")));
    EXPECT_GE(m_widget.StartTime(), m_writtenFrom);
    EXPECT_LE(m_widget.StartTime(), m_writtenTo);
    EXPECT_EQ(m_widget.Speed(), 1);

    // Frames come at their recording time divided by the speed; a change keeps the time played.
    m_widget.SetSpeed(2);
    m_widget.SetPlayState(PlaybackComponent::Playing);
    m_now += 500;
    EXPECT_EQ(m_widget.Position(), 1000);
    ASSERT_TRUE(Shows(1000));
    m_widget.SetSpeed(0.5);
    m_now += 400;
    EXPECT_EQ(m_widget.Position(), 1200);
    m_widget.SetSpeed(100);  // outside the range: ignored
    m_widget.SetSpeed(0);
    EXPECT_EQ(m_widget.Speed(), 0.5);

    // The speed stays for the next recording; none open tells no start.
    m_widget.CloseRecording();
    EXPECT_EQ(m_widget.StartTime(), -1);
    ASSERT_TRUE(m_widget.OpenRecording(m_dir.filePath("a.srf")));
    m_widget.SetPlayState(PlaybackComponent::Playing);
    m_now += 1000;
    EXPECT_EQ(m_widget.Position(), 500);
}

TEST_F(PlaybackTest, FailedOpenLeavesNothingOpenAndTellsWhy) {
    ASSERT_TRUE(m_widget.OpenRecording(m_dir.filePath("a.srf")));
    m_widget.SetPosition(900);
    m_widget.SetPlayState(PlaybackComponent::Playing);

    // The recording open before is released whatever the new one turns out to be.
    SrfWriter live;
    ASSERT_TRUE(live.Open(m_dir.filePath("live.srf"), QSize(8, 8)));
    ASSERT_TRUE(live.CommitFrame(0));
    EXPECT_FALSE(m_widget.OpenRecording(m_dir.filePath("live.srf")));
    EXPECT_EQ(m_widget.LastOpenError(), PlaybackComponent::OpenError::BeingWritten);
    EXPECT_EQ(m_widget.Length(), 0);
    EXPECT_EQ(m_widget.Position(), 0);
    EXPECT_EQ(m_widget.PlayState(), PlaybackComponent::Stopped);
    EXPECT_EQ(m_widget.ShownFrameTime(), -1);
    EXPECT_EQ(Shown(QPoint(5, 5)), QColor(Qt::black));
    m_widget.SetPlayState(PlaybackComponent::Playing);
    EXPECT_EQ(m_widget.PlayState(), PlaybackComponent::Stopped);
    EXPECT_FALSE(m_widget.OpenRecording(m_dir.filePath("none.srf")));
    EXPECT_EQ(m_widget.LastOpenError(), PlaybackComponent::OpenError::CannotRead);

    // A writer that dies leaves a recording that opens as far as it goes.
    live.Abandon();
    ASSERT_TRUE(m_widget.OpenRecording(m_dir.filePath("live.srf")));
    EXPECT_FALSE(m_widget.RecordingComplete());
    EXPECT_EQ(m_widget.LastOpenError(), PlaybackComponent::OpenError::None);

    m_widget.CloseRecording();
    EXPECT_EQ(m_widget.Length(), 0);
    m_widget.SetPlayState(PlaybackComponent::Playing);
    EXPECT_EQ(m_widget.PlayState(), PlaybackComponent::Stopped);
}

TEST_F(PlaybackTest, LengthsBeyondTheIntRangeStayWhole) {
    // Only a forged file declares such a length: the writer stops at 2^31 - 1 ms.
    RawRecording forged;
    forged.Key(0, QSize(64, 48), 10);
    forged.Key(4294967280u, QSize(64, 48), 250);
    ASSERT_TRUE(forged.Save(m_dir.filePath("long.srf")));
    ASSERT_TRUE(m_widget.OpenRecording(m_dir.filePath("long.srf")));
    EXPECT_EQ(m_widget.Length(), 4294967280LL);
    m_widget.SetPosition(4294967000LL);
    EXPECT_EQ(m_widget.Position(), 4294967000LL);
    m_widget.SetPlayState(PlaybackComponent::Playing);
    m_now += 280;
    EXPECT_EQ(m_widget.Position(), 4294967280LL);
    ASSERT_TRUE(Shows(4294967280LL));
    EXPECT_EQ(Shown(QPoint(5, 5)), QColor(250, 250, 250));
}

TEST_F(PlaybackTest, StretchScalesAndFullSizeAutoScrollsAtTheEdge) {
    ASSERT_TRUE(m_widget.OpenRecording(m_dir.filePath("a.srf")));
    m_widget.SetPosition(2900);
    ASSERT_TRUE(Shows(2900));
    const QImage& last = m_expected[29].screen;

    m_widget.SetStretchView(true);
    m_widget.resize(128, 96);
    QCoreApplication::processEvents();
    EXPECT_EQ(Shown(QPoint(2 * 40 + 1, 2 * 20 + 1)), last.pixelColor(40, 20));

    m_widget.SetStretchView(false);
    m_widget.SetAutoScrollView(true);
    m_widget.resize(40, 30);
    QCoreApplication::processEvents();
    auto* view = m_widget.findChild<QAbstractScrollArea*>();
    ASSERT_NE(view, nullptr);
    ASSERT_GT(view->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(view->horizontalScrollBar()->value(), 0);
    QWidget* viewport = view->viewport();
    const QPointF edge(viewport->width() - 2, viewport->height() / 2);
    QMouseEvent move(QEvent::MouseMove, edge, viewport->mapToGlobal(edge), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &move);
    ASSERT_TRUE(WaitFor(
        [&] { return view->horizontalScrollBar()->value() == view->horizontalScrollBar()->maximum(); }));
    EXPECT_EQ(view->verticalScrollBar()->value(), 0);

    // Without auto-scroll the edge does nothing.
    view->horizontalScrollBar()->setValue(0);
    m_widget.SetAutoScrollView(false);
    QCoreApplication::sendEvent(viewport, &move);
    QCoreApplication::processEvents();
    EXPECT_EQ(view->horizontalScrollBar()->value(), 0);
}

TEST(FakePlaybackTest, RecordsCallsAndLetsTheTestDriveTheState) {
    FakePlaybackComponent fake;
    fake.SetLengthOnOpen(5000);
    ASSERT_TRUE(fake.OpenRecording("x.srf"));
    EXPECT_EQ(fake.Length(), 5000);
    fake.SetPlayState(PlaybackComponent::Playing);
    fake.SetTestPosition(4990);
    EXPECT_EQ(fake.Position(), 4990);
    fake.SetPosition(100);
    fake.SetStretchView(false);
    fake.SetAutoScrollView(true);
    fake.SetSpeed(2);
    fake.SetSpeed(99);
    EXPECT_EQ(fake.Speed(), 2);
    fake.SetPlayState(PlaybackComponent::Stopped);
    EXPECT_EQ(fake.Position(), 0);
    fake.SetOpenResult(false, PlaybackComponent::OpenError::BeingWritten);
    EXPECT_FALSE(fake.OpenRecording("y.srf"));
    EXPECT_EQ(fake.LastOpenError(), PlaybackComponent::OpenError::BeingWritten);
    fake.CloseRecording();
    EXPECT_EQ(fake.Calls(), QStringList({"OpenRecording(x.srf)", "PlayState=0", "Position=100",
                                         "StretchView=0", "AutoScrollView=1", "Speed=2", "Speed=99",
                                         "PlayState=2", "OpenRecording(y.srf)", "CloseRecording()"}));
}

}  // namespace
