#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace pelio::session {

// The agent chosen in the agent list, as its list item has it.
struct AgentChoice {
    QString Name;
    QString Port;  // as listed; the session converts it (a port that is not a number counts as 0)
    QString PublicAddress;
    QString LocalAddress;
    QString Pin;  // the agent's key pin from the service; empty for an agent it does not vouch for
};

// The customer pressed the connect button.
struct ConnectRequest {
    std::optional<AgentChoice> Agent;  // empty when no agent is selected
    QString RequestText;  // what the customer typed for the agent; empty when nothing (or the hint)
};

// What the agent list window asks of the support session. The window owns the session object for
// its life and calls it on the user-interface thread only; calls may run window events while they
// wait (a connection attempt does).
class SessionSeam {
  public:
    virtual ~SessionSeam() = default;

    // The connect button: the session asks the customer, connects and reports as it sees fit.
    virtual void RequestConnect(const ConnectRequest& request) = 0;
    // Connects to a manually given address; returns whether the session is connected.
    virtual bool OpenSession(const QString& address, int port) = 0;
    // Whether a session is connected now.
    virtual bool bConnected() const = 0;
    // Seconds spent connected during this run, summed over its sessions; never goes down.
    virtual qint64 ConnectedSeconds() const = 0;
    // Ends the session on this side; nothing happens without one.
    virtual void CloseSession() = 0;
    // The end button: ends the session and tells the customer.
    virtual void EndSession() = 0;
    // The chat button: shows the chat window.
    virtual void ShowChat() = 0;
    // The clipboard check item: whether the clipboard's text crosses with the agent, now and in the
    // sessions that follow.
    virtual void SetClipboardSharing(bool on) = 0;
};

}  // namespace pelio::session
