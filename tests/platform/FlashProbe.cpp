// A window of its own on the X display of $DISPLAY, flashed through LinuxDesktop, for tests that read
// the window's hints from outside. It prints the window's id, then waits for a line on its standard
// input without running events, so that the test sees only what reached the X server. The line
// "activate" activates the window, prints "active" once it is (else "inactive") and waits again; the
// end of the input ends the program.
#include "platform/LinuxDesktop.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QWindow>

#include <iostream>
#include <string>

namespace {

template <typename Condition>
bool RunEventsUntil(Condition condition) {
    QDeadlineTimer deadline(20000);
    while (!condition() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return condition();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    QWindow window;
    window.resize(200, 100);
    window.show();
    if (!RunEventsUntil([&] { return window.isExposed(); })) return 1;
    pelio::platform::LinuxDesktop desktop;
    desktop.FlashWindow(&window);
    std::cout << window.winId() << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
        if (line != "activate") continue;
        window.requestActivate();
        std::cout << (RunEventsUntil([&] { return window.isActive(); }) ? "active" : "inactive") << std::endl;
    }
    return 0;
}
