// The viewer component alone in a frameless window at the top left of $DISPLAY, for the tests that
// read what it shows from the X server:
//   pelio_viewer_window PORT WIDTH HEIGHT
// connects to 127.0.0.1:PORT and ends when the view closes.
#include "viewer/VncViewerComponent.h"

#include <QApplication>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    QApplication app(argc, argv);
    pelio::components::VncViewerComponent viewer;
    viewer.setWindowFlag(Qt::FramelessWindowHint);
    viewer.setGeometry(0, 0, std::atoi(argv[2]), std::atoi(argv[3]));
    viewer.show();
    QObject::connect(&viewer, &pelio::components::ViewerComponent::ViewClosed, &app, &QApplication::quit);
    viewer.Connect(QStringLiteral("127.0.0.1"), std::atoi(argv[1]), QString());
    return app.exec();
}
