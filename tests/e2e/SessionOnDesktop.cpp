#include "SessionOnDesktop.h"

#include <QDeadlineTimer>
#include <QFile>

#include <functional>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace pelio::test {

AccessibilityBus::AccessibilityBus(const QString& display) {
    m_bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                QStringLiteral("--print-address=1")});
    if (!m_bus.waitForStarted(10000)) return;
    QByteArray out;
    WaitFor(
        [&] {
            m_bus.waitForReadyRead(50);
            out += m_bus.readAllStandardOutput();
            return out.contains('\n') || m_bus.state() != QProcess::Running;
        },
        20000);
    const QString address = QString::fromUtf8(out.trimmed());
    if (address.isEmpty()) return;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    env.insert(QStringLiteral("DISPLAY"), display);
    m_launcher.setProcessEnvironment(env);
    m_launcher.start(QStringLiteral("/usr/libexec/at-spi-bus-launcher"),
                     {QStringLiteral("--launch-immediately")});
    if (!m_launcher.waitForStarted(10000)) return;
    // Up once the launcher answers for the accessibility bus on the session bus.
    const bool up = WaitFor(
        [&] {
            QProcess ask;
            ask.setProcessEnvironment(env);
            ask.start(QStringLiteral("dbus-send"),
                      {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                       QStringLiteral("--dest=org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                       QStringLiteral("org.a11y.Bus.GetAddress")});
            return ask.waitForFinished(5000) && ask.exitCode() == 0 &&
                   ask.readAllStandardOutput().contains("unix:");
        },
        20000);
    if (up) m_address = address;
}

AccessibilityBus::~AccessibilityBus() {
    for (QProcess* p : {&m_launcher, &m_bus}) {
        p->terminate();
        if (!p->waitForFinished(5000)) p->kill();
        p->waitForFinished(2000);
    }
}

void AccessibilityBus::AddTo(QProcessEnvironment& env) const {
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_ACCESSIBILITY"), QStringLiteral("1"));
}

void SessionOnDesktop::SetUp() {
    SessionOnDisplay::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(StartOpenbox(windowManager));
    accessibility = std::make_unique<AccessibilityBus>(display.name());
    ASSERT_TRUE(accessibility->ok()) << "the accessibility bus did not start";
}

void SessionOnDesktop::TearDown() {
    SessionOnDisplay::TearDown();
    windowManager.kill();
    windowManager.waitForFinished(5000);
    accessibility.reset();
}

QProcessEnvironment SessionOnDesktop::DesktopEnvironment() {
    QProcessEnvironment env = SessionEnvironment();
    env.remove(QStringLiteral("PELIO_MESSAGE_ANSWERS"));
    env.insert(QStringLiteral("PELIO_MESSAGE_SHOW"), QStringLiteral("1"));
    accessibility->AddTo(env);
    return env;
}

QProcess& SessionOnDesktop::StartOnDesktop(const QStringList& args) {
    return Start(args, DesktopEnvironment());
}

QProcess& SessionOnDesktop::StartAndConnectOnDesktop() {
    QProcess& program = StartOnDesktop({QStringLiteral("1234/My+Company/홍길동/010-1234-5678/hong")});
    // Through the accessibility tree, not keys typed into the list: on a busy machine the keys may
    // come before the list has the focus, and press another button.
    EXPECT_TRUE(WaitFor([&] { return Log(program, "agent list filled 2"); }, kWindowWaitMs))
        << log.constData();
    EXPECT_TRUE(WaitFor([&] { return RequestFirstAgent(); }, kWindowWaitMs));
    // The question "... 상담원에게 원격지원을 요청하시겠습니까?" is a real box here: Yes is its default.
    EXPECT_TRUE(WaitFor([&] { return Messages().contains(QStringLiteral("원격지원을 요청하시겠습니까?")); },
                        kWindowWaitMs));
    EXPECT_TRUE(WaitFor(
        [&] {
            const QList<unsigned long> boxes = WindowsTitled(util::kAppTitle);
            // A key may come before the box has the focus: pressed again until the box is gone.
            return !boxes.isEmpty() && KeyInWindow(boxes.first(), QStringLiteral("y")) &&
                   WaitFor([&] { return WindowsTitled(util::kAppTitle).isEmpty(); }, 2000);
        },
        kWindowWaitMs));
    return program;
}

QList<unsigned long> SessionOnDesktop::WindowsTitled(const QString& title) const {
    QList<unsigned long> found;
    for (const TitledWindow& window : TitledWindows())
        if (window.title == title) found << window.id;
    return found;
}

QStringList SessionOnDesktop::DesktopTitles() const {
    QStringList titles;
    for (const TitledWindow& window : TitledWindows())
        if (!window.title.isEmpty()) titles << window.title;
    return titles;
}

QString SessionOnDesktop::MainTitle() const {
    for (const QString& title : DesktopTitles())
        if (title.startsWith(kMainTitle)) return title;
    return QString();
}

bool SessionOnDesktop::AnswersPing(const QString& title, int ms) const {
    const QList<unsigned long> windows = WindowsTitled(title);
    return !windows.isEmpty() && AnswersPingOf(windows.first(), ms);
}

bool SessionOnDesktop::KeyInWindow(unsigned long window, const QString& key) const {
    // Typed through XTest into the activated window, as a person's keys come.
    return Xdo({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(window)}) &&
           Xdo({QStringLiteral("key"), key});
}

bool SessionOnDesktop::StillRuns(QProcess& program) {
    if (program.state() == QProcess::Running) return true;
    log += program.readAllStandardError();
    ADD_FAILURE() << "the program ended: " << (program.exitStatus() == QProcess::CrashExit ? "crash" : "exit")
                  << " status " << program.exitCode() << "\n"
                  << log.right(6000).constData();
    return false;
}

qint64 SessionOnDesktop::ResidentKiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    static const QRegularExpression rss(QStringLiteral("VmRSS:\\s+(\\d+)"));
    const QRegularExpressionMatch m = rss.match(QString::fromLatin1(status.readAll()));
    return m.hasMatch() ? m.captured(1).toLongLong() : 0;
}

namespace {

// One call over the accessibility bus with gdbus; its printed reply, empty when it failed.
QString AtSpiCall(const QString& address, const QString& bus, const QString& path, const QString& method,
                  const QStringList& args = {}) {
    QProcess call;
    call.start(
        QStringLiteral("gdbus"),
        QStringList{QStringLiteral("call"), QStringLiteral("--address"), address, QStringLiteral("--dest"),
                    bus, QStringLiteral("--object-path"), path, QStringLiteral("--method"), method} +
            args);
    if (!call.waitForFinished(10000) || call.exitCode() != 0) return QString();
    return QString::fromUtf8(call.readAllStandardOutput()).trimmed();
}

QList<AccessibleNode> AtSpiChildren(const QString& address, const AccessibleNode& node) {
    static const QRegularExpression child(QStringLiteral("\\('([^']*)', (?:objectpath )?'([^']*)'\\)"));
    QList<AccessibleNode> children;
    const QString reply =
        AtSpiCall(address, node.bus, node.path, QStringLiteral("org.a11y.atspi.Accessible.GetChildren"));
    for (auto it = child.globalMatch(reply); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        children.append({m.captured(1), m.captured(2)});
    }
    return children;
}

QString AtSpiText(const QString& address, const AccessibleNode& node, const QString& method,
                  const QStringList& args = {}) {
    // A string reply prints as ('text',), a property as (<'text'>,).
    static const QRegularExpression text(QStringLiteral("^\\(<?'(.*)'>?,\\)$"));
    const QRegularExpressionMatch m = text.match(AtSpiCall(address, node.bus, node.path, method, args));
    return m.hasMatch() ? m.captured(1) : QString();
}

// The first word of the object's state set (bit n is AT-SPI state n).
quint32 AtSpiState(const QString& address, const AccessibleNode& node) {
    static const QRegularExpression words(QStringLiteral("\\[uint32 (\\d+)"));
    const QRegularExpressionMatch m = words.match(
        AtSpiCall(address, node.bus, node.path, QStringLiteral("org.a11y.atspi.Accessible.GetState")));
    return m.hasMatch() ? m.captured(1).toUInt() : 0;
}

constexpr quint32 kAtSpiEnabled = 1u << 8, kAtSpiSelected = 1u << 23;

}  // namespace

QString AccessibilityBus::AtSpiAddress() const {
    static const QRegularExpression reply(QStringLiteral("^\\('(.*)',\\)$"));
    const QRegularExpressionMatch m =
        reply.match(AtSpiCall(m_address, QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                              QStringLiteral("org.a11y.Bus.GetAddress")));
    return m.hasMatch() ? m.captured(1) : QString();
}

bool SessionOnDesktop::AnswersPingOf(unsigned long window, int ms) const {
    // A connection of its own: the reply goes to the root window, which it watches.
    Display* d = XOpenDisplay(display.name().toLatin1().constData());
    if (!d) return false;
    const Window root = DefaultRootWindow(d);
    // Qt sends the reply with the structure-notify mask, other programs with the substructure one.
    XSelectInput(d, root, StructureNotifyMask | SubstructureNotifyMask);
    const Atom protocols = XInternAtom(d, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(d, "_NET_WM_PING", False);
    const long stamp = QDateTime::currentMSecsSinceEpoch() & 0x7fffffff;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(ping);
    event.xclient.data.l[1] = stamp;
    event.xclient.data.l[2] = static_cast<long>(window);
    XSendEvent(d, window, False, NoEventMask, &event);
    XFlush(d);
    bool answered = false;
    const QDeadlineTimer deadline(ms);
    while (!answered && !deadline.hasExpired()) {
        while (XPending(d) && !answered) {
            XEvent reply;
            XNextEvent(d, &reply);
            answered = reply.type == ClientMessage && reply.xclient.message_type == protocols &&
                       static_cast<Atom>(reply.xclient.data.l[0]) == ping && reply.xclient.data.l[1] == stamp;
        }
        if (!answered) WaitFor([] { return false; }, 10);
    }
    XCloseDisplay(d);
    return answered;
}

bool SessionOnDesktop::KeysInActiveWindow(unsigned long window, const QStringList& keys, int ms) const {
    auto* d = static_cast<Display*>(display.display());
    const Atom active = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    const auto isActive = [&] {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        bool is = false;
        if (XGetWindowProperty(d, DefaultRootWindow(d), active, 0, 1, False, AnyPropertyType, &type, &format,
                               &items, &after, &data) == Success &&
            data && items > 0 && format == 32)
            is = static_cast<unsigned long>(*reinterpret_cast<long*>(data)) == window;
        if (data) XFree(data);
        return is;
    };
    // Without --sync: a window that never becomes active (a modal window of the same program takes the
    // focus instead) must not hold the test.
    if (!isActive()) Xdo({QStringLiteral("windowactivate"), QString::number(window)});
    if (!WaitFor(isActive, ms)) return false;
    return keys.isEmpty() ||
           Xdo(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("30")} + keys);
}

std::optional<AccessibleNode> SessionOnDesktop::FindAccessible(const QString& name) const {
    const QString address = accessibility ? accessibility->AtSpiAddress() : QString();
    if (address.isEmpty()) return std::nullopt;
    // The registry lists the programs; under each, its windows and their controls.
    QList<AccessibleNode> level = AtSpiChildren(address, {QStringLiteral("org.a11y.atspi.Registry"),
                                                          QStringLiteral("/org/a11y/atspi/accessible/root")});
    for (int depth = 0; depth < 6 && !level.isEmpty(); ++depth) {
        QList<AccessibleNode> next;
        for (const AccessibleNode& node : level) {
            if (AtSpiText(address, node, QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                          {QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("Name")}) == name)
                return node;
            next += AtSpiChildren(address, node);
        }
        level = next;
    }
    return std::nullopt;
}

QStringList SessionOnDesktop::AccessibleTopLevels(const QString& program) const {
    const QString address = accessibility ? accessibility->AtSpiAddress() : QString();
    QStringList found;
    if (address.isEmpty()) return found;
    const AccessibleNode registry{QStringLiteral("org.a11y.atspi.Registry"),
                                  QStringLiteral("/org/a11y/atspi/accessible/root")};
    const QStringList name{QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("Name")};
    const QString get = QStringLiteral("org.freedesktop.DBus.Properties.Get");
    for (const AccessibleNode& application : AtSpiChildren(address, registry)) {
        if (AtSpiText(address, application, get, name) != program) continue;
        for (const AccessibleNode& window : AtSpiChildren(address, application))
            found << AtSpiText(address, window, QStringLiteral("org.a11y.atspi.Accessible.GetRoleName")) +
                         u' ' + AtSpiText(address, window, get, name);
    }
    return found;
}

bool SessionOnDesktop::DoAccessibleAction(const AccessibleNode& node, int action) const {
    const QString address = accessibility ? accessibility->AtSpiAddress() : QString();
    return !address.isEmpty() &&
           AtSpiCall(address, node.bus, node.path, QStringLiteral("org.a11y.atspi.Action.DoAction"),
                     {QString::number(action)}) == QStringLiteral("(true,)");
}

bool SessionOnDesktop::RequestFirstAgent() const {
    const QString address = accessibility ? accessibility->AtSpiAddress() : QString();
    const std::optional<AccessibleNode> list = FindAccessible(QStringLiteral("상담원 목록"));
    const std::optional<AccessibleNode> button = FindAccessible(QStringLiteral("지원요청..."));
    if (address.isEmpty() || !list || !button) return false;
    // The list's children are its column headers, then its cells row by row: the first item is the
    // first agent's name, the last one a cell of the last row.
    QList<AccessibleNode> items;
    for (const AccessibleNode& child : AtSpiChildren(address, *list))
        if (AtSpiText(address, child, QStringLiteral("org.a11y.atspi.Accessible.GetRoleName")) ==
            QStringLiteral("tree item"))
            items << child;
    if (items.isEmpty()) return false;
    const auto enabled = [&] { return (AtSpiState(address, *button) & kAtSpiEnabled) != 0; };
    // Toggling a selected row would clear it.
    if (!(AtSpiState(address, items.first()) & kAtSpiSelected)) DoAccessibleAction(items.first());
    // After a session the button waits for a choice of agent: another row, then the first again.
    if (!enabled() && items.size() > 1) {
        DoAccessibleAction(items.last());
        DoAccessibleAction(items.first());
    }
    return enabled() && DoAccessibleAction(*button);
}

}  // namespace pelio::test
