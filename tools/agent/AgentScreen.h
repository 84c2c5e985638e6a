// The agent's own screen for the customer's screen view: a VNC server (x11vnc) on the agent's X
// display with the access code "harborclinks" as its password, listening on the agent's bind address
// at a port it picks itself. pelio-agent starts it for "\showme NAME FLAG [ADDRESS]" and stops it for
// "\stopshowme" and when the session ends.
#pragma once

#include <optional>
#include <string>

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

  private:
    std::string m_display;
    std::string m_bindAddress;
    pid_t m_pid = -1;
    int m_port = 0;
};

}  // namespace pelio::agent
