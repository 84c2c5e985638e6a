#include "session/AgentFileBatch.h"

#include "session/RemoteActionPolicy.h"

#include <QUrl>

namespace pelio::session {

void AgentFileBatch::Offer(const QStringList& names) {
    m_state = State::Offered;
    m_names = names;
}

void AgentFileBatch::Answer(bool accepted) {
    if (m_state != State::Offered) return;
    if (accepted && !m_names.isEmpty()) {
        m_state = State::Accepted;
    } else {
        Clear();
    }
}

void AgentFileBatch::Clear() {
    m_state = State::None;
    m_names.clear();
}

QString AgentFileBatch::NameOfAddress(const QString& address) {
    QString head = address;
    for (const QChar end : {u'?', u'#'}) {
        const qsizetype at = head.indexOf(end);
        if (at >= 0) head.truncate(at);
    }
    return QUrl::fromPercentEncoding(head.mid(head.lastIndexOf(u'/') + 1).toUtf8());
}

AgentFileBatch::Admission AgentFileBatch::Admit(const QString& address) {
    if (!RemoteActionPolicy::IsDownloadAddress(address)) return Admission::BadAddress;
    if (m_state != State::Accepted) return Admission::NoBatch;
    const qsizetype at = m_names.indexOf(NameOfAddress(address));
    if (at < 0) return Admission::NotOffered;
    m_names.removeAt(at);
    if (m_names.isEmpty()) m_state = State::None;
    return Admission::Admitted;
}

}  // namespace pelio::session
