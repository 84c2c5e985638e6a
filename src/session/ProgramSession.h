// The support session as the program runs it: the real server component, the controller, the
// dispatcher, and the commands run on this computer through the platform services.
//
// The chat window, the download windows and the screen view are not part of the program yet: until
// they are, stand-ins take their place. They log what reaches them on "pelio.session" ("agent chat
// TEXT", "common COLOUR TEXT", "file offer LIST", "download URL -> PATH", "showme ADDRESS PORT",
// "stopshowme"; a file offer also plays AppFolder/system/chat.wav), and the chat stand-in sends the
// pending request text as the customer's first chat line when the chat is opened.
#pragma once

#include "request/SessionSeam.h"

#include <memory>

namespace pelio::app {
struct AppContext;
}
namespace pelio::platform {
struct Services;
}

namespace pelio::session {

class SessionView;

// The service's addresses come from the settings file (context.IniFile).
std::unique_ptr<request::SessionSeam> CreateProgramSession(app::AppContext& context,
                                                           platform::Services& services, SessionView& view);

}  // namespace pelio::session
