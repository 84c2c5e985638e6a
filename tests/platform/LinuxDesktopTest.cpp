#include "platform/LinuxDesktop.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/Wait.h"
#include "support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace pelio::platform;
using pelio::test::TempFolder;
using pelio::test::WaitFor;
using pelio::test::XvfbDisplay;

namespace {

constexpr KeySym kHangul = 0xff31;

QProcessEnvironment EnvironmentOn(const XvfbDisplay& display) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display.name());
    return env;
}

// A 32-bit property of the root window; -1 when it is missing.
long RootCardinal(Display* d, const char* name) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long value = -1;
    if (XGetWindowProperty(d, DefaultRootWindow(d), XInternAtom(d, name, False), 0, 1, False, AnyPropertyType,
                           &type, &format, &count, &after, &data) == Success &&
        data) {
        if (format == 32 && count == 1) value = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
        XFree(data);
    }
    return value;
}

// The keysym the keycode gives unshifted, as the server maps it now.
KeySym UnshiftedKeysym(Display* d, int keycode) {
    int per = 0;
    KeySym* syms = XGetKeyboardMapping(d, static_cast<KeyCode>(keycode), 1, &per);
    const KeySym sym = syms && per > 0 ? syms[0] : NoSymbol;
    if (syms) XFree(syms);
    return sym;
}

}  // namespace

TEST(LinuxDesktop, SplitsACommandLineAsAShellDoes) {
    auto split = [](const char* line) { return LinuxDesktop::SplitCommandLine(QString::fromUtf8(line)); };
    EXPECT_EQ(split(" a\tb  c \n"), QStringList({"a", "b", "c"}));
    EXPECT_EQ(split(R"(x"y z"w 'p "q" \n' "\"\\\$\n")"), QStringList({"xy zw", R"(p "q" \n)", R"("\$\n)"}));
    EXPECT_EQ(split(R"(a\ b \'c "" '')"), QStringList({"a b", "'c", "", ""}));
    EXPECT_EQ(split("one\\\ntwo"), QStringList({"onetwo"}));
    EXPECT_EQ(split("a|b;c>d $HOME *"), QStringList({"a|b;c>d", "$HOME", "*"}));
    EXPECT_EQ(split(""), QStringList());
    EXPECT_FALSE(split("'open"));
    EXPECT_FALSE(split(R"("open \")"));
    EXPECT_FALSE(split("end\\"));
}

TEST(LinuxDesktop, RunsAProgramWithItsArgumentsOnItsDisplay) {
    XvfbDisplay display;
    if (!display.ok()) GTEST_SKIP() << "Xvfb could not start";
    TempFolder folder;
    const QString script = folder.file(QStringLiteral("my args.sh"));
    const QString out = folder.file(QStringLiteral("args"));
    pelio::test::WriteFileBytes(script,
                                "#!/bin/sh\n"
                                "{ for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\n"
                                "  printf '%s %s\\n' \"$DISPLAY\" \"$DESKTOP_STARTUP_ID\"; } > \"$0.part\"\n"
                                "mv \"$0.part\" \"$(dirname \"$0\")/args\"\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    LinuxDesktop desktop(display.name());
    ASSERT_TRUE(
        desktop.RunCommandLine(QStringLiteral("'%1' \"two words\" 'say \"hi\"' a\\ b \"\"").arg(script)));
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(out); }));
    const QStringList lines = QString::fromUtf8(pelio::test::ReadFileBytes(out)).split(u'\n');
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines.mid(0, 4), QStringList({"[two words]", R"([say "hi"])", "[a b]", "[]"}));
    EXPECT_TRUE(lines[4].startsWith(display.name() + QStringLiteral(" pelio-"))) << lines[4].toStdString();
    EXPECT_TRUE(lines[4].contains(QStringLiteral("_TIME"))) << lines[4].toStdString();

    EXPECT_FALSE(desktop.RunCommandLine(QString()));
    EXPECT_FALSE(desktop.RunCommandLine(QStringLiteral("  \t ")));
    EXPECT_FALSE(desktop.RunCommandLine(QStringLiteral("\"\" x")));
    EXPECT_FALSE(desktop.RunCommandLine(QStringLiteral("'%1").arg(script)));  // unterminated quote
    EXPECT_FALSE(desktop.RunCommandLine(folder.file(QStringLiteral("no-such-program"))));
    EXPECT_FALSE(desktop.RunCommandLine(QStringLiteral("pelio-no-such-program-on-the-path")));
}

TEST(LinuxDesktop, WithoutAnXDisplayTheXCommandsFailQuietly) {
    LinuxDesktop desktop;  // tests run Qt offscreen: no X display is used
    EXPECT_FALSE(desktop.ToggleShowDesktop());
    EXPECT_FALSE(desktop.PressHangulKey());
    desktop.PlaySound(QStringLiteral("no-such-sound.wav"));
    desktop.FlashWindow(nullptr);
    EXPECT_FALSE(LinuxDesktop(QStringLiteral(":65000")).PressHangulKey());
}

TEST(LinuxDesktop, TogglesTheDesktopOnlyWhileAWindowManagerRuns) {
    XvfbDisplay display;
    if (!display.ok()) GTEST_SKIP() << "Xvfb could not start";
    auto* d = static_cast<Display*>(display.display());
    LinuxDesktop desktop(display.name());
    EXPECT_FALSE(desktop.ToggleShowDesktop());  // no window manager

    QProcess openbox;
    QProcessEnvironment env = EnvironmentOn(display);
    env.insert(QStringLiteral("XDG_DATA_DIRS"), QStringLiteral("/usr/share"));  // its themes
    openbox.setProcessEnvironment(env);
    openbox.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    ASSERT_TRUE(WaitFor([&] { return RootCardinal(d, "_NET_SHOWING_DESKTOP") == 0; }, 30000));
    // openbox sets its properties before it handles requests: once it has framed a new window it does.
    // A window mapped while it was still starting up may be missed: it is mapped again until framed.
    const Window probe = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0, 0, 0);
    QElapsedTimer sinceMap;
    ASSERT_TRUE(WaitFor(
        [&] {
            Window root = 0, parent = 0, *children = nullptr;
            unsigned int count = 0;
            if (XQueryTree(d, probe, &root, &parent, &children, &count) && children) XFree(children);
            if (parent != 0 && parent != root) return true;
            if (!sinceMap.isValid() || sinceMap.elapsed() > 1000) {
                XUnmapWindow(d, probe);
                XMapWindow(d, probe);
                XFlush(d);
                sinceMap.start();
            }
            return false;
        },
        30000))
        << openbox.readAll().constData();
    ASSERT_TRUE(desktop.ToggleShowDesktop());
    EXPECT_TRUE(WaitFor([&] { return RootCardinal(d, "_NET_SHOWING_DESKTOP") == 1; }));
    ASSERT_TRUE(desktop.ToggleShowDesktop());
    EXPECT_TRUE(WaitFor([&] { return RootCardinal(d, "_NET_SHOWING_DESKTOP") == 0; }));

    // A window manager killed leaves its properties on the root window behind.
    openbox.kill();
    openbox.waitForFinished(5000);
    EXPECT_TRUE(WaitFor([&] { return !desktop.ToggleShowDesktop(); }));
}

TEST(LinuxDesktop, PressesTheHangulKeyIntoTheFocusedWindowRemappingAKeyWhenNoneHasIt) {
    XvfbDisplay display;
    if (!display.ok()) GTEST_SKIP() << "Xvfb could not start";
    auto* d = static_cast<Display*>(display.display());
    const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 100, 100, 0, 0, 0);
    XSelectInput(d, w, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
    XMapWindow(d, w);
    XEvent ev{};
    ASSERT_TRUE(WaitFor([&] { return XCheckTypedWindowEvent(d, w, MapNotify, &ev); }));
    XSetInputFocus(d, w, RevertToParent, CurrentTime);
    XSync(d, False);

    // "press" and "release" of the Hangul key that reach the window, with the keycode pressed.
    int keycode = 0;
    auto hangulEvents = [&] {
        QStringList seen;
        WaitFor([&] {
            while (XCheckWindowEvent(d, w, KeyPressMask | KeyReleaseMask, &ev))
                if (UnshiftedKeysym(d, static_cast<int>(ev.xkey.keycode)) == kHangul) {
                    seen << (ev.type == KeyPress ? QStringLiteral("press") : QStringLiteral("release"));
                    keycode = static_cast<int>(ev.xkey.keycode);
                }
            return seen.size() >= 2;
        });
        return seen;
    };

    LinuxDesktop desktop(display.name());
    ASSERT_TRUE(desktop.PressHangulKey());
    EXPECT_EQ(hangulEvents(), QStringList({"press", "release"}));
    const int mapped = keycode;

    // No keycode carries the keysym any more (after the service has seen the mapping once).
    int minCode = 0, maxCode = 0, per = 0;
    XDisplayKeycodes(d, &minCode, &maxCode);
    for (int k = minCode; k <= maxCode; ++k) {
        KeySym* syms = XGetKeyboardMapping(d, static_cast<KeyCode>(k), 1, &per);
        if (std::find(syms, syms + per, kHangul) != syms + per) {
            std::replace(syms, syms + per, kHangul, static_cast<KeySym>(NoSymbol));
            XChangeKeyboardMapping(d, k, per, syms, 1);
        }
        XFree(syms);
    }
    XSync(d, False);
    ASSERT_TRUE(desktop.PressHangulKey());
    EXPECT_EQ(hangulEvents(), QStringList({"press", "release"}));
    EXPECT_NE(keycode, mapped);
}

TEST(LinuxDesktop, FlashSetsTheUrgencyHintAtOnceUntilTheWindowIsActive) {
    XvfbDisplay display;
    if (!display.ok()) GTEST_SKIP() << "Xvfb could not start";
    auto* d = static_cast<Display*>(display.display());
    QProcess probe;  // a window of Qt on the display, flashed, then blocked without running events
    QProcessEnvironment env = EnvironmentOn(display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    probe.setProcessEnvironment(env);
    probe.start(QStringLiteral(PELIO_FLASH_PROBE));
    QByteArray out;
    auto line = [&] {
        WaitFor([&] { return (out += probe.readAllStandardOutput()).contains('\n'); }, 30000);
        const QByteArray first = out.left(out.indexOf('\n') + 1);
        out.remove(0, first.size());
        return first.trimmed();
    };
    const Window w = line().toULong();
    ASSERT_NE(w, 0u);
    auto urgent = [&] {
        XWMHints* hints = XGetWMHints(d, w);
        const bool set = hints && (hints->flags & XUrgencyHint);
        if (hints) XFree(hints);
        return set;
    };
    EXPECT_TRUE(WaitFor(urgent));
    probe.write("activate\n");
    ASSERT_EQ(line(), "active");
    EXPECT_TRUE(WaitFor([&] { return !urgent(); }));
    probe.closeWriteChannel();
    EXPECT_TRUE(probe.waitForFinished(10000));
}
