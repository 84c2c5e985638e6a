#include "ProgramOnDisplay.h"

#include <QFile>

#include <functional>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace pelio::test {

void ProgramOnDisplay::SetUp() {
    if (!display.ok()) GTEST_SKIP() << "Xvfb could not start";
    // PELIO_TEST_EXECUTABLE runs the tests against another build of the program (an older one, to
    // see a test fail without a fix).
    const QString built = qEnvironmentVariable("PELIO_TEST_EXECUTABLE", QStringLiteral(PELIO_EXECUTABLE));
    ASSERT_TRUE(QFile::copy(built, exe));
    service = std::make_unique<tools::ReferenceService>(ServiceData(), ServiceFiles());
    servicePort = service->Start(QStringLiteral("127.0.0.1"), ServicePort());
    ASSERT_GT(servicePort, 0);
    AddSettings(QStringLiteral("[Service]\r\nServiceRoot=http://127.0.0.1:%1/\r\n").arg(servicePort));
}

void ProgramOnDisplay::TearDown() {
    for (auto& p : processes) {
        p->kill();
        p->waitForFinished(5000);
    }
}

void ProgramOnDisplay::AddSettings(const QString& lines) {
    QFile ini(programFolder.file(QStringLiteral("PelioRS.ini")));
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write(lines.toUtf8());
}

QProcess& ProgramOnDisplay::Start(const QStringList& args, QProcessEnvironment env) {
    auto p = std::make_unique<QProcess>();
    env.insert(QStringLiteral("DISPLAY"), display.name());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.file(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.file(QStringLiteral("data")));
    env.insert(QStringLiteral("PELIO_MESSAGE_LOG"), messageLog);
    p->setProcessEnvironment(env);
    p->setProgram(exe);
    p->setArguments(args);
    p->start();
    processes.push_back(std::move(p));
    return *processes.back();
}

int ProgramOnDisplay::TitleCount(const QString& title) const {
    return static_cast<int>(display.WindowTitles().count(title));
}

QString ProgramOnDisplay::Messages() const {
    QFile f(messageLog);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString ProgramOnDisplay::Settings() const {
    QFile f(programFolder.file(QStringLiteral("PelioRS.ini")));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

bool ProgramOnDisplay::Xdo(const QStringList& args) const {
    QProcess xdo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display.name());
    xdo.setProcessEnvironment(env);
    xdo.start(QStringLiteral("xdotool"), args);
    return xdo.waitForFinished(20000) && xdo.exitCode() == 0;
}

bool ProgramOnDisplay::Focus(const QString& title) const {
    // xdotool reads the name as an extended regular expression: the title's own brackets are escaped.
    QString pattern;
    for (const QChar c : title) {
        if (QStringLiteral(".[]{}()*+?^$|\\").contains(c)) pattern += u'\\';
        pattern += c;
    }
    // A window whose title is set may not be mapped yet: ask again until it takes the focus.
    return WaitFor(
        [&] {
            return Xdo({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                        QStringLiteral("^") + pattern + QStringLiteral("$"), QStringLiteral("windowfocus"),
                        QStringLiteral("--sync")});
        },
        kWindowWaitMs);
}

bool ProgramOnDisplay::AskToClose(const QString& title) const {
    for (const TitledWindow& window : TitledWindows()) {
        if (window.title != title) continue;
        AskWindowToClose(window.id);
        return true;
    }
    return false;
}

QList<ProgramOnDisplay::TitledWindow> ProgramOnDisplay::TitledWindows() const {
    auto* d = static_cast<Display*>(display.display());
    const Atom netWmName = XInternAtom(d, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    const Atom wmState = XInternAtom(d, "WM_STATE", False);
    QList<TitledWindow> found;
    std::function<void(Window, int)> look = [&](Window parent, int depth) {
        Window root = 0, up = 0, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(d, parent, &root, &up, &children, &count)) return;
        for (unsigned int i = 0; i < count; ++i) {
            Atom type = 0;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(d, children[i], netWmName, 0, 1024, False, utf8, &type, &format, &items,
                                   &after, &data) == Success &&
                data) {
                TitledWindow window;
                window.id = children[i];
                window.title = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(items));
                XFree(data);
                data = nullptr;
                // ICCCM WM_STATE: 1 normal, 3 iconic; absent or 0 when withdrawn.
                if (XGetWindowProperty(d, children[i], wmState, 0, 2, False, wmState, &type, &format, &items,
                                       &after, &data) == Success &&
                    data && items > 0 && format == 32)
                    window.managed = *reinterpret_cast<long*>(data) != 0;
                if (data) XFree(data);
                found << window;
            }
            if (depth > 0) look(children[i], depth - 1);
        }
        if (children) XFree(children);
    };
    look(DefaultRootWindow(d), 1);
    return found;
}

void ProgramOnDisplay::AskWindowToClose(unsigned long window) const {
    auto* d = static_cast<Display*>(display.display());
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, window, False, NoEventMask, &event);
    XFlush(d);
}

}  // namespace pelio::test

namespace pelio::test {

bool ProgramOnDisplay::StartOpenbox(QProcess& windowManager) const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display.name());
    env.insert(QStringLiteral("XDG_DATA_DIRS"), QStringLiteral("/usr/share"));  // its theme
    windowManager.setProcessEnvironment(env);
    windowManager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    // openbox is up once it has set up the root window's list of what it supports.
    return windowManager.waitForStarted(10000) &&
           WaitFor([&] { return RootCardinal("_NET_SUPPORTED") >= 0; }, kWindowWaitMs);
}

long ProgramOnDisplay::RootCardinal(const char* name) const {
    auto* d = static_cast<Display*>(display.display());
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long value = -1;
    if (XGetWindowProperty(d, DefaultRootWindow(d), XInternAtom(d, name, False), 0, 1, False, AnyPropertyType,
                           &type, &format, &count, &after, &data) == Success &&
        data && count > 0 && format == 32)
        value = *reinterpret_cast<long*>(data);
    if (data) XFree(data);
    return value;
}

}  // namespace pelio::test
