// The files an agent may send: only inside a batch the customer accepted. An offer ("filename") names
// the files; once the customer answers Yes, each download the agent asks for ("downloadthis") must
// name one of them by the last part of its address (percent-decoded for the comparison), and each
// offered name is taken once, so no more files arrive than were offered. Without an accepted offer
// nothing is downloaded.
#pragma once

#include <QString>
#include <QStringList>

namespace pelio::session {

class AgentFileBatch {
  public:
    enum class State {
        None,      // no offer, or the last one was refused or used up
        Offered,   // the question is open
        Accepted,  // the customer said Yes; names remain
    };
    enum class Admission { Admitted, NoBatch, NotOffered, BadAddress };

    // An offer over this many names is refused without a question.
    static constexpr qsizetype kMaxOfferedFiles = 1000;

    void Offer(const QStringList& names);
    void Answer(bool accepted);
    void Clear();

    // Whether a download of `address` is part of the accepted batch; when it is, its name is taken.
    Admission Admit(const QString& address);

    State CurrentState() const { return m_state; }
    qsizetype Remaining() const { return m_names.size(); }

    // The name an address gives for the comparison: its last part, without a query, percent-decoded.
    static QString NameOfAddress(const QString& address);

  private:
    State m_state = State::None;
    QStringList m_names;
};

}  // namespace pelio::session
