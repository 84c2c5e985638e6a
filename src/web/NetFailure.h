#pragma once

#include <QString>

// Why a network call failed, in terms of the program rather than of the network library: a kind to
// decide on and a text to show or log. Shared by every client of the network (HTTP, FTP, downloads).
namespace pelio::web {

enum class NetError {
    None,             // no failure
    Refused,          // the peer could not be connected (refused or unreachable)
    NameNotResolved,  // the host name (or the proxy's) could not be resolved
    TimedOut,         // no reply within the time limit, or the reply stopped coming
    Tls,              // the secure connection could not be set up or its certificate was refused
    HttpStatus,       // the server answered with an error status (the reply may still be used)
    ServerRefused,    // the server refused the request: a wrong login, no such file, no permission
    SizeCap,          // the reply was larger than the caller accepts; the rest was not read
    CutShort,         // the connection ended before the reply was complete
    BadAddress,       // the address is malformed or its scheme is not allowed
    Other,            // anything else; the text says what
};

struct NetFailure {
    NetError kind = NetError::None;
    QString text;  // empty when kind is None

    bool failed() const { return kind != NetError::None; }
};

// A short English name of the kind ("refused", "timed out", ...), for logs.
QString NetErrorName(NetError kind);

// The kind of a libcurl result code (a CURLcode), so that every client of libcurl classifies its
// results alike. CURLE_OK is None; a code without a kind of its own is Other.
NetError NetErrorOfCurlCode(int curlCode);

// A failure from a libcurl result code: its kind and, as text, `detail` (the transfer's error buffer)
// when not empty, else the library's description of the code.
NetFailure CurlFailure(int curlCode, const QString& detail = QString());

}  // namespace pelio::web
