// The agent's own screen for the customer's screen view: a VNC server (x11vnc) on the agent's X
// display with the access code "harborclinks" as its password, listening on the agent's bind address
// at a port it picks itself. pelio-agent starts it for "\showme NAME FLAG [ADDRESS]" and stops it for
// "\stopshowme" and when the session ends.
//
// With a key (SetKey), the screen is served through TLS 1.3 with that key: x11vnc listens only on
// 127.0.0.1 at a port of its own, and the port advertised listens on the bind address, runs the TLS
// server's handshake (secure/TlsTunnel.h) on each connection it takes and relays the plain stream to
// x11vnc, one tunnel and one x11vnc connection per connection taken. A connection whose handshake
// fails is closed without reaching x11vnc.
#pragma once

#include "secure/AgentKey.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace pelio::agent {

class AgentScreen {
  public:
    // display: the X display to serve (":N"); bindAddress: where the server listens.
    AgentScreen(std::string display, std::string bindAddress);
    ~AgentScreen();
    AgentScreen(const AgentScreen&) = delete;
    AgentScreen& operator=(const AgentScreen&) = delete;

    // Starts the server unless it runs; the port it listens on, or 0 (with the reason on standard
    // error) when it did not come up within 10 seconds.
    int Start();
    void Stop();
    // The port of the running server (0 when none runs).
    int Port() const { return m_port; }

    // The "\showme" line to play for a line of the agent's input: "\showme NAME FLAG [ADDRESS]" starts
    // the server and becomes "\showme NAME FLAG ADDRESS PORT" (ADDRESS defaults to the bind address);
    // any other line is returned unchanged; nothing when the server could not start.
    std::optional<std::string> Expand(const std::string& line);
    // Whether the line stops the view ("\stopshowme").
    static bool Stops(const std::string& line);

    // A valid key: later Starts serve the screen through TLS with it (see above). Call before Start.
    void SetKey(const components::secure::AgentKey& key) { m_key = key; }

  private:
    bool StartFront(int innerPort);
    void StopFront();
    void AcceptLoop();
    void Relay(int socket);

    std::string m_display;
    std::string m_bindAddress;
    pid_t m_pid = -1;
    int m_port = 0;
    components::secure::AgentKey m_key;

    // The TLS front: its listening socket, a pipe whose write end wakes every thread of it on Stop,
    // the thread that accepts and one thread per connection taken.
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    int m_innerPort = 0;
    std::atomic<bool> m_stopFront{false};
    std::thread m_acceptor;
    std::mutex m_relaysMutex;
    std::vector<std::thread> m_relays;
};

}  // namespace pelio::agent
