// The layering of the source tree, checked on the files themselves: every quoted #include under src/,
// components/ and tools/ points down the layers (platform <- util/core <- util/gui, app <- web <- the
// windows <- the program; components use nothing of src/; tools use no window code), and the tools
// that have no windows load neither Qt Widgets nor the browser engine.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

namespace {

const QString kSourceRoot = QStringLiteral(PELIO_SOURCE_DIR);
const QStringList kWindowFolders = {QStringLiteral("history"), QStringLiteral("request"),
                                    QStringLiteral("session"), QStringLiteral("transfer")};

// The unit a source file belongs to, from its path relative to the source root.
QString UnitOfFile(const QString& relative) {
    const QStringList parts = relative.split(u'/');
    if (parts[0] == u"components") return QStringLiteral("components");
    if (parts[0] == u"tools") return QStringLiteral("tools");
    if (parts.size() == 2) return QStringLiteral("program");  // src/main.cpp and the first window
    if (parts[1] == u"util" && parts.size() > 3) return QStringLiteral("util/") + parts[2];
    if (kWindowFolders.contains(parts[1])) return QStringLiteral("windows");
    return parts[1];
}

// The unit a quoted include names; empty when it names nothing known.
QString UnitOfInclude(const QString& include) {
    const QString first = include.section(u'/', 0, 0);
    if (first == u"util") return QStringLiteral("util/") + include.section(u'/', 1, 1);
    if (kWindowFolders.contains(first)) return QStringLiteral("windows");
    if (first == u"platform" || first == u"app" || first == u"web") return first;
    if (QFileInfo(kSourceRoot + QStringLiteral("/components/") + first).isDir())
        return QStringLiteral("components");
    return QString();
}

const QHash<QString, QSet<QString>>& Allowed() {
    static const QHash<QString, QSet<QString>> allowed = [] {
        QHash<QString, QSet<QString>> a;
        a[QStringLiteral("platform")] = {QStringLiteral("platform")};
        a[QStringLiteral("util/core")] =
            a[QStringLiteral("platform")] + QSet<QString>{QStringLiteral("util/core")};
        a[QStringLiteral("util/gui")] =
            a[QStringLiteral("util/core")] + QSet<QString>{QStringLiteral("util/gui")};
        a[QStringLiteral("app")] = a[QStringLiteral("util/core")] + QSet<QString>{QStringLiteral("app")};
        a[QStringLiteral("web")] =
            a[QStringLiteral("util/gui")] + a[QStringLiteral("app")] + QSet<QString>{QStringLiteral("web")};
        a[QStringLiteral("windows")] =
            a[QStringLiteral("web")] + QSet<QString>{QStringLiteral("windows"), QStringLiteral("components")};
        a[QStringLiteral("program")] =
            a[QStringLiteral("windows")] + QSet<QString>{QStringLiteral("program")};
        a[QStringLiteral("components")] = {QStringLiteral("components")};
        a[QStringLiteral("tools")] =
            a[QStringLiteral("app")] + QSet<QString>{QStringLiteral("web"), QStringLiteral("components")};
        return a;
    }();
    return allowed;
}

}  // namespace

TEST(Layering, EveryIncludePointsDownTheLayers) {
    static const QRegularExpression includeLine(QStringLiteral(R"re(^\s*#\s*include\s*"([^"]+)")re"),
                                                QRegularExpression::MultilineOption);
    QStringList wrong;
    int files = 0, includes = 0;
    for (const QString& top : {QStringLiteral("src"), QStringLiteral("components"), QStringLiteral("tools")}) {
        QDirIterator it(kSourceRoot + u'/' + top, {QStringLiteral("*.h"), QStringLiteral("*.cpp")},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString relative = path.mid(kSourceRoot.size() + 1);
            const QString unit = UnitOfFile(relative);
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << relative.toStdString();
            ++files;
            const QString text = QString::fromUtf8(file.readAll());
            for (auto m = includeLine.globalMatch(text); m.hasNext();) {
                const QString include = m.next().captured(1);
                ++includes;
                if (!include.contains(u'/')) {  // a header beside the file
                    if (!QFileInfo::exists(QFileInfo(path).absolutePath() + u'/' + include))
                        wrong << relative + QStringLiteral(": no such header beside it: ") + include;
                    continue;
                }
                const QString target = UnitOfInclude(include);
                if (target.isEmpty())
                    wrong << relative + QStringLiteral(": includes an unknown place: ") + include;
                else if (!Allowed().value(unit).contains(target))
                    wrong << relative + QStringLiteral(" (") + unit + QStringLiteral(") must not include ") +
                                 include;
            }
        }
    }
    EXPECT_GT(files, 50);  // the tree was found
    EXPECT_GT(includes, 100);
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join(u'\n').toStdString();
}

TEST(Layering, ToolsWithoutWindowsLoadNoWidgetsAndNoBrowserEngine) {
    for (const char* program : {PELIO_AGENT_EXECUTABLE, PELIO_SERVICE_EXECUTABLE, PELIO_RECGEN_EXECUTABLE}) {
        SCOPED_TRACE(program);
        QProcess readelf;
        readelf.start(QStringLiteral("readelf"),
                      {QStringLiteral("--dynamic"), QString::fromLocal8Bit(program)});
        ASSERT_TRUE(readelf.waitForFinished(30000));
        ASSERT_EQ(readelf.exitCode(), 0);
        const QString dynamic = QString::fromLocal8Bit(readelf.readAllStandardOutput());
        ASSERT_TRUE(dynamic.contains(QStringLiteral("libQt6Core")));  // the list was read
        EXPECT_FALSE(dynamic.contains(QStringLiteral("libQt6Widgets")));
        EXPECT_FALSE(dynamic.contains(QStringLiteral("libQt6WebEngine")));
    }
}
