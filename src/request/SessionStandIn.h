#pragma once

#include "request/SessionSeam.h"

namespace pelio::request {

// A stand-in for the support session, replaced by the session controller: it only logs each request
// on the "pelio.request" category ("connect request NAME PORT PUBLIC LOCAL", "OpenSession ADDRESS
// PORT"), never connects, and so reports no connected time.
class SessionStandIn : public SessionSeam {
  public:
    void RequestConnect(const ConnectRequest& request) override;
    bool OpenSession(const QString& address, int port) override;
    bool bConnected() const override { return false; }
    qint64 ConnectedSeconds() const override { return 0; }
    void CloseSession() override {}
};

}  // namespace pelio::request
