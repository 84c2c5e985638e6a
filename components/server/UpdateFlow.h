// When one link's screen updates are sent: every request of the viewer gets an update of its own,
// unless the link is crowded.
//
// A viewer without continuous updates asks for each update, and most (LibVNCClient, the agent's) ask
// again as soon as one has arrived: the requests in flight are all that keep the link busy, and over
// a long round trip each one is worth an update per round trip. The library merges requests that
// wait at the same time into one update, which loses one of them for good: a link that had two in
// flight (24 updates a second over 80 ms) drops to one (12); over TLS the tunnel packs two requests
// sent back to back into one record, so they always arrived together. So after an update, while
// requests are still unanswered, the area of the last one is asked for again, and the next change
// goes out as the next update.
//
// When the updates on the way take longer than a round trip to cross (LinkPacing), a further request
// is held back instead: it waits with the library, but the capture loop hands the library no change
// while Holding() (so nothing goes out), until the link has room. A change then does not wait behind
// an update that is already old.
//
// Threads: OnRequest on the link's input thread, AfterUpdate on its output thread (under the client's
// send lock), Tick on the capture thread.
#pragma once

#include "server/LinkPacing.h"

#include <cstdint>
#include <mutex>

struct _rfbClientRec;

namespace pelio::components {

class UpdateFlow {
  public:
    // A request for the area x, y, w, h (incremental or not) has been read. Returns false when it is
    // held back.
    bool OnRequest(_rfbClientRec* cl, bool incremental, int x, int y, int w, int h);
    // The library is done with an update (written, or nothing was due). Returns whether a request
    // still unanswered was handed to the library again (the screen is then to be grabbed for it).
    bool AfterUpdate(_rfbClientRec* cl);
    // Now and then: answers a request held back for which the link now has room, or that has waited
    // too long. Returns whether one was.
    bool Tick(_rfbClientRec* cl);
    // Whether a request is held back (any thread).
    bool Holding();

    // Notes the area x, y, w, h as requested with the library (cl's update lock not held): for a
    // request still unanswered after an update or held back until now, and from the request hook for a
    // request answered at once. The library notes that one only after the hook returns, and the grab
    // that the hook wakes may hand it a change before then: the update would answer only a request
    // held back before, and this one would get an update of its own right after it, two on the way
    // where one was meant.
    static void AskAgain(_rfbClientRec* cl, int x, int y, int w, int h);

  private:
    std::mutex m_mutex;
    LinkPacing m_pacing;
    int m_unanswered = 0;                    // requests not answered by an update yet
    bool m_holding = false;                  // one of them is held back for room on the link
    int m_x = 0, m_y = 0, m_w = 0, m_h = 0;  // the area of the last request
    int m_updatesSent = 0;                   // output thread only: updates counted so far
    int m_sizesSent = 0;                     // output thread only: changes of size counted so far
    std::int64_t m_bytesSent = 0;            // output thread only: bytes counted so far
};

}  // namespace pelio::components
