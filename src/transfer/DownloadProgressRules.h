#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace pelio::transfer {

// The rules of the download window (frmDownProgress), without widgets: when the download starts,
// whether the window may close, what the progress bar shows, and the texts the session shows when a
// download ends.
//
// State    reached by                      what happens in it
// Waiting  Wait while Idle                 the download waits its turn: activations start nothing;
//                                          the customer may close the window (as cancelled)
// Idle     construction, Release           nothing yet; the first Activate starts the download
// Running  the first Activate              the download runs; the customer cannot close the window
//                                          with its close box, only stop the download (Cancel)
// Ended    End, or Cancel while Idle or    the outcome is known; the window closes
//          Waiting
class DownloadProgressRules {
  public:
    enum class State { Waiting, Idle, Running, Ended };
    enum class Outcome { None, Done, Failed, Cancelled };

    State GetState() const { return m_state; }
    Outcome GetOutcome() const { return m_outcome; }

    // Before the start: the download waits its turn. Does nothing unless Idle.
    void Wait();
    // The turn came: true when the download waited (it is Idle again and starts at the next
    // activation, or at once when the window is up).
    bool Release();
    // True exactly once, on the first activation that is not waiting: the window starts the download now.
    bool Activate();
    // The customer stops the download. True when a running download is to be cancelled; before the
    // start (waiting or not) the window simply ends as cancelled (false, and the state is Ended).
    bool Cancel();
    // The download ended: ok when the file is in place. A download the customer stopped counts as
    // cancelled unless it came whole all the same. Does nothing unless Running.
    void End(bool ok);

    // Whether a close request is granted: a request of the customer (the close box) is refused while
    // the download runs; the program itself may always close the window.
    bool MayClose(bool byCustomer) const { return !byCustomer || m_state != State::Running; }

    // The progress bar's value, 0..100 rounded, for received of total bytes; -1 (leave the bar as it
    // is) while the total is unknown (0 or less).
    static int Percent(qint64 received, qint64 total);

    // The label's text: the progress title when not empty, else the design text.
    static QString TitleText(const QString& progressTitle);

    // The texts of the end of a download, for the chat view and the session's notice line.
    // The line in the chat view when the file is saved: a link that shows localFile in the file
    // manager (the path written so that the link survives a "'", "&" or "%" in it), named as the file's
    // folder is named on this system (ShownFolderPath: "~/Documents/Pelio 받은파일"), and the file's name.
    static QString SavedLine(const QString& localFile);
    // The line after the last file of a batch.
    static QString BatchCompleteLine();
    // True when the download of remoteUrl is the batch's last file (the name from the address,
    // without regard to case; never for an empty name).
    static bool IsLastOfBatch(const QString& remoteUrl, const QString& lastBatchFile);
    // The notices (red and yellow) when the download failed or the customer stopped it; the name from
    // the address is written as text.
    static QString FailedNotice(const QString& remoteUrl);
    static QString CancelledNotice(const QString& remoteUrl);
    static constexpr int kFailedColour = 4;
    static constexpr int kCancelledColour = 6;

  private:
    State m_state = State::Idle;
    Outcome m_outcome = Outcome::None;
    bool m_cancelRequested = false;
};

// The label's design text.
inline const QString kDownloadWaitText = QStringLiteral("작업 중.... 잠시만 기다리십시오.");
// What a window whose download waits its turn says.
inline const QString kDownloadQueuedText = QStringLiteral("대기 중... 앞의 다운로드가 끝나면 시작합니다.");

// Whose turn it is among a session's downloads: at most `limit` run at once; the others wait in the
// order they came and start in that order as running ones leave. Downloads are known by ids the
// caller chooses.
class DownloadTurns {
  public:
    explicit DownloadTurns(int limit) : m_limit(limit) {}

    // A new download: true when it may start now (it counts as running), false when it waits.
    bool Arrive(int id);
    // A download leaves, running or waiting, whatever became of it; an unknown id does nothing. When
    // a running one left, the first waiting one (its id) now counts as running and is to start.
    std::optional<int> Leave(int id);

    bool IsRunning(int id) const { return m_running.contains(id); }
    bool IsWaiting(int id) const { return m_waiting.contains(id); }
    qsizetype RunningCount() const { return m_running.size(); }
    qsizetype WaitingCount() const { return m_waiting.size(); }

  private:
    int m_limit;
    QList<int> m_running;
    QList<int> m_waiting;  // oldest first
};

}  // namespace pelio::transfer
