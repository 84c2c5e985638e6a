// The agent's listening sockets.
#pragma once

#include <string>

namespace pelio::agent {

// A TCP socket listening on address (IPv4, numeric) at port (0: one the system picks), with
// SO_REUSEADDR and close-on-exec; boundPort receives the port it listens on. -1 when the address is
// not a numeric IPv4 address or the socket cannot be bound.
int ListenTcp(const std::string& address, int port, int backlog, int* boundPort);

}  // namespace pelio::agent
