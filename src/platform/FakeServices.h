#pragma once

#include "platform/Services.h"

#include <QStringList>

#include <map>
#include <vector>

// Recording doubles of the platform services, for tests: each answers from fields the test sets and
// records the calls it receives.
namespace pelio::platform {

class FakeSystemIdentity : public SystemIdentity {
  public:
    std::array<std::uint8_t, 6> adapter{};
    std::int32_t serial = 0;
    SystemVersion version{6, 1, 2};
    QStringList volumeQueries;  // the roots asked for

    std::array<std::uint8_t, 6> AdapterAddress() override { return adapter; }
    std::int32_t VolumeSerial(const QString& root) override {
        volumeQueries << root;
        return serial;
    }
    SystemVersion Version() override { return version; }
};

// A desktop of named windows, listed from the top of the stacking order.
class FakeWindowManager : public WindowManager {
  public:
    struct Window {
        WindowHandle handle;
        QString title;
        bool minimised = false;
    };
    std::vector<Window> windows;
    WindowHandle foreground = 0;
    QStringList calls;  // "find:TEXT", "restore:HANDLE", "activate:HANDLE"

    WindowHandle FindWindowByTitle(const QString& text) override {
        calls << QStringLiteral("find:") + text;
        for (const Window& w : windows)
            if (!w.title.isEmpty() && w.title.left(255).toUpper().contains(text.toUpper())) return w.handle;
        return 0;
    }
    void RestoreAndActivate(WindowHandle window) override {
        calls << QStringLiteral("restore:%1").arg(window);
        for (Window& w : windows)
            if (w.handle == window) {
                w.minimised = false;
                foreground = window;
            }
    }
    void ActivateWindow(WindowHandle window) override {
        calls << QStringLiteral("activate:%1").arg(window);
        for (const Window& w : windows)
            if (w.handle == window) foreground = window;
    }
    WindowHandle ForegroundWindow() override { return foreground; }
    WindowHandle HandleOf(const QWindow* window) override {
        auto it = handles.find(window);
        return it == handles.end() ? 0 : it->second;
    }
    std::map<const QWindow*, WindowHandle> handles;  // our own windows as the test names them
};

class FakeInstanceRegistry : public InstanceRegistry {
  public:
    bool previous = false;
    int queries = 0;
    bool PreviousInstanceExists() override {
        ++queries;
        return previous;
    }
};

// Records every target and answers with `result`.
class FakeShell : public Shell {
  public:
    bool result = true;
    QStringList opened;
    bool Open(const QString& target) override {
        opened << target;
        return result;
    }
};

// Records the file-manager calls: "default", "folder:PATH", "item:PATH".
class FakeFileManager : public FileManager {
  public:
    QStringList calls;
    void ShowDefault() override { calls << QStringLiteral("default"); }
    void ShowFolder(const QString& folder) override { calls << QStringLiteral("folder:") + folder; }
    void ShowItem(const QString& file) override { calls << QStringLiteral("item:") + file; }
};

class FakeInputMode : public InputMode {
  public:
    QStringList calls;  // "hangul" or "alphanumeric", in order
    void SetHangul(bool hangul) override {
        calls << (hangul ? QStringLiteral("hangul") : QStringLiteral("alphanumeric"));
    }
};

class FakeUserFolders : public UserFolders {
  public:
    QString documents;  // what DocumentsFolder answers
    QString DocumentsFolder() override { return documents; }
};

// Records the desktop commands: "run:LINE", "toggle-desktop", "hangul-key", "sound:PATH", "flash";
// answers with the results the test sets.
class FakeDesktop : public Desktop {
  public:
    QStringList calls;
    bool runResult = true;
    bool toggleResult = true;
    bool hangulResult = true;
    bool RunCommandLine(const QString& commandLine) override {
        calls << QStringLiteral("run:") + commandLine;
        return runResult;
    }
    bool ToggleShowDesktop() override {
        calls << QStringLiteral("toggle-desktop");
        return toggleResult;
    }
    bool PressHangulKey() override {
        calls << QStringLiteral("hangul-key");
        return hangulResult;
    }
    void PlaySound(const QString& path) override { calls << QStringLiteral("sound:") + path; }
    void FlashWindow(QWindow*) override { calls << QStringLiteral("flash"); }
};

// All fakes together, with typed access for the test.
struct FakeServices {
    FakeServices();
    FakeSystemIdentity* identity;
    FakeWindowManager* windows;
    FakeInstanceRegistry* instances;
    FakeShell* shell;
    FakeFileManager* files;
    ManualClock* clock;  // starts at 0 and moves only when the test advances it
    FakeInputMode* inputMode;
    FakeUserFolders* folders;
    FakeDesktop* desktop;
    Services services;
};

}  // namespace pelio::platform
