#include "platform/LinuxInstanceRegistry.h"
#include "platform/LinuxSystemIdentity.h"
#include "platform/LinuxWindowManager.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QWidget>

#include <sys/wait.h>
#include <unistd.h>

using namespace pelio::platform;
using pelio::test::TempFolder;

namespace {

void WriteFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

// A sysfs tree with network adapters: name -> (type, address, has device link).
void AddAdapter(const TempFolder& root, const QString& name, const QByteArray& type,
                const QByteArray& address, bool physical) {
    const QString base = root.path() + QStringLiteral("/class/net/") + name;
    WriteFile(base + QStringLiteral("/type"), type + "\n");
    WriteFile(base + QStringLiteral("/address"), address + "\n");
    if (physical) QDir().mkpath(base + QStringLiteral("/device"));
}

}  // namespace

TEST(LinuxSystemIdentity, AdapterSkipsLoopbackAndZeroAndPrefersPhysical) {
    TempFolder sys;
    AddAdapter(sys, QStringLiteral("lo"), "772", "00:00:00:00:00:00", false);
    AddAdapter(sys, QStringLiteral("docker0"), "1", "02:42:ac:11:00:01", false);
    AddAdapter(sys, QStringLiteral("dummy0"), "1", "00:00:00:00:00:00", true);
    AddAdapter(sys, QStringLiteral("wlan0"), "1", "00:1a:2b:3c:4d:5f", true);
    AddAdapter(sys, QStringLiteral("eth0"), "1", "00:1a:2b:3c:4d:5e", true);
    LinuxSystemIdentity id(sys.path());
    std::array<std::uint8_t, 6> expected{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    EXPECT_EQ(id.AdapterAddress(), expected);
}

TEST(LinuxSystemIdentity, AdapterFallsBackToVirtualThenToZeros) {
    TempFolder sys;
    AddAdapter(sys, QStringLiteral("lo"), "772", "00:00:00:00:00:00", false);
    AddAdapter(sys, QStringLiteral("veth1"), "1", "garbage", false);
    EXPECT_EQ(LinuxSystemIdentity(sys.path()).AdapterAddress(), (std::array<std::uint8_t, 6>{}));
    AddAdapter(sys, QStringLiteral("veth0"), "1", "0a:0b:0c:0d:0e:0f", false);
    std::array<std::uint8_t, 6> expected{0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
    EXPECT_EQ(LinuxSystemIdentity(sys.path()).AdapterAddress(), expected);
    TempFolder empty;
    EXPECT_EQ(LinuxSystemIdentity(empty.path()).AdapterAddress(), (std::array<std::uint8_t, 6>{}));
}

TEST(LinuxSystemIdentity, SerialFromUuidTakesFirst32Bits) {
    EXPECT_EQ(LinuxSystemIdentity::SerialFromUuid(QStringLiteral("1234-ABCD")), 0x1234ABCDu);
    EXPECT_EQ(LinuxSystemIdentity::SerialFromUuid(QStringLiteral("0f3c9a1e-77b2-4c1d-9e0a-1b2c3d4e5f60")),
              0x0F3C9A1Eu);
    EXPECT_EQ(LinuxSystemIdentity::SerialFromUuid(QStringLiteral("12AB")), 0u);
    EXPECT_EQ(LinuxSystemIdentity::SerialFromUuid(QStringLiteral("12zz-0000")), 0u);
}

TEST(LinuxSystemIdentity, RealVolumeSerialIsStable) {
    LinuxSystemIdentity id;
    EXPECT_EQ(id.VolumeSerial(QStringLiteral("C:\\")),
              LinuxSystemIdentity().VolumeSerial(QStringLiteral("C:\\")));
}

TEST(LinuxSystemIdentity, VersionFromKernelRelease) {
    SystemVersion v = LinuxSystemIdentity::VersionFromRelease(QStringLiteral("6.1.0-18-amd64"));
    EXPECT_EQ(v.major, 6);
    EXPECT_EQ(v.minor, 1);
    EXPECT_EQ(v.platformId, 2);
    v = LinuxSystemIdentity::VersionFromRelease(QStringLiteral("weird"));
    EXPECT_EQ(v.major, 0);
    EXPECT_EQ(v.platformId, 2);
}

TEST(LinuxInstanceRegistry, FindsAnotherProcessOfTheSameFile) {
    TempFolder proc;
    const QString exe = proc.file(QStringLiteral("bin/pelio"));
    const QString other = proc.file(QStringLiteral("bin/other"));
    WriteFile(exe, "x");
    WriteFile(other, "y");
    auto link = [&](const QString& entry, const QString& target) {
        QDir().mkpath(proc.file(entry));
        ASSERT_TRUE(QFile::link(target, proc.file(entry + QStringLiteral("/exe"))));
    };
    link(QStringLiteral("self"), exe);
    link(QString::number(getpid()), exe);  // this process itself never counts
    link(QStringLiteral("4242"), other);
    QDir().mkpath(proc.file(QStringLiteral("sys")));  // non-process entries are skipped
    LinuxInstanceRegistry registry(proc.path());
    EXPECT_FALSE(registry.PreviousInstanceExists());
    link(QStringLiteral("4243"), exe);
    EXPECT_TRUE(registry.PreviousInstanceExists());
}

TEST(LinuxInstanceRegistry, RealChildOfTheSameFileCounts) {
    // A forked child runs the same executable file; it waits on a pipe until we close it.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[1]);
        char c;
        (void)!read(fds[0], &c, 1);
        _exit(0);
    }
    close(fds[0]);
    EXPECT_TRUE(LinuxInstanceRegistry().PreviousInstanceExists());
    close(fds[1]);
    int status = 0;
    waitpid(child, &status, 0);
}

TEST(LinuxWindowManager, OffscreenSeesOwnWindowsOnly) {
    LinuxWindowManager wm;
    QWidget hiddenNeverShown;
    hiddenNeverShown.setWindowTitle(QStringLiteral("Never shown window"));
    QWidget shown;
    shown.setWindowTitle(QStringLiteral("Pelio 원격지원 고객용 - 테스트"));
    shown.show();
    EXPECT_EQ(wm.FindWindowByTitle(QStringLiteral("never shown")), 0u);
    const WindowHandle h = wm.FindWindowByTitle(QStringLiteral("pelio 원격지원"));
    EXPECT_NE(h, 0u);
    EXPECT_EQ(h, wm.HandleOf(shown.windowHandle()));
    EXPECT_EQ(wm.FindWindowByTitle(QStringLiteral("no such title")), 0u);
    shown.showMinimized();
    wm.RestoreAndActivate(h);  // the window system reports the new state to the widget
    EXPECT_TRUE(pelio::test::WaitFor([&] { return !shown.isMinimized(); }, 5000));
}
