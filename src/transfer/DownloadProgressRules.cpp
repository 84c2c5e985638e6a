#include "transfer/DownloadProgressRules.h"

#include "util/core/Paths.h"

#include <cmath>

namespace pelio::transfer {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// The path inside the single-quoted address of a link: "&" and "'" as character references so that
// the attribute neither ends early nor reads an entity, "%" escaped so that the chat view's link
// handler, which reads percent escapes, gets the path back as it was. Blanks and Korean stay as
// they are.
QString LinkPath(const QString& path) {
    QString out = path;
    out.replace(u'%', QStringLiteral("%25"));
    out.replace(u'&', QStringLiteral("&amp;"));
    out.replace(u'\'', QStringLiteral("&#39;"));
    return out;
}

}  // namespace

void DownloadProgressRules::Wait() {
    if (m_state == State::Idle) m_state = State::Waiting;
}

bool DownloadProgressRules::Release() {
    if (m_state != State::Waiting) return false;
    m_state = State::Idle;
    return true;
}

bool DownloadProgressRules::Activate() {
    if (m_state != State::Idle) return false;
    m_state = State::Running;
    return true;
}

bool DownloadProgressRules::Cancel() {
    switch (m_state) {
        case State::Waiting:
        case State::Idle:
            m_state = State::Ended;
            m_outcome = Outcome::Cancelled;
            return false;
        case State::Running:
            m_cancelRequested = true;
            return true;
        case State::Ended:
            return false;
    }
    return false;
}

void DownloadProgressRules::End(bool ok) {
    if (m_state != State::Running) return;
    m_state = State::Ended;
    m_outcome = ok ? Outcome::Done : m_cancelRequested ? Outcome::Cancelled : Outcome::Failed;
}

int DownloadProgressRules::Percent(qint64 received, qint64 total) {
    if (total <= 0) return -1;
    const double percent = std::round(double(qMax<qint64>(received, 0)) * 100.0 / double(total));
    return int(qBound(0.0, percent, 100.0));
}

QString DownloadProgressRules::TitleText(const QString& progressTitle) {
    return progressTitle.isEmpty() ? kDownloadWaitText : progressTitle;
}

QString DownloadProgressRules::SavedLine(const QString& localFile) {
    return kCrLf + QStringLiteral("<br><font size=2 color=blue><a href='explorer::") + LinkPath(localFile) +
           QStringLiteral("'>") + util::ShownFolderPath(util::FolderOfPath(localFile)).toHtmlEscaped() +
           QStringLiteral(
               "</a></font><font color=gray size=2> 폴더에 </font>"
               "<font size=2 color=black><b>") +
           util::FileNameOfPath(localFile).toHtmlEscaped() +
           QStringLiteral("</b> </font><font color=gray size=2>파일이 저장되었습니다.</font><br>") + kCrLf;
}

QString DownloadProgressRules::BatchCompleteLine() {
    return kCrLf +
           QStringLiteral(
               "<br><font size=2 color=#FF9966><b>파일 전송이 완료되었습니다.</b></font><br><br>") +
           kCrLf;
}

bool DownloadProgressRules::IsLastOfBatch(const QString& remoteUrl, const QString& lastBatchFile) {
    const QString name = util::FileNameOfUrl(remoteUrl);
    return !name.isEmpty() && name.compare(lastBatchFile, Qt::CaseInsensitive) == 0;
}

QString DownloadProgressRules::FailedNotice(const QString& remoteUrl) {
    return QStringLiteral("<b>") + util::FileNameOfUrl(remoteUrl).toHtmlEscaped() +
           QStringLiteral("</b> 파일 전송에 실패하였습니다.</b>");
}

QString DownloadProgressRules::CancelledNotice(const QString& remoteUrl) {
    return QStringLiteral("<b>") + util::FileNameOfUrl(remoteUrl).toHtmlEscaped() +
           QStringLiteral("</b> 파일 받기를 취소하였습니다.");
}

bool DownloadTurns::Arrive(int id) {
    if (m_running.size() < m_limit) {
        m_running << id;
        return true;
    }
    m_waiting << id;
    return false;
}

std::optional<int> DownloadTurns::Leave(int id) {
    if (m_waiting.removeOne(id) || !m_running.removeOne(id)) return std::nullopt;
    if (m_waiting.isEmpty() || m_running.size() >= m_limit) return std::nullopt;
    const int next = m_waiting.takeFirst();
    m_running << next;
    return next;
}

}  // namespace pelio::transfer
