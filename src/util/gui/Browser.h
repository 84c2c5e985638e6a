#pragma once

#include <QString>

namespace pelio::platform {
class Shell;
}
// Opening the service's pages in a browser.
namespace pelio::util {

class HtmlView;

// Opens `url` with optional form data. With `view`, navigates that browser control: a POST of the
// data's code page 949 bytes with the form content type when data is given, else a plain load.
// Without a view, opens a new window of the desktop's web browser: the address alone when data is
// empty; with data, a temporary page that posts the form to the address as soon as it opens. When
// that cannot be done, the shell opens the address with the data as a query string ("?" or "&").
void OpenWebPage(const QString& url, const QString& data, bool post, platform::Shell& shell,
                 util::HtmlView* view = nullptr);

// The address with the data as a query string: url + ("&" when url has "?", else "?") + data.
QString AddressWithQuery(const QString& url, const QString& data);

// A page that posts `data` ("name=value&...", URL-encoded in code page 949) to `url` when opened.
// The page declares code page 949 so that the browser sends the values in it again.
QString AutoPostPage(const QString& url, const QString& data);

}  // namespace pelio::util
