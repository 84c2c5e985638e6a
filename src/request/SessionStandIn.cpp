#include "request/SessionStandIn.h"

#include "request/RequestLog.h"

namespace pelio::request {

void SessionStandIn::RequestConnect(const ConnectRequest& request) {
    if (!request.Agent) {
        qCInfo(lcRequest) << "connect request without an agent";
        return;
    }
    const AgentChoice& agent = *request.Agent;
    qCInfo(lcRequest).noquote() << "connect request" << agent.Name << agent.Port << agent.PublicAddress
                                << agent.LocalAddress;
}

bool SessionStandIn::OpenSession(const QString& address, int port) {
    qCInfo(lcRequest).noquote() << "OpenSession" << address << port;
    return false;
}

}  // namespace pelio::request
