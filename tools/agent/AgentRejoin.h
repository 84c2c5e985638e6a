// Tells the customer of a lost link, dialling again, from a new customer, for `listen` and `console`.
//
// The customer's program dials the same agent again for 60 s after its link was lost (a pulled
// cable, a changed address) and greets again with the same machine code. The agent's side keeps
// listening for as long after its own link ended without an end of the session (neither side's
// "end", nor a \quit), and takes a greeting with the machine code greeted last as the same customer
// coming back: the session goes on. A greeting with another machine code, or one after that time, is
// a new customer's, as any first greeting.
#pragma once

#include <QString>
#include <QtGlobal>

namespace pelio::agent {

class CustomerRejoin {
  public:
    static constexpr qint64 kWindowMs = 60000;

    // A greeting on the current link. True when it is the customer of the link that ended last,
    // back within kWindowMs; either way this machine code is now the one greeted last.
    bool Greeted(const QString& machineCode, qint64 nowMs);
    // The agent ended the session ("end"): the customer will not come back.
    void EndedByAgent() { m_ended = true; }
    // The current link ended at nowMs; true when its customer may come back (it was greeted and the
    // session was not ended).
    bool LinkEnded(qint64 nowMs);
    // Whether a customer may still come back at nowMs: the agent keeps listening until then.
    bool Awaited(qint64 nowMs) const;

  private:
    QString m_machineCode;  // greeted last
    bool m_ended = false;
    bool m_linkUp = false;
    qint64 m_endedAtMs = -1;  // when the last link ended while a customer may come back
};

}  // namespace pelio::agent
