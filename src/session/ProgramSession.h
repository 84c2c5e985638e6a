// The support session as the program runs it: the real server component, the controller, the
// dispatcher, the screen view with the real viewer component, and the commands run on this computer
// through the platform services.
//
// The download windows and the chat window come from the factories; without them, stand-ins take
// their place. They log what reaches them on "pelio.session" ("agent chat TEXT", "common COLOUR
// TEXT", "file offer LIST", "download URL -> PATH"; a file offer also plays AppFolder/system/chat.wav),
// and the chat stand-in sends the pending request text as the customer's first chat line when the chat
// is opened.
#pragma once

#include "session/ChatLink.h"
#include "session/SessionPeers.h"
#include "session/SessionSeam.h"

#include <functional>
#include <memory>

namespace pelio::app {
struct AppContext;
}
namespace pelio::platform {
struct Services;
}

namespace pelio::session {

class SessionView;

// Makes the chat window's side of the session; it reaches the session and the agent list window
// through the link, which lives as long as the session.
using ChatFactory = std::function<std::unique_ptr<ChatPeer>(session::ChatLink& link)>;
// Makes the download windows' side; they tell how each file ended through the chat.
using DownloadFactory = std::function<std::unique_ptr<DownloadPeer>(ChatPeer& chat)>;

// The service's addresses come from the settings file (context.IniFile). Without a chat factory a
// stand-in logs what would reach the chat window.
std::unique_ptr<session::SessionSeam> CreateProgramSession(app::AppContext& context,
                                                           platform::Services& services, SessionView& view,
                                                           const ChatFactory& makeChat = {},
                                                           const DownloadFactory& makeDownloads = {});

}  // namespace pelio::session
