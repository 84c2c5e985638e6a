// One link of the server component to an agent's program, and the states it passes through. The
// state changes only through Link::Apply, under the component's lock, along this table:
//
//   state       who holds the link, what waits                       events -> next state
//   Connecting  the connector makes the TCP connection (and, with a   Up -> Greeting, GiveUp -> Abandoned
//               pin, the TLS session over it)
//   Greeting    on hold in the library; the peer's version awaited    Greeted -> Held,
//                                                                     GreetedBusy -> Busy,
//                                                                     GiveUp -> Abandoned
//   Held        Connected raised; on hold until Allowed is set        Allow -> Admitted
//   Busy        Connected raised ("0.0.0.0"); on hold until it ends   (only End)
//   Admitted    Allowed set; the connector hands it to the library    Start -> Running
//   Running     the library's threads run the RFB handshake           FirstRequest -> Ready
//   Ready       the agent asked for the screen: texts flow            (only End)
//   Abandoned   Connect gave up on it: it never becomes a session     (only End)
//   Closed      over; the library's client is gone                    none
//
// End leads from every state but Closed to Closed. Any other event leaves the state as it is. A
// link raises Disconnected when it closes only if it had raised Connected (Held, Busy, Admitted,
// Running or Ready).
//
// Texts from the peer are taken only once the library runs the link (Running, Ready) and only those
// it sent after admission. A peer whose texts outrun the UI thread is cut off: its socket is shut,
// the library ends the link (End) as for any other loss, and the texts still waiting are dropped.
#pragma once

#include "server/TextFraming.h"
#include "server/UpdateFlow.h"

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

struct _rfbClientRec;

namespace pelio::components {

namespace secure {
class TlsTunnel;
}

enum class LinkState { Connecting, Greeting, Held, Busy, Admitted, Running, Ready, Abandoned, Closed };

enum class LinkEvent { Up, Greeted, GreetedBusy, GiveUp, Allow, Start, FirstRequest, End };

// The state that `event` leads to from `state`, or nothing when the event does not apply there.
std::optional<LinkState> NextLinkState(LinkState state, LinkEvent event);

// True for the states in which Connected has been raised.
bool IsAnnounced(LinkState state);

const char* LinkStateName(LinkState state);

// The texts of one link that have been posted to the UI thread and not delivered there yet. The
// link's input thread adds, the UI thread takes; the posted calls share it, as they may outlive the
// link. Thread-safe.
class TextBacklog {
  public:
    TextBacklog(std::size_t maxTexts, std::size_t maxBytes) : m_maxTexts(maxTexts), m_maxBytes(maxBytes) {}
    // Counts a text of `bytes` bytes as waiting. False when that would put more than the limits in
    // waiting: the backlog is then cut for good and counts nothing more.
    bool Add(std::size_t bytes);
    // The UI thread takes a text that Add counted; false when the backlog was cut meanwhile, and the
    // text is not to be delivered.
    bool Take(std::size_t bytes);
    bool Cut() const { return m_cut.load(); }

  private:
    const std::size_t m_maxTexts, m_maxBytes;
    std::atomic<std::size_t> m_texts{0}, m_bytes{0};
    std::atomic<bool> m_cut{false};
};

// Guarded by the component's lock unless noted.
struct Link {
    explicit Link(int i) : index(i) {}
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Moves to the state `event` leads to; false (and no change) when it does not apply. `before`
    // receives the state it was in.
    bool Apply(LinkEvent event, LinkState* before = nullptr);
    LinkState State() const { return m_state; }

    const int index;
    _rfbClientRec* cl = nullptr;  // the library's client, until it is gone
    std::string address;
    // A duplicate of the connection's socket, ours until the link ends: shutting it down ends every
    // blocked read and write on the connection, whoever owns the socket then. Texts are written on it.
    // On a TLS link the connection's socket is the tunnel's plain one: shutting it ends the tunnel's
    // relay too, which then closes the network socket.
    int wire = -1;
    // The TLS tunnel of a link made with a pin (set before the library sees the link, never replaced),
    // and the check code of its session.
    std::shared_ptr<secure::TlsTunnel> tunnel;
    std::string checkCode;
    std::optional<pthread_t> thread;  // the library's input thread once started; joined at Stop
    bool sending = false;             // the text sender is writing on `cl`; its end waits for that
    bool cut = false;                 // this side cut the peer off: its end is no loss of the link
    std::deque<std::string> outbox;   // texts for the agent, in order
    // The clipboard's latest text for the agent (UTF-8, CR LF line ends), sent after the texts waiting;
    // a newer one replaces it.
    std::optional<std::string> clipboard;
    // Clipboard texts the library was given to answer the viewer's request with, replaced since: kept
    // (the newest few) until the link ends, as the library may still be reading one.
    std::deque<char*> retiredClipboards;

    // Set before the connector starts, never replaced.
    std::shared_ptr<TextBacklog> backlog;

    // The viewer's requests and the link's speed (thread-safe; see UpdateFlow.h).
    UpdateFlow flow;

    // Owned by the link's input thread.
    framing::TextAssembler assembler;
    // Bytes the peer had sent when it was admitted (set before the input thread starts). Pointer and
    // key events among them were sent before admission and are dropped.
    std::uint64_t admittedBytes = 0;
    bool inputOpen = false;
    // True when the event the library has just read came after admission (input thread).
    bool InputAdmitted();
    // How many bytes the peer has sent on the link and how many of them the library has taken, as
    // ReadSocketCounters; on a TLS link counted on the plain side, after decryption.
    bool ReadCounters(std::uint64_t& received, std::uint64_t& taken) const;

  private:
    LinkState m_state = LinkState::Connecting;
};

// A consistent reading of how many bytes the peer has sent on a TCP socket and how many of them the
// reader has taken; false when the system does not tell.
bool ReadSocketCounters(int fd, std::uint64_t& received, std::uint64_t& taken);

}  // namespace pelio::components
