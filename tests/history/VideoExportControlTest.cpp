// The rules of the recording tab's "동영상으로 저장" button, without the window: when it is on, where the
// save dialog starts and what name it gives, how the export pauses and resumes playback, and what the
// customer is told.
#include "history/PlaybackControl.h"
#include "history/VideoExportControl.h"
#include "playback/FakePlaybackComponent.h"
#include "playback/SrfVideoExport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

using namespace pelio;
using components::FakePlaybackComponent;
using components::VideoExportError;
using components::VideoExportResult;
using history::PlaybackControl;
using history::VideoExportControl;
using State = PlaybackControl::State;

namespace {

class NoView : public PlaybackControl::View {
  public:
    void ShowState(State, bool) override {}
    void ShowPosition(qint64) override {}
    void ShowLength(qint64) override {}
    void ReportEnd() override {}
    void ReportOpenFailure(const QString&) override {}
};

VideoExportResult Result(VideoExportError error) {
    VideoExportResult r;
    r.error = error;
    return r;
}

class VideoExportControlTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    FakePlaybackComponent component;
    NoView view;
    PlaybackControl playback{component, view};
    VideoExportControl exporter{playback};

    QString Path(const QString& name) const { return dir.filePath(name); }
};

}  // namespace

TEST_F(VideoExportControlTest, TheButtonIsOnWhileARecordingIsOpenAndNoExportRuns) {
    EXPECT_FALSE(exporter.CanExport());
    EXPECT_TRUE(exporter.Begin(Path("a.mp4")).isEmpty());
    EXPECT_TRUE(exporter.SuggestedPath(dir.path()).isEmpty());

    ASSERT_TRUE(playback.Open(Path("rec/2026-12-06(0).srf")));
    EXPECT_TRUE(exporter.CanExport());
    playback.Pause();
    EXPECT_TRUE(exporter.CanExport());  // in every state with a recording

    component.SetOpenResult(false);
    EXPECT_FALSE(playback.Open(Path("broken.srf")));
    EXPECT_FALSE(exporter.CanExport());
    component.SetOpenResult(true);
    ASSERT_TRUE(playback.Open(Path("rec/2026-12-06(0).srf")));
    playback.Close();
    EXPECT_FALSE(exporter.CanExport());
}

TEST_F(VideoExportControlTest, TheDialogSuggestsTheRecordingsNameAndTheNameGetsTheChosenExtension) {
    QDir().mkpath(Path("docs"));
    QDir().mkpath(Path("rec"));
    ASSERT_TRUE(playback.Open(Path("rec/2026-12-06(0).srf")));
    // The documents folder when it exists, else beside the recording.
    EXPECT_EQ(exporter.SuggestedPath(Path("docs")), Path("docs/2026-12-06(0).mp4"));
    EXPECT_EQ(exporter.SuggestedPath(Path("nowhere")), Path("rec/2026-12-06(0).mp4"));
    EXPECT_EQ(exporter.SuggestedPath(QString()), Path("rec/2026-12-06(0).mp4"));

    const QStringList filters = VideoExportControl::DialogFilters();
    EXPECT_EQ(filters, (QStringList{"MP4 동영상 (*.mp4)", "WebM 동영상 (*.webm)"}));
    EXPECT_EQ(VideoExportControl::VideoPathFor("/x/a", filters[0]), "/x/a.mp4");
    EXPECT_EQ(VideoExportControl::VideoPathFor("/x/a", filters[1]), "/x/a.webm");
    EXPECT_EQ(VideoExportControl::VideoPathFor("/x/a.WebM", filters[0]), "/x/a.WebM");
    EXPECT_EQ(VideoExportControl::VideoPathFor("/x/a.mp4", filters[1]), "/x/a.mp4");
    EXPECT_EQ(VideoExportControl::VideoPathFor("/x/a.avi", filters[0]), "/x/a.avi.mp4");
    EXPECT_EQ(VideoExportControl::VideoPathFor(QString(), filters[0]), QString());

    // After a saved video the dialog starts in its folder.
    QDir().mkpath(Path("out"));
    ASSERT_FALSE(exporter.Begin(Path("out/x.webm")).isEmpty());
    exporter.End(Result(VideoExportError::None));
    EXPECT_EQ(exporter.SuggestedPath(Path("docs")), Path("out/2026-12-06(0).mp4"));
}

TEST_F(VideoExportControlTest, AnExportPausesPlaybackAndResumesOnlyWhatItPaused) {
    ASSERT_TRUE(playback.Open(Path("a.srf")));
    ASSERT_EQ(playback.CurrentState(), State::Playing);
    component.ClearCalls();

    EXPECT_EQ(exporter.Begin(Path("a.mp4")), Path("a.srf"));
    EXPECT_TRUE(exporter.IsExporting());
    EXPECT_FALSE(exporter.CanExport());
    EXPECT_EQ(playback.CurrentState(), State::Paused);
    EXPECT_TRUE(exporter.Begin(Path("b.mp4")).isEmpty());  // one at a time

    VideoExportControl::Outcome outcome = exporter.End(Result(VideoExportError::None));
    EXPECT_TRUE(outcome.saved);
    EXPECT_EQ(outcome.message, QStringLiteral("동영상으로 저장했습니다.\n\n") + Path("a.mp4"));
    EXPECT_EQ(playback.CurrentState(), State::Playing);
    EXPECT_TRUE(exporter.CanExport());
    EXPECT_EQ(component.Calls(), (QStringList{"PlayState=1", "PlayState=0"}));

    // A paused recording stays paused; a cancel tells nothing.
    playback.Pause();
    ASSERT_FALSE(exporter.Begin(Path("a.mp4")).isEmpty());
    outcome = exporter.End(Result(VideoExportError::Cancelled));
    EXPECT_FALSE(outcome.saved);
    EXPECT_TRUE(outcome.message.isEmpty());
    EXPECT_EQ(playback.CurrentState(), State::Paused);

    // A recording closed meanwhile is not played again.
    playback.Play();
    ASSERT_FALSE(exporter.Begin(Path("a.mp4")).isEmpty());
    playback.Close();
    exporter.End(Result(VideoExportError::Cancelled));
    EXPECT_EQ(playback.CurrentState(), State::NoRecording);
    EXPECT_FALSE(exporter.CanExport());
    EXPECT_FALSE(exporter.IsExporting());
}

TEST_F(VideoExportControlTest, EachFailureIsToldInKorean) {
    const QString video = QStringLiteral("/x/a.mp4");
    auto message = [&](VideoExportError error) {
        return VideoExportControl::MessageFor(Result(error), video);
    };
    for (const VideoExportError error :
         {VideoExportError::UnknownFormat, VideoExportError::CannotReadRecording,
          VideoExportError::RecordingBeingWritten, VideoExportError::RecordingDamaged,
          VideoExportError::EncoderMissing, VideoExportError::CannotWrite, VideoExportError::EncoderFailed}) {
        SCOPED_TRACE(int(error));
        EXPECT_TRUE(message(error).startsWith(QStringLiteral("동영상으로 저장하지 못했습니다.\n\n")));
    }
    EXPECT_TRUE(message(VideoExportError::CannotWrite).contains(video));
    EXPECT_TRUE(
        message(VideoExportError::RecordingDamaged).endsWith(QStringLiteral("녹화 파일이 손상되었습니다.")));
    VideoExportResult damaged = Result(VideoExportError::RecordingDamaged);
    damaged.damagedAtMs = 3723000;
    EXPECT_TRUE(VideoExportControl::MessageFor(damaged, video).contains(QStringLiteral("1:02:03 부분부터")));
    VideoExportResult noVp9 = Result(VideoExportError::EncoderMissing);
    noVp9.format = components::VideoFormat::WebmVp9;
    EXPECT_TRUE(VideoExportControl::MessageFor(noVp9, video).contains(QStringLiteral("MP4로 저장해 보세요")));
    EXPECT_TRUE(message(VideoExportError::Cancelled).isEmpty());
}
