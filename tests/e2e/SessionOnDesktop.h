// The session tests on a desktop as customers have it: openbox manages the windows, and the
// accessibility bus runs with Qt's bridge on (as under any desktop with a screen reader). Message boxes
// are real windows here: each is still logged, and the test answers it at the screen (or never).
#pragma once

#include "SessionOnDisplay.h"

#include <QRegularExpression>
#include <QTcpServer>

#include <functional>
#include <optional>

namespace pelio::test {

// A private session bus with the accessibility bus launcher on it, for the programs of one test.
class AccessibilityBus {
  public:
    explicit AccessibilityBus(const QString& display);
    ~AccessibilityBus();
    bool ok() const { return !m_address.isEmpty(); }
    // DBUS_SESSION_BUS_ADDRESS and the variables that turn Qt's accessibility bridge on.
    void AddTo(QProcessEnvironment& env) const;
    // The address of the accessibility bus itself (where the programs' accessible objects are).
    QString AtSpiAddress() const;

  private:
    QProcess m_bus;
    QProcess m_launcher;
    QString m_address;
};

// A port on 127.0.0.1 where nothing listens (1 when none could be found).
inline int ClosedPort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) return 1;
    const int port = server.serverPort();
    server.close();
    return port;
}

// A control in the accessibility tree: the bus name of its program and its object path.
struct AccessibleNode {
    QString bus;
    QString path;
};

class SessionOnDesktop : public SessionOnDisplay {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The session environment with the accessibility bus, and boxes logged and shown.
    QProcessEnvironment DesktopEnvironment();
    QProcess& StartOnDesktop(const QStringList& args);
    QProcess& StartAndConnectOnDesktop();

    // The X windows with exactly this title (openbox's frames looked through).
    QList<unsigned long> WindowsTitled(const QString& title) const;
    // The titles of the windows on the desktop (openbox's frames looked through).
    QStringList DesktopTitles() const;
    // The agent list window's current title (it names the session's state); empty without it.
    QString MainTitle() const;
    // Whether the window with the title answers the window manager's ping (_NET_WM_PING) within ms:
    // only a program whose window thread runs its events does.
    bool AnswersPing(const QString& title, int ms) const;
    // Activates the window and presses the key there.
    bool KeyInWindow(unsigned long window, const QString& key) const;
    // Whether the process still runs; its exit is reported with its status and standard error.
    bool StillRuns(QProcess& program);
    // Resident memory of the process, in KiB (0 when unknown).
    static qint64 ResidentKiB(qint64 pid);

    // Whether this window answers the window manager's ping within ms.
    bool AnswersPingOf(unsigned long window, int ms) const;
    // Asks the window manager to activate the window and, once it is the active one (within ms), presses
    // the keys (xdotool names; none: only activates) there; false when it did not become active.
    bool KeysInActiveWindow(unsigned long window, const QStringList& keys, int ms) const;

    // The programs' controls as a screen reader sees them, over the accessibility bus (AT-SPI).
    // The first control with this accessible name, breadth first over every program's windows.
    std::optional<AccessibleNode> FindAccessible(const QString& name) const;
    // Every top-level object of the named program on the accessibility bus as "role name" (AT-SPI
    // role names: "frame", "dialog", "filler", ...; the name may be empty).
    QStringList AccessibleTopLevels(const QString& program) const;
    // Runs the control's action number `action` (a button's "Press", a list item's "Toggle").
    bool DoAccessibleAction(const AccessibleNode& node, int action = 0) const;
    // Chooses the first agent of the list and presses 지원요청 through the accessibility tree, without
    // the keyboard; false when the list has no agent or the button stays disabled. After a session the
    // button waits for the agent to be chosen again: another row is chosen first, then the first one.
    bool RequestFirstAgent() const;

    QProcess windowManager;
    std::unique_ptr<AccessibilityBus> accessibility;
};

}  // namespace pelio::test
