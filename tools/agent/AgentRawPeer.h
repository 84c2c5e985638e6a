// The raw peer of `pelio-agent listen --early LINE`: the client side of RFB spoken by hand instead of
// through LibVNCClient, so that the agent can send what a viewer never would: session messages before
// the customer's program has admitted the link.
//
// On the accepted socket it reads the server's protocol version (3.8 or later), plays the early lines
// as command lines (AgentPlay.h) without sending them, and then writes in one write the version
// reply "RFB 003.008", security type None, ClientInit (shared) and every message the early lines made,
// framed and encrypted as any session text. Then it reads the security types and result and
// ServerInit, prints "screen WxH", asks for raw encoding and one full screen update (which the server
// wants before texts flow) and runs the session like the viewer: received texts print their lines,
// command lines are played. Screen contents are read past, not kept ("\save" saves nothing).
#pragma once

#include "AgentPlay.h"

#include <string>
#include <vector>

namespace pelio::agent {

// Runs the session on the connected socket `fd`, which it closes; prints "disconnected" at the end,
// and the reason the handshake or the protocol failed on standard error. Returns the exit code.
int RunRawPeer(int fd, ListenSession& session, const std::vector<std::string>& earlyLines);

}  // namespace pelio::agent
