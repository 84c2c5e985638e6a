#pragma once

#include "app/AppContext.h"
#include "history/PlaybackControl.h"
#include "history/VideoExportControl.h"

#include <QDialog>
#include <QIcon>
#include <QMap>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressDialog;
class QPushButton;
class QSlider;
class QTabBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace pelio::components {
class PlaybackComponent;
class SrfVideoExport;
}  // namespace pelio::components
namespace pelio::platform {
class FileManager;
}
namespace pelio::util {
class HtmlView;
}

namespace pelio::history {

// The history viewer: the transcripts and recordings of past sessions in two trees grouped by folder,
// a chosen transcript in a browser control and a chosen recording played by the playback component.
//
// The window takes the playback component (the program passes the ".srf" player, tests a fake) and
// uses the file manager for its folder button and the transcripts' "explorer::" links; the caller keeps
// the context and the file manager for the window's life. It may be shown modeless or run modally.
// When it is first shown and the history holds no folder at all, it tells the customer so and closes.
// The play, pause and stop rules are PlaybackControl's; the window passes its controls' events to it
// and shows the state it reports. The recording tab shows the position and length ("12:34 / 1:02:03"),
// offers speeds from 0.5x to 8x, takes Space, Left, Right, Home and End while it has the focus, and
// lists beside the recording the chat lines of its session's transcript (SessionLines): a click on one
// moves the recording to when it was said. The program makes the window through CreateHistoryViewer. The
// "동영상으로 저장" button saves the open recording as a video (SrfVideoExport, on a thread of its own, with
// a progress dialog that can cancel it); its rules are VideoExportControl's.
class frmPlay : public QDialog, private PlaybackControl::View {
    Q_OBJECT

  public:
    frmPlay(app::AppContext& context, platform::FileManager& fileManager,
            std::unique_ptr<components::PlaybackComponent> playback, QWidget* parent = nullptr);
    ~frmPlay() override;

    // Stops what plays, opens the recording at path in the playback component and plays it, and lists
    // the chat lines of its session; on failure tells the customer, and nothing is left to play.
    // Returns whether the recording opened.
    bool OpenRecordingFile(const QString& path);

    // The length of the open recording.
    qint64 RecordingLength() const { return m_control.Length(); }

    // Tab indices of tabTab.
    static constexpr int kTranscriptTab = 0;
    static constexpr int kRecordingTab = 1;

    // Closing: stores the placement and the check boxes, stops playback and releases the recording.
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildControls();
    void FillTrees();
    void OnFirstActivation();

    void OnTranscriptClicked(QTreeWidgetItem* item);
    QWidget* BuildRecordingPanel(QWidget* parent);
    void ShowSessionLines();
    void OnLineChosen(QTreeWidgetItem* item);
    void OnRecordingClicked(QTreeWidgetItem* item);
    void OnLoadClicked();
    void OnTabChanged(int index);
    void OnExportClicked();
    void OnExportProgress(int percent);
    void OnExportFinished(const components::VideoExportResult& result);
    QString AskVideoPath(const QString& suggested, const QStringList& filters, QString* chosenFilter);
    bool DecideTranscriptNavigation(const QString& address);
    void ShowTranscript(const QString& path);

    // PlaybackControl::View: the recording controls as the control's state has them.
    void ShowState(PlaybackControl::State state, bool moveFocus) override;
    void ShowPosition(qint64 position) override;
    void ShowLength(qint64 length) override;
    void ReportEnd() override;
    void ReportOpenFailure(const QString& path) override;

    app::AppContext& m_context;
    platform::FileManager& m_fileManager;
    int m_state = 0;  // 1 after loading, 2 once first shown
    bool m_closed = false;
    QString m_dialogFolder;     // where the recording dialog opens; empty until first used
    QString m_shownTranscript;  // the transcript last put into the view

    QMap<QString, QIcon> m_iml;
    QTreeWidget* m_tvRecord = nullptr;
    QTreeWidget* m_tvChat = nullptr;
    QPushButton* m_cmdExplorer = nullptr;
    QTabBar* m_tabTab = nullptr;
    QWidget* m_picRight[2] = {nullptr, nullptr};
    util::HtmlView* m_webChat = nullptr;
    components::PlaybackComponent* m_playback = nullptr;  // owned as a child widget
    PlaybackControl m_control;
    QPushButton* m_cmdLoad = nullptr;
    QPushButton* m_cmdPlay = nullptr;
    QPushButton* m_cmdPause = nullptr;
    QSlider* m_sld = nullptr;
    QCheckBox* m_chkStretch = nullptr;
    QCheckBox* m_chkAutoScroll = nullptr;
    QPushButton* m_cmdExport = nullptr;
    QLabel* m_lblTime = nullptr;
    QComboBox* m_cboSpeed = nullptr;
    QTreeWidget* m_lvLines = nullptr;
    QLabel* m_lblLinesNote = nullptr;
    QTimer m_timer1;

    VideoExportControl m_export;
    std::unique_ptr<components::SrfVideoExport> m_exporter;  // its thread ends before the children go
    // Made at the first export and kept: QProgressDialog::setValue runs events, in which the export's
    // end may arrive.
    QProgressDialog* m_progress = nullptr;
};

}  // namespace pelio::history
