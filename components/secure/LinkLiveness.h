// How a TCP link to a peer is watched for death, and how its end is told apart.
//
// A link whose peer vanishes (a cable pulled, an address changed, a gateway that forgot the
// connection) sends no end: without help it is noticed only when TCP gives up on unacknowledged data
// after many minutes, or never on an idle link. WatchLiveness makes the system notice within
// kDeadLinkMs: keep-alive probes on an idle link, and a user time-out for data that stays
// unacknowledged.
//
// ReadTcpEnd tells, once a link is over for its reader, whether the peer ended it (its FIN came, the
// orderly close of a program that quits or ends the session) or whether it was lost (a reset, or no
// answer within the time-out). It reads the state of the socket itself, so it must be asked on a
// descriptor of the connection that nobody has closed or shut down yet: the reader's own read may
// have taken the socket's error, but it does not change the state.
#pragma once

namespace pelio::components::secure {

// The longest a dead link goes unnoticed once WatchLiveness is set on it.
constexpr int kDeadLinkMs = 15000;

// Sets keep-alive and the user time-out on a connected TCP socket. False when the system refused one
// of them (the link then works as before, only without the bound).
bool WatchLiveness(int fd);

enum class TcpEnd {
    Open,    // still established: the reader stopped for a reason of its own
    Closed,  // the peer closed it (also when it reset the connection after its FIN)
    Lost,    // reset, timed out or unreachable
};

// How the connection of fd ended (see above). Open when fd is no TCP socket.
TcpEnd ReadTcpEnd(int fd);

}  // namespace pelio::components::secure
