// The history viewer's play, pause and stop rules, without the window: the fake playback component
// records what the control asks of it, a recording view what the control shows.
#include "history/PlaybackControl.h"
#include "playback/FakePlaybackComponent.h"

#include <gtest/gtest.h>

#include <QStringList>

using namespace pelio;
using components::FakePlaybackComponent;
using history::PlaybackControl;
using State = PlaybackControl::State;

namespace {

class RecordingView : public PlaybackControl::View {
  public:
    QStringList shown;
    void ShowState(State state, bool moveFocus) override {
        static const char* const names[] = {"NoRecording", "Stopped", "Playing", "Paused", "Seeking"};
        shown << QStringLiteral("%1%2").arg(QLatin1String(names[int(state)]), moveFocus ? "+focus" : "");
    }
    void ShowPosition(qint64 position) override { shown << QStringLiteral("position %1").arg(position); }
    void ShowLength(qint64 length) override { shown << QStringLiteral("length %1").arg(length); }
    void ReportEnd() override { shown << QStringLiteral("end"); }
    void ReportOpenFailure(const QString& path) override { shown << QStringLiteral("failed ") + path; }
};

class PlaybackControlTest : public ::testing::Test {
  protected:
    FakePlaybackComponent component;
    RecordingView view;
    PlaybackControl control{component, view};

    // Opens a recording of the given length and forgets what that took.
    void OpenPlaying(int length = 60000) {
        component.SetLengthOnOpen(length);
        ASSERT_TRUE(control.Open(QStringLiteral("a.srf")));
        ASSERT_EQ(control.CurrentState(), State::Playing);
        Clear();
    }
    void Clear() {
        component.ClearCalls();
        view.shown.clear();
    }
};

}  // namespace

TEST(PlaybackControlTable, ControlsInEachState) {
    auto row = [](State state) {
        const PlaybackControl::Controls c = PlaybackControl::ControlsIn(state);
        return QStringLiteral("%1%2%3%4").arg(c.play).arg(c.pause).arg(c.slider).arg(c.timer);
    };
    EXPECT_EQ(row(State::NoRecording), QStringLiteral("0000"));
    EXPECT_EQ(row(State::Stopped), QStringLiteral("1010"));
    EXPECT_EQ(row(State::Playing), QStringLiteral("0111"));
    EXPECT_EQ(row(State::Paused), QStringLiteral("1011"));
    EXPECT_EQ(row(State::Seeking), QStringLiteral("0111"));
}

TEST_F(PlaybackControlTest, NothingHappensBeforeARecordingIsOpen) {
    control.Play();
    control.Pause();
    control.Tick();
    control.SliderPressed();
    control.SliderReleased(10);
    control.SliderMoved(10);
    control.ShowRecordingTab();
    EXPECT_EQ(control.CurrentState(), State::NoRecording);
    EXPECT_TRUE(component.Calls().isEmpty());
    EXPECT_TRUE(view.shown.isEmpty());
}

TEST_F(PlaybackControlTest, OpenPlaysFromTheStartAndAFailedOpenLeavesNothingToPlay) {
    component.SetLengthOnOpen(60000);
    EXPECT_TRUE(control.Open(QStringLiteral("a.srf")));
    EXPECT_EQ(component.Calls(), (QStringList{"OpenRecording(a.srf)", "PlayState=0"}));
    EXPECT_EQ(view.shown, (QStringList{"length 60000", "Playing+focus"}));
    EXPECT_EQ(control.Length(), 60000);
    Clear();

    // Opening another while one plays stops the first; the component lets go of it before it tries
    // the new one, so a failure leaves nothing to play.
    component.SetOpenResult(false);
    EXPECT_FALSE(control.Open(QStringLiteral("b.srf")));
    EXPECT_EQ(component.Calls(), (QStringList{"PlayState=2", "OpenRecording(b.srf)"}));
    EXPECT_EQ(view.shown, (QStringList{"Stopped", "length 0", "NoRecording", "failed b.srf"}));
    EXPECT_EQ(control.CurrentState(), State::NoRecording);
    EXPECT_EQ(control.Length(), 0);
    control.Play();
    EXPECT_EQ(control.CurrentState(), State::NoRecording);
    Clear();

    // A paused recording is not stopped first.
    component.SetOpenResult(true);
    ASSERT_TRUE(control.Open(QStringLiteral("c.srf")));
    control.Pause();
    Clear();
    component.SetOpenResult(false);
    EXPECT_FALSE(control.Open(QStringLiteral("d.srf")));
    EXPECT_EQ(component.Calls(), QStringList{"OpenRecording(d.srf)"});
    EXPECT_EQ(control.CurrentState(), State::NoRecording);
}

TEST_F(PlaybackControlTest, TheTimerMirrorsThePositionAndStopsAtTheEnd) {
    OpenPlaying(60000);
    component.SetTestPosition(60000 - 18);
    control.Tick();
    EXPECT_EQ(view.shown, QStringList{"position 59982"});
    EXPECT_EQ(control.CurrentState(), State::Playing);
    Clear();

    component.SetTestPosition(60000 - 17);
    control.Tick();
    EXPECT_EQ(component.Calls(), QStringList{"PlayState=2"});
    EXPECT_EQ(view.shown, (QStringList{"position 59983", "position 0", "Stopped+focus", "end"}));
    Clear();

    // Ticks count only while playing; a position outside the recording ends playback too.
    control.Tick();
    EXPECT_TRUE(view.shown.isEmpty());
    control.Play();
    component.SetTestPosition(60001);
    Clear();
    control.Tick();
    EXPECT_EQ(view.shown, (QStringList{"position 0", "Stopped+focus", "end"}));
}

TEST_F(PlaybackControlTest, TheSliderSeeksUnlessPlayingAndADragResumesOnlyWhatItPaused) {
    OpenPlaying();
    control.SliderMoved(100);  // while playing the timer owns the slider
    EXPECT_TRUE(component.Calls().isEmpty());

    control.SliderPressed();
    EXPECT_EQ(control.CurrentState(), State::Seeking);
    control.SliderMoved(12345);
    control.SliderReleased(12346);
    EXPECT_EQ(component.Calls(),
              (QStringList{"PlayState=1", "Position=12345", "Position=12346", "PlayState=0"}));
    // The time display follows the seek.
    EXPECT_EQ(view.shown, (QStringList{"Seeking", "position 12345", "Playing"}));
    Clear();

    // After the pause button a press and release only seek.
    control.Pause();
    control.SliderPressed();
    control.SliderMoved(5);
    control.SliderReleased(5);
    EXPECT_EQ(component.Calls(), (QStringList{"PlayState=1", "Position=5"}));
    EXPECT_EQ(control.CurrentState(), State::Paused);

    // The pause button during a drag ends the drag.
    control.Play();
    control.SliderPressed();
    control.Pause();
    control.SliderReleased(7);
    EXPECT_EQ(control.CurrentState(), State::Paused);
}

TEST_F(PlaybackControlTest, TabsPauseAndResumeAndClosingReleasesTheRecording) {
    OpenPlaying();
    control.LeaveRecordingTab();
    EXPECT_EQ(control.CurrentState(), State::Paused);
    control.ShowRecordingTab();
    EXPECT_EQ(control.CurrentState(), State::Playing);
    EXPECT_EQ(component.Calls(), (QStringList{"PlayState=1", "PlayState=0"}));
    Clear();

    // A stopped recording stays stopped across tabs; a drag left on the other tab resumes.
    control.SliderPressed();
    control.LeaveRecordingTab();
    EXPECT_EQ(control.CurrentState(), State::Seeking);
    control.ShowRecordingTab();
    EXPECT_EQ(control.CurrentState(), State::Playing);
    component.SetTestPosition(60000);
    control.Tick();
    control.LeaveRecordingTab();
    control.ShowRecordingTab();
    EXPECT_EQ(control.CurrentState(), State::Stopped);
    Clear();

    control.Close();
    EXPECT_EQ(component.Calls(), (QStringList{"PlayState=2", "CloseRecording()"}));
    EXPECT_EQ(view.shown, QStringList{"NoRecording"});
    EXPECT_EQ(control.Length(), 0);
}
