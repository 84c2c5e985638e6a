// A TCP relay on 127.0.0.1 that a test puts between the customer's program and the agent, to break
// the link as a network does: Cut resets every relayed connection on both sides and refuses new ones
// (nothing listens at the port), Resume takes connections at the same port again. Forwarding runs on
// a thread of its own.
#pragma once

#include <QtGlobal>

#include <memory>

namespace pelio::test {

class LinkRelay {
  public:
    // Relays to 127.0.0.1:targetPort from a port of its own (0 when it cannot listen).
    explicit LinkRelay(int targetPort);
    ~LinkRelay();
    LinkRelay(const LinkRelay&) = delete;
    LinkRelay& operator=(const LinkRelay&) = delete;

    int Port() const;
    // Returns once every relayed connection has been reset and the port refuses connections.
    void Cut();
    // Returns once the port takes connections again; false when it could not be had back.
    bool Resume();
    // Connections relayed so far.
    int Relayed() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace pelio::test
