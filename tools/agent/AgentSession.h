// The listening agent of pelio-agent: takes one reverse connection from the customer's server
// component as an RFB viewer (LibVNCClient) and runs the session until either side leaves.
//
// Standard output, one line per event:
//   listening PORT          ready for the connection (PORT is the real port when 0 was asked)
//   connected ADDRESS       the customer's component connected
//   secure CODE PIN         (--key) the TLS session is up: CODE is its check code as six digits
//                           (the customer's program shows the same code as "123 456"), PIN the pin
//                           of the agent's key, the one the customer's program was given
//   busy                    (--busy) the component was told that this agent is busy
//   screen WIDTHxHEIGHT     the first screen, and each change of its size
//   message TEXT            a session message, decrypted; "\" "\n" "\r" escaped as \\ \n \r
//   greeting FIELDS         after the "message" line of the customer's greeting: "greeting " and the
//                           machine code, name, phone and account, each separated by one TAB and
//                           escaped like TEXT with a TAB in a field as \t (an empty field is an empty
//                           column)
//   chat TEXT               after the "message" line of a "chatend": the chat line its pieces made,
//                           escaped like the message texts (a "chatend" with nothing since the last
//                           one prints no line)
//   undecryptable TEXT      a received text that is not a session message
//   saved FILE              after "\save"
//   offer accepted, offer refused, fetched NAME SIZE SHA256, fetch failed ADDRESS: REASON
//                           the file exchange (see AgentFiles.h)
//   showing PORT            the agent's screen server listens at PORT (see \showme below)
//   disconnected            the link ended; the program exits 0, unless the link was lost (a reset
//                           or no answer: not closed by the customer's program, no "end" sent, no
//                           \quit) under a greeted customer: then it prints "listening PORT" again
//                           and waits at the same port 60 s for that customer to dial again (see
//                           AgentRejoin.h), and exits 0 when nobody comes
//   reconnected MACHINECODE after the "greeting" line of a new link: the customer of the lost link
//                           came back within 60 s; the session goes on (a greeting with another
//                           machine code is a new customer's, with no such line)
// Standard input and the --script file (which is played first) hold one command per line. A line is
// a plain session message that is encrypted and sent, unless it starts with "\":
//   \pointer X Y MASK       a pointer event (MASK bit b = button b + 1)
//   \key KEYSYM down|up     a key event; KEYSYM in decimal or 0x hexadecimal
//   \type KEYSYM            the key pressed and released
//   \save FILE              saves the received screen as an image (format from the file name)
//   \quit                   closes the link and exits
//   \repeat N LINE          plays LINE N times (N up to 10000; LINE is no "\repeat")
//   \\TEXT                  sends the message "\TEXT"
// and the commands that send session messages (arguments as AgentCommands.h reads them):
//   \chat TEXT              one chat line: "chatstart", "chat:" pieces, "chatend", paced like the
//                           customer's program (50 ms after each piece, 10 ms more before the end)
//   \rawchat SIZE           one "chat:" piece of SIZE characters a..z over and over (SIZE up to
//                           8 MiB), without "chatstart" and "chatend"
//   \end                    "end"
//   \changeagent P/L/PORT   "changeagent:P/L/PORT"
//   \showme NAME FLAG ADDRESS PORT
//                           "showme:" and the four words joined by "#;#"
//   \showme NAME FLAG [ADDRESS]
//                           with --screen DISPLAY: starts the agent's screen server (AgentScreen.h), a VNC
//                           server on DISPLAY whose password is the access code, unless it runs; prints
//                           "showing PORT" and sends the message with its port (ADDRESS defaults to the
//                           bind address); "\stopshowme" sends its message and then stops the server
//   \stopshowme, \desktop, \ime, \explorer, \ie
//                           the keyword alone
//   \url ADDRESS            "url:ADDRESS"
//   \shell COMMAND LINE     "shell:COMMAND LINE"
//   \offer NAME...          "filename:" and CR LF before each name; with --share, the names
//                           are paths of files that the agent shares (see AgentFiles.h)
//   \download URL           "downloadthis:URL"
//   \lastfile NAME          "lastfile:NAME"
//   \monitor N              "monitor:N": the customer's monitor N (from 1) of the "monitors" list
//                           it sent, or the whole desktop for 0
// A command that is none of these, or lacks what it needs, sends nothing: the reason goes to standard
// error as one line starting with "pelio-agent: ". Each message is encrypted on its own, and texts
// travel in the framing of TextFraming.h.
//
// --key FILE (a key file of `pelio-agent keygen`, see secure/AgentKey.h) makes the link secure: after
// the customer's component has connected, the agent runs TLS 1.3 as the server with that key
// (secure/TlsTunnel.h), prints the "secure" line and speaks RFB (or the raw peer's RFB, or the busy
// answer) inside the tunnel. A component that does not finish the handshake within 30 s, or refuses
// the key, ends the session: the reason goes to standard error, "disconnected" is printed and the
// exit code is 1. Without --key the link is plain RFB, as a component without a pin expects.
//
// --early LINE (repeatable) makes the agent a hostile peer for tests: instead of LibVNCClient's
// handshake it speaks RFB by hand (AgentRawPeer.h) and sends what the LINEs make (command lines as
// above; messages, \pointer, \key) in the same write as its version reply, security type and
// ClientInit, before the customer's program can have admitted the link. It then runs the session as
// above, with the same lines, except that it keeps no screen: "screen" is printed once and "\save"
// saves nothing. With --busy the agent answers busy and sends no early lines.
#pragma once

#include "AgentFiles.h"
#include "secure/AgentKey.h"

#include <string>
#include <vector>

namespace pelio::agent {

struct AgentOptions {
    int port = 0;
    std::string bindAddress = "127.0.0.1";
    bool busy = false;
    std::string scriptFile;
    FileOptions files;
    std::string screenDisplay;         // --screen: the X display the agent shows with "\showme"
    std::vector<std::string> early;    // --early: lines sent with the handshake, by the raw peer
    std::string name;                  // --name, console only: the agent's name in chat lines and "showme"
    components::secure::AgentKey key;  // --key: TLS with this key; invalid: a plain link
};

// Returns the process exit code.
int RunAgent(const AgentOptions& options);

}  // namespace pelio::agent
