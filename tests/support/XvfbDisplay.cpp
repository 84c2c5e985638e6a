#include "XvfbDisplay.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace pelio::test {

namespace {

int IgnoreErrors(Display*, XErrorEvent*) {
    return 0;
}

QString TitleOf(Display* d, Window w) {
    Atom netWmName = XInternAtom(d, "_NET_WM_NAME", False);
    Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    QString title;
    if (XGetWindowProperty(d, w, netWmName, 0, 1024, False, utf8, &type, &format, &count, &after, &data) ==
            Success &&
        data) {
        title = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(count));
        XFree(data);
    }
    return title;
}

}  // namespace

XvfbDisplay::XvfbDisplay(QSize size) {
    m_server.setProgram(QStringLiteral("Xvfb"));
    m_server.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                           QStringLiteral("0"),
                           QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height()),
                           QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset")});
    m_server.setProcessChannelMode(QProcess::SeparateChannels);
    m_server.start();
    if (!m_server.waitForStarted(10000)) return;
    QByteArray out;
    WaitFor(
        [&] {
            m_server.waitForReadyRead(50);
            out += m_server.readAllStandardOutput();
            return out.contains('\n') || m_server.state() != QProcess::Running;
        },
        20000);
    bool numeric = false;
    int number = out.trimmed().toInt(&numeric);
    if (!numeric) return;
    const QString name = QStringLiteral(":%1").arg(number);
    XSetErrorHandler(IgnoreErrors);
    m_display = XOpenDisplay(name.toLatin1().constData());
    if (m_display) m_name = name;
}

XvfbDisplay::~XvfbDisplay() {
    if (m_display) XCloseDisplay(static_cast<Display*>(m_display));
    m_server.terminate();
    if (!m_server.waitForFinished(5000)) m_server.kill();
    m_server.waitForFinished(2000);
}

QStringList XvfbDisplay::WindowTitles() const {
    QStringList titles;
    auto* d = static_cast<Display*>(m_display);
    if (!d) return titles;
    Window root = DefaultRootWindow(d), rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(d, root, &rootReturn, &parent, &children, &n)) return titles;
    for (unsigned int i = n; i-- > 0;) {
        const QString t = TitleOf(d, children[i]);
        if (!t.isEmpty()) titles << t;
    }
    if (children) XFree(children);
    return titles;
}

void XvfbDisplay::CreateForeignWindow(const QString& title) {
    auto* d = static_cast<Display*>(m_display);
    if (!d) return;
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 10, 10, 200, 100, 0, 0, 0);
    const QByteArray utf8 = title.toUtf8();
    XChangeProperty(d, w, XInternAtom(d, "_NET_WM_NAME", False), XInternAtom(d, "UTF8_STRING", False), 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(utf8.constData()),
                    static_cast<int>(utf8.size()));
    XMapWindow(d, w);
    XSync(d, False);
}

}  // namespace pelio::test
