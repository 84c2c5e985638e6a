#pragma once

#include "web/NetFailure.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

namespace pelio::transfer {

// Bounds of one download that a server cannot stretch.
struct DownloadLimits {
    int connectMs = 15000;  // connecting to the server (each address of a redirect)
    int stallMs = 30000;    // nothing at all arrives this long (the reply included) fails
    // A trickle fails too: slower than this on average over that many seconds.
    int lowSpeedBytesPerSecond = 1;
    int lowSpeedSeconds = 60;
    qint64 maxBytes = qint64(1) << 31;  // a larger file fails (2 GiB), whether the server says so or not
};

// Downloads one web address (http or https only, redirects included, at most 5) to one local file
// on a worker thread of its own; the calling (UI) thread never waits for the network. Several
// objects may run at once. Every request asks for a fresh copy from the server (no cache), and an
// HTTP error status (404, 500, ...) is a failure.
//
// The file is written under a temporary name beside the target and renamed over the target only when
// the whole body came: a download that fails (error status, refused, cut short, stalled, too large,
// not writable) or is cancelled leaves neither a file under the target's name (an existing file
// keeps its content) nor the temporary file.
//
// An address with blanks or characters outside ASCII has them sent percent-encoded (UTF-8), as
// browsers do; escapes already in it stay as they are.
//
// Signals arrive on the thread that owns the object: progress while bytes come (the newest
// figures, at most about 20 times a second; the last figures before the end), then exactly one
// finished. The object may be destroyed at
// any time: that cancels a running download and waits for its worker to stop (which it does
// promptly); destroying it from a handler of its own signals must go through deleteLater.
class HttpDownload : public QObject {
    Q_OBJECT
  public:
    HttpDownload(QString url, QString localFile, const DownloadLimits& limits = DownloadLimits(),
                 QObject* parent = nullptr);
    ~HttpDownload() override;

    // Starts the download; a second call does nothing. The result always comes through finished,
    // never from within Start itself.
    void Start();
    // Ends a running download promptly; it then finishes with ok false and Cancelled() true. Does
    // nothing before Start or after the end.
    void Cancel();

    bool IsRunning() const { return m_state == State::Running; }
    bool IsFinished() const { return m_state == State::Finished; }
    // After finished: why it failed (kind None on success) and whether Cancel ended it.
    web::NetFailure Failure() const { return m_failure; }
    bool Cancelled() const { return m_cancelledResult; }

    QString Url() const { return m_url; }
    QString LocalFile() const { return m_localFile; }

  signals:
    // Bytes received so far and the size the server announced (0 when it announced none).
    void progress(qint64 received, qint64 total);
    // The download ended: ok when the file is in place; otherwise errorText says why (in English,
    // for logs), and Failure() and Cancelled() say the same as values.
    void finished(bool ok, const QString& errorText);

  private:
    enum class State { Idle, Running, Finished };
    struct Transfer;

    void Run();
    // The worker names the transfer it waits on (null when it stops waiting); Wake interrupts the wait.
    void SetWakeTarget(void* multi);
    void Wake();
    void PostProgress();
    void DeliverProgress();
    void DeliverEnd();

    const QString m_url;
    const QString m_localFile;
    const DownloadLimits m_limits;
    State m_state = State::Idle;
    std::thread m_thread;
    std::atomic<bool> m_cancel{false};
    std::mutex m_wakeMutex;
    void* m_multi = nullptr;  // the worker's multi handle while it waits on it
    std::atomic<qint64> m_received{0};
    std::atomic<qint64> m_lastArrivalMs{0};  // steady clock, when the last bytes came
    std::atomic<qint64> m_total{0};
    std::atomic<bool> m_progressPosted{false};
    qint64 m_shownReceived = -1;
    qint64 m_shownTotal = -1;
    // Written by the worker before it posts the end; read on the owning thread after joining it.
    web::NetFailure m_failure;
    bool m_cancelledResult = false;
};

// The address as bytes for the network library: blanks, control characters and characters outside
// ASCII (as UTF-8), and the characters " < > \ ^ ` { | } percent-encoded; everything else, escapes
// included, as it is.
QByteArray DownloadAddressBytes(const QString& url);

}  // namespace pelio::transfer
