// When one link's screen updates are sent: every request of the viewer gets an update of its own.
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
// Threads: OnRequest on the link's input thread, AfterUpdate on its output thread (under the client's
// send lock).
#pragma once

#include <mutex>

struct _rfbClientRec;

namespace pelio::components {

class UpdateFlow {
  public:
    // A request for the area x, y, w, h (incremental or not) has been read.
    void OnRequest(_rfbClientRec* cl, bool incremental, int x, int y, int w, int h);
    // The library is done with an update (written, or nothing was due).
    void AfterUpdate(_rfbClientRec* cl);

  private:
    std::mutex m_mutex;
    int m_unanswered = 0;                    // requests not answered by an update yet
    int m_x = 0, m_y = 0, m_w = 0, m_h = 0;  // the area of the last request
    int m_updatesSent = 0;                   // output thread only: updates counted so far
};

}  // namespace pelio::components
