#pragma once

namespace pelio::platform {
class Shell;
}

// The rules of a browser control that shows a page of the service inside a window (a company's
// notice, the firewall notice): the page stays a page, not a browser.
namespace pelio::util {

class HtmlView;

// - A web link of the page (http or https, in the page or for a new window) opens in the desktop's
//   browser through the shell; the view stays on the page. Other navigations the page asks for are
//   refused (a meta refresh too); the view's own loads pass, and so do the server's redirects of them
//   and the page's frames.
// - No context menu.
// - Unless isDevelopment: keys typed in the page and right-button releases do nothing (no reload, no
//   history keys, no selection menus).
// The caller keeps the shell for the view's life.
void MakeEmbeddedPage(HtmlView* view, platform::Shell& shell, bool isDevelopment);

}  // namespace pelio::util
