#pragma once

#include <QString>
#include <QStringList>

namespace pelio::components {
struct VideoExportResult;
}

namespace pelio::history {

class PlaybackControl;

// The rules of the recording tab's "동영상으로 저장" button, which saves the open recording as a video
// file (SrfVideoExport), without widgets.
//
// The button is on while a recording is open and no export runs. An export pauses what plays, so that
// the export has the processor and the customer watches its progress; when it ends, playback goes on if
// the export paused it and the same recording is still paused. The window asks for the file name
// (SuggestedPath, DialogFilters, VideoPathFor), runs the export between Begin and End and shows End's
// message; the caller keeps the playback control for this object's life.
class VideoExportControl {
  public:
    explicit VideoExportControl(PlaybackControl& playback);

    // Whether the button is on.
    bool CanExport() const;
    bool IsExporting() const { return m_exporting; }

    // The save dialog's filters, MP4 first (the default).
    static QStringList DialogFilters();
    // Where the save dialog starts: the recording's base name with ".mp4", in the folder of the video
    // saved last from this window, else in documentsFolder when it exists, else beside the recording.
    // Empty when no recording is open.
    QString SuggestedPath(const QString& documentsFolder) const;
    // The name picked in the save dialog, with the extension of the filter chosen there (".mp4" unless
    // it is the WebM one) added unless the name already ends in ".mp4" or ".webm".
    static QString VideoPathFor(const QString& picked, const QString& chosenFilter);

    // The export of the open recording to videoPath begins: returns the recording's path, and pauses
    // playback. Empty, and nothing changes, when CanExport is false or videoPath is empty.
    QString Begin(const QString& videoPath);

    // The export ended: the button is on again and paused playback goes on (see above). message is
    // what to tell the customer (where the video is, or why it failed); empty after a cancel.
    struct Outcome {
        bool saved = false;
        QString message;
    };
    Outcome End(const components::VideoExportResult& result);

    // The customer's message for a result of an export to videoPath; empty for a cancel.
    static QString MessageFor(const components::VideoExportResult& result, const QString& videoPath);

  private:
    PlaybackControl& m_playback;
    bool m_exporting = false;
    bool m_pausedPlayback = false;  // Begin paused what played
    QString m_recording;            // being exported
    QString m_video;                // being written
    QString m_lastFolder;           // of the video saved last
};

}  // namespace pelio::history
