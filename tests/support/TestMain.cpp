// The main() of every test binary. It prepares the environment that Qt and its browser engine need
// in tests (offscreen windows, no sandbox as root, temp folders instead of the home folder) and only
// creates the application object when tests actually run, not when CTest lists them.
#include "support/ScriptedDialogs.h"
#include "support/ScriptedMessageBoxes.h"
#include "util/core/KoreanTranslations.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>
#include <cstring>

namespace {

void SetIfUnset(const char* name, const QByteArray& value) {
    if (qEnvironmentVariableIsEmpty(name)) qputenv(name, value);
}

}  // namespace

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0) listing = true;
    ::testing::InitGoogleTest(&argc, argv);
    if (listing) return RUN_ALL_TESTS();

    // One private home for the whole run: settings, caches and runtime files land here.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/pelio-test-XXXXXX"));
    const QByteArray base = QFile::encodeName(home.path());
    for (const char* sub : {"/runtime", "/cache", "/config", "/data"})
        QDir().mkpath(home.path() + QLatin1String(sub));
    QFile::setPermissions(home.path() + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", base + "/runtime");
    qputenv("XDG_CACHE_HOME", base + "/cache");
    qputenv("XDG_CONFIG_HOME", base + "/config");
    qputenv("XDG_DATA_HOME", base + "/data");
    SetIfUnset("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    SetIfUnset("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");

    QApplication app(argc, argv);
    pelio::util::InstallKoreanTranslations(app);  // as the program does: Qt's own texts in Korean
    // A message box or dialog that no test expected fails the test instead of waiting for a click.
    pelio::test::InstallUnexpectedBoxGuard();
    pelio::test::InstallUnexpectedDialogGuard();
    return RUN_ALL_TESTS();
}
