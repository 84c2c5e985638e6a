#include "history/VideoExportControl.h"

#include "history/HistoryLog.h"
#include "history/PlaybackControl.h"
#include "playback/SrfVideoExport.h"

#include <QDir>
#include <QFileInfo>

namespace pelio::history {

using components::VideoExportError;
using components::VideoExportResult;

namespace {

const QString kMp4Filter = QStringLiteral("MP4 동영상 (*.mp4)");
const QString kWebmFilter = QStringLiteral("WebM 동영상 (*.webm)");
const QString kFailed = QStringLiteral("동영상으로 저장하지 못했습니다.");

// A time in the recording: m:ss, or h:mm:ss from an hour on.
QString TimeText(qint64 ms) {
    const qint64 s = ms / 1000;
    if (s < 3600) return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

VideoExportControl::VideoExportControl(PlaybackControl& playback) : m_playback(playback) {}

bool VideoExportControl::CanExport() const {
    return !m_exporting && m_playback.CurrentState() != PlaybackControl::State::NoRecording &&
           !m_playback.RecordingPath().isEmpty();
}

QStringList VideoExportControl::DialogFilters() {
    return {kMp4Filter, kWebmFilter};
}

QString VideoExportControl::SuggestedPath(const QString& documentsFolder) const {
    const QString recording = m_playback.RecordingPath();
    if (recording.isEmpty()) return QString();
    const QFileInfo info(recording);
    QString folder = m_lastFolder;
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = !documentsFolder.isEmpty() && QFileInfo(documentsFolder).isDir() ? documentsFolder
                                                                                  : info.absolutePath();
    return QDir(folder).filePath(info.completeBaseName() + QStringLiteral(".mp4"));
}

QString VideoExportControl::VideoPathFor(const QString& picked, const QString& chosenFilter) {
    if (picked.isEmpty() || components::VideoFormatOfPath(picked)) return picked;
    return picked + (chosenFilter == kWebmFilter ? QStringLiteral(".webm") : QStringLiteral(".mp4"));
}

QString VideoExportControl::Begin(const QString& videoPath) {
    if (!CanExport() || videoPath.isEmpty()) return QString();
    m_exporting = true;  // before pausing: the window reads CanExport when it shows the new state
    m_recording = m_playback.RecordingPath();
    m_video = videoPath;
    m_pausedPlayback = m_playback.CurrentState() == PlaybackControl::State::Playing;
    if (m_pausedPlayback) m_playback.Pause();
    qCInfo(lcHistory).noquote() << "video export of" << m_recording << "to" << m_video;
    return m_recording;
}

VideoExportControl::Outcome VideoExportControl::End(const VideoExportResult& result) {
    if (!m_exporting) return {};
    m_exporting = false;
    if (result.Ok()) {
        m_lastFolder = QFileInfo(m_video).absolutePath();
        qCInfo(lcHistory).noquote() << "video saved" << m_video << result.frames << "frames"
                                    << result.frameSize.width() << "x" << result.frameSize.height();
    } else {
        qCWarning(lcHistory).noquote() << "video export of" << m_recording << "to" << m_video
                                       << "ended:" << static_cast<int>(result.error) << result.detail;
    }
    if (m_pausedPlayback && m_playback.CurrentState() == PlaybackControl::State::Paused &&
        m_playback.RecordingPath() == m_recording)
        m_playback.Play();
    m_pausedPlayback = false;
    return {result.Ok(), MessageFor(result, m_video)};
}

QString VideoExportControl::MessageFor(const VideoExportResult& result, const QString& videoPath) {
    const QString path = QDir::toNativeSeparators(videoPath);
    switch (result.error) {
        case VideoExportError::None:
            return QStringLiteral("동영상으로 저장했습니다.\n\n") + path;
        case VideoExportError::Cancelled:
            return QString();
        case VideoExportError::UnknownFormat:
            return kFailed + QStringLiteral("\n\nMP4(.mp4) 또는 WebM(.webm) 파일로만 저장할 수 있습니다.");
        case VideoExportError::CannotReadRecording:
            return kFailed + QStringLiteral("\n\n녹화 파일을 읽을 수 없습니다.");
        case VideoExportError::RecordingBeingWritten:
            return kFailed +
                   QStringLiteral("\n\n아직 녹화 중인 파일입니다. 원격지원이 끝난 뒤에 다시 저장하세요.");
        case VideoExportError::RecordingDamaged:
            if (result.damagedAtMs < 0) return kFailed + QStringLiteral("\n\n녹화 파일이 손상되었습니다.");
            return kFailed + QStringLiteral("\n\n녹화 파일의 %1 부분부터 손상되었습니다.")
                                 .arg(TimeText(result.damagedAtMs));
        case VideoExportError::EncoderMissing:
            return kFailed +
                   (result.format == components::VideoFormat::Mp4H264
                        ? QStringLiteral(
                              "\n\n이 컴퓨터에 MP4(H.264) 인코더가 없습니다. WebM으로 저장해 보세요.")
                        : QStringLiteral(
                              "\n\n이 컴퓨터에 WebM(VP9) 인코더가 없습니다. MP4로 저장해 보세요."));
        case VideoExportError::CannotWrite:
            return kFailed + QStringLiteral("\n\n파일을 쓸 수 없습니다: ") + path +
                   QStringLiteral("\n폴더에 쓰기 권한이 있는지, 디스크 공간이 충분한지 확인하세요.");
        case VideoExportError::EncoderFailed:
            return kFailed + QStringLiteral("\n\n동영상을 만드는 중 오류가 발생했습니다.");
    }
    return kFailed;
}

}  // namespace pelio::history
