// The viewer link's socket: connecting out with a deadline that a wake-up can cut short, and the
// options that keep a link responsive and notice a dead peer.
#pragma once

#include <chrono>
#include <string>

namespace pelio::components {

// A connected non-blocking TCP socket to host:port, or -1; given up at the deadline or when wakeFd
// becomes readable.
int ConnectSocket(const std::string& host, int port, int wakeFd,
                  std::chrono::steady_clock::time_point deadline);

// Low latency for input, and a dead peer noticed on an idle link (keep-alive) and on one that takes
// no data for readTimeoutS seconds (user time-out).
void TuneSocket(int fd, int readTimeoutS);

}  // namespace pelio::components
