#pragma once

#include "web/NetFailure.h"

#include <QByteArray>
#include <QString>

namespace pelio::platform {
class Clock;
}

// The HTTP transport of the web service client, and the two waits that keep the windows alive.
// Everything runs on the UI thread; window events are processed while a request waits, so handlers
// of the program may run in between (callers disable their window meanwhile).
namespace pelio::web {

// Lets pending window events run once; returns at once when there are none.
void PumpPendingEvents();

// Returns after `ms` milliseconds, processing window events meanwhile.
void WaitResponsive(int ms);

// Limits of a fetch beyond the caller's time-out.
struct HttpLimits {
    int openMs = 5000;               // connecting and receiving the final reply's headers, per attempt
    qint64 maxReplyBytes = 1 << 20;  // what comes after this is not read
    // The clock both time limits read (the caller keeps it); null means platform::DefaultClock().
    const platform::Clock* clock = nullptr;
};

// Fetches `url` with a GET and returns the reply body decoded from code page 949: at most two
// attempts, 100 ms apart (one when the address itself is bad); an attempt fails when the final
// reply's headers have not come within the open limit (interim "1xx" replies do not count). The body
// is read in pieces of up to 4,096 bytes until it ends or `timeoutSeconds` have passed since the final
// headers came (then what arrived so far is the reply). An HTTP error page is returned like any other
// reply; a request that cannot be made returns empty text.
// The request carries the agent string "vb wininet", asks every cache to go to the server, follows
// redirects and uses the proxy of the environment (http_proxy, https_proxy, no_proxy).
QString HttpGetText(const QString& url, double timeoutSeconds, const HttpLimits& limits = HttpLimits());

// The same fetch, returning the raw body bytes and why it fell short (tests and callers that decode
// themselves). `failure` is, with a reply (`ok`): HttpStatus for a status of 400 or above, else
// TimedOut, SizeCap or CutShort when reading stopped early, else None. Without a reply: why the last
// attempt failed (Refused, NameNotResolved, TimedOut at the open limit, Tls, BadAddress, CutShort when
// the connection closed before any reply, Other).
struct HttpFetchResult {
    bool ok = false;        // the request was made and a reply came back
    int attempts = 0;       // 1 or 2
    QByteArray body;        // as received, possibly cut by the time-out or the size cap
    bool timedOut = false;  // reading stopped at the time-out
    bool capped = false;    // reading stopped at the size cap
    int status = 0;         // the final reply's HTTP status; 0 without a reply
    NetFailure failure;
};
HttpFetchResult HttpGetBytes(const QString& url, double timeoutSeconds,
                             const HttpLimits& limits = HttpLimits());

}  // namespace pelio::web
