// The layering of the source tree, checked on the files themselves: every quoted #include under src/,
// components/ and tools/ points down the layers (platform <- util/core <- util/gui, app <- web <- the
// windows <- the program; components use nothing of src/; tools use no window code), and the tools
// that have no windows load neither Qt Widgets nor the browser engine.
//
// A window folder (history, request, session, transfer) may also hold plain code: a file that uses no
// widget, directly or through what it includes (its .cpp counted with its header), such as the FTP
// client. Plain code stands at the level of web (it may also use components) and is open to the tools.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLibraryInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

namespace {

const QString kSourceRoot = QStringLiteral(PELIO_SOURCE_DIR);
const QStringList kWindowFolders = {QStringLiteral("history"), QStringLiteral("request"),
                                    QStringLiteral("session"), QStringLiteral("transfer")};

struct SourceFile {
    QStringList quoted;  // #include "..."
    QStringList angled;  // #include <...>
};

// Every source file under src/, components/ and tools/ by its path relative to the source root.
const QHash<QString, SourceFile>& Sources() {
    static const QHash<QString, SourceFile> sources = [] {
        static const QRegularExpression includeLine(
            QStringLiteral(R"re(^\s*#\s*include\s*([<"])([^">]+)[">])re"),
            QRegularExpression::MultilineOption);
        QHash<QString, SourceFile> all;
        for (const QString& top :
             {QStringLiteral("src"), QStringLiteral("components"), QStringLiteral("tools")}) {
            QDirIterator it(kSourceRoot + u'/' + top, {QStringLiteral("*.h"), QStringLiteral("*.cpp")},
                            QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString path = it.next();
                QFile file(path);
                if (!file.open(QIODevice::ReadOnly)) continue;
                SourceFile source;
                for (auto m = includeLine.globalMatch(QString::fromUtf8(file.readAll())); m.hasNext();) {
                    const auto match = m.next();
                    (match.captured(1) == u"\"" ? source.quoted : source.angled) << match.captured(2);
                }
                all.insert(path.mid(kSourceRoot.size() + 1), source);
            }
        }
        return all;
    }();
    return sources;
}

bool InWindowFolder(const QString& relative) {
    const QStringList parts = relative.split(u'/');
    return parts[0] == u"src" && parts.size() > 2 && kWindowFolders.contains(parts[1]);
}

// A Qt header of the widget or browser-engine modules.
bool IsWidgetHeader(const QString& angled) {
    static const QString qt = QLibraryInfo::path(QLibraryInfo::HeadersPath);
    for (const char* module : {"QtWidgets", "QtWebEngineWidgets", "QtWebEngineCore"})
        if (QFileInfo::exists(qt + u'/' + QLatin1String(module) + u'/' + angled)) return true;
    return false;
}

// Whether a file uses widgets, itself, through its .cpp or through what it includes.
bool UsesWidgets(const QString& relative, QSet<QString>& visiting) {
    static QHash<QString, bool> known;
    if (known.contains(relative)) return known[relative];
    if (visiting.contains(relative)) return false;  // an include cycle decides nothing more
    visiting.insert(relative);
    QStringList files{relative};
    if (relative.endsWith(QLatin1String(".h"))) files << relative.chopped(2) + QStringLiteral(".cpp");
    bool uses = false;
    for (const QString& f : files) {
        const SourceFile source = Sources().value(f);
        for (const QString& a : source.angled) uses = uses || IsWidgetHeader(a);
        for (const QString& q : source.quoted) {
            if (q.startsWith(QLatin1String("util/gui/"))) uses = true;
            for (const QString& target : {QStringLiteral("src/") + q, QStringLiteral("components/") + q})
                if (Sources().contains(target)) uses = uses || UsesWidgets(target, visiting);
        }
    }
    visiting.remove(relative);
    known.insert(relative, uses);
    return uses;
}

bool UsesWidgets(const QString& relative) {
    QSet<QString> visiting;
    return UsesWidgets(relative, visiting);
}

// The unit a source file belongs to, from its path relative to the source root.
QString UnitOfFile(const QString& relative) {
    const QStringList parts = relative.split(u'/');
    if (parts[0] == u"components") return QStringLiteral("components");
    if (parts[0] == u"tools") return QStringLiteral("tools");
    if (parts.size() == 2) return QStringLiteral("program");  // src/main.cpp and the first window
    if (parts[1] == u"util" && parts.size() > 3) return QStringLiteral("util/") + parts[2];
    if (InWindowFolder(relative))
        return UsesWidgets(relative) ? QStringLiteral("windows") : QStringLiteral("plain");
    return parts[1];
}

// The unit a quoted include names; empty when it names nothing known.
QString UnitOfInclude(const QString& include) {
    const QString first = include.section(u'/', 0, 0);
    if (first == u"util") return QStringLiteral("util/") + include.section(u'/', 1, 1);
    if (kWindowFolders.contains(first))
        return UsesWidgets(QStringLiteral("src/") + include) ? QStringLiteral("windows")
                                                             : QStringLiteral("plain");
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
        a[QStringLiteral("web")] = a[QStringLiteral("app")] + QSet<QString>{QStringLiteral("web")};
        a[QStringLiteral("plain")] =
            a[QStringLiteral("web")] + QSet<QString>{QStringLiteral("plain"), QStringLiteral("components")};
        a[QStringLiteral("windows")] =
            a[QStringLiteral("plain")] + QSet<QString>{QStringLiteral("util/gui"), QStringLiteral("windows"),
                                                       QStringLiteral("components")};
        a[QStringLiteral("program")] =
            a[QStringLiteral("windows")] + QSet<QString>{QStringLiteral("program")};
        a[QStringLiteral("components")] = {QStringLiteral("components")};
        a[QStringLiteral("tools")] = a[QStringLiteral("plain")];
        return a;
    }();
    return allowed;
}

}  // namespace

TEST(Layering, EveryIncludePointsDownTheLayers) {
    QStringList wrong;
    int includes = 0;
    for (auto it = Sources().cbegin(); it != Sources().cend(); ++it) {
        const QString& relative = it.key();
        const QString unit = UnitOfFile(relative);
        for (const QString& include : it.value().quoted) {
            ++includes;
            if (!include.contains(u'/')) {  // a header beside the file
                if (!QFileInfo::exists(QFileInfo(kSourceRoot + u'/' + relative).absolutePath() + u'/' +
                                       include))
                    wrong << relative + QStringLiteral(": no such header beside it: ") + include;
                continue;
            }
            const QString target = UnitOfInclude(include);
            if (target.isEmpty())
                wrong << relative + QStringLiteral(": includes an unknown place: ") + include;
            else if (!Allowed().value(unit).contains(target))
                wrong << relative + QStringLiteral(" (") + unit + QStringLiteral(") must not include ") +
                             include + QStringLiteral(" (") + target + u')';
        }
    }
    EXPECT_GT(Sources().size(), 50);  // the tree was found
    EXPECT_GT(includes, 100);
    EXPECT_TRUE(UsesWidgets(QStringLiteral("src/history/frmPlay.h")));  // widgets are recognised
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join(u'\n').toStdString();
}

TEST(Layering, ToolsWithoutWindowsLoadNoWidgetsAndNoBrowserEngine) {
    for (const char* program : {PELIO_TOOLS_WITHOUT_WINDOWS}) {
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

// The session's seams with the windows live in the session's folder: it includes nothing of the
// agent list window (request/) or the chat and file windows (transfer/); they include it.
TEST(Layering, TheSessionIncludesNoWindowFolderAboveIt) {
    QStringList wrong;
    for (auto it = Sources().cbegin(); it != Sources().cend(); ++it) {
        if (!it.key().startsWith(QLatin1String("src/session/"))) continue;
        for (const QString& include : it.value().quoted)
            if (include.startsWith(QLatin1String("request/")) ||
                include.startsWith(QLatin1String("transfer/")))
                wrong << it.key() + QStringLiteral(" includes ") + include;
    }
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join(u'\n').toStdString();
}

// The session messages' keywords are spelled in one place; every other file (the agent's tool too)
// takes them from there. Comments may name them.
TEST(Layering, MessageKeywordsAreSpelledOnlyWhereTheyAreDefined) {
    const QString definitions = QStringLiteral("src/session/SessionMessages.h");
    QFile header(kSourceRoot + u'/' + definitions);
    ASSERT_TRUE(header.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(header.readAll());
    const QString block = text.section(QStringLiteral("namespace keyword {"), 1).section(u'}', 0, 0);
    QStringList keywords;
    static const QRegularExpression constant(QStringLiteral(R"re(QStringLiteral\("([a-z]+)"\))re"));
    for (auto m = constant.globalMatch(block); m.hasNext();) keywords << m.next().captured(1);
    ASSERT_GE(keywords.size(), 19);

    // The same words in other meanings, where they are no message.
    const QSet<QString> otherMeanings{
        QStringLiteral("src/history/HistoryTree.cpp explorer"),      // the transcripts' file-manager links
        QStringLiteral("src/transfer/ChatHtml.cpp explorer"),        // the same links in the chat view
        QStringLiteral("src/history/frmPlay.cpp chat"),              // the icon of a transcript in the tree
        QStringLiteral("tools/recorder/DesktopScene.cpp customer"),  // a word drawn on the test scene
    };
    // A keyword alone or with its ":", as sent (in lower case); "explorer::" is a transcript link.
    static const QRegularExpression lineComment(QStringLiteral(R"re((^|\s)//.*$)re"),
                                                QRegularExpression::MultilineOption);
    QStringList wrong;
    // Sources() holds every source file of src/, components/ and tools/.
    for (const QString& relative : Sources().keys()) {
        if (relative.startsWith(QLatin1String("src/session/SessionMessages."))) continue;
        QFile file(kSourceRoot + u'/' + relative);
        if (!file.open(QIODevice::ReadOnly)) continue;
        const QString code = QString::fromUtf8(file.readAll()).remove(lineComment);
        for (const QString& keyword : keywords) {
            const QRegularExpression spelled(u'"' + keyword + QStringLiteral("(\"|:(?!:))"));
            if (code.contains(spelled) && !otherMeanings.contains(relative + u' ' + keyword))
                wrong << relative + QStringLiteral(" spells \"") + keyword + u'"';
        }
    }
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join(u'\n').toStdString();
}
