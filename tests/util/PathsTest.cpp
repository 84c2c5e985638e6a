#include "support/ScriptedMessageBoxes.h"
#include "util/core/Paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace pelio::util;
using pelio::test::TempFolder;

namespace {

void Touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

// True when path lies in a direct subfolder of root, after resolving "." and "..".
bool InDirectSubfolder(const QString& root, const QString& path) {
    const QString clean = QDir::cleanPath(path);
    const QString parent = QFileInfo(QFileInfo(clean).path()).path();
    return parent == QDir::cleanPath(root) && QFileInfo(clean).path() != QDir::cleanPath(root);
}

}  // namespace

TEST(SafeFileName, ReplacesUnsafeCharactersAndAddsTheExtension) {
    EXPECT_EQ(SafeFileName(QStringLiteral("a\\b/c:d*e?f\"g<h>i|j"), QStringLiteral(".htm")),
              QStringLiteral("a_b_c_d_e_f_g_h_i_j.htm"));
    EXPECT_EQ(SafeFileName(QStringLiteral("x\ty\r\nz\r\n"), QString()), QStringLiteral("x yz"));
    EXPECT_EQ(SafeFileName(QStringLiteral("report.HTM"), QStringLiteral(".htm")),
              QStringLiteral("report.HTM"));
    EXPECT_EQ(SafeFileName(QStringLiteral("a") + QChar(0) + QStringLiteral("b"), QString()),
              QStringLiteral("a_b"));
    // An empty name is the date and time, without ":" or "/".
    const QString stamp = SafeFileName(QString(), QStringLiteral(".srf"));
    EXPECT_TRUE(stamp.endsWith(QStringLiteral(".srf")));
    EXPECT_GT(stamp.size(), 10);
    EXPECT_FALSE(stamp.contains(u':') || stamp.contains(u'/'));
}

TEST(SafeFileName, NeverYieldsAPathOrAnEmptyOrSpecialName) {
    for (const QString& text : {QStringLiteral("."), QStringLiteral(".."), QStringLiteral("\r\n"),
                                QStringLiteral("../../etc"), QStringLiteral("/")}) {
        const QString name = SafeFileName(text, QString());
        EXPECT_FALSE(name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
            << text.toStdString();
        EXPECT_FALSE(name.contains(u'/') || name.contains(QChar(0))) << text.toStdString();
    }
    // Long names are cut to the file system's 255-byte limit, keeping the extension.
    const QString longName = SafeFileName(QString(300, QChar(u'가')), QStringLiteral(".htm"));
    EXPECT_LE(longName.toUtf8().size(), 255);
    EXPECT_TRUE(longName.endsWith(QStringLiteral(".htm")));
}

TEST(NewHistoryFilePath, NumbersEachKindFromZeroPerDay) {
    TempFolder tmp;
    const QString history = tmp.file(QStringLiteral("원격지원 받은 이력"));
    const QDate day(2026, 12, 6);
    const QString folder = history + QStringLiteral("/1234-ABCo/");

    EXPECT_EQ(NewHistoryFilePath(true, history, QStringLiteral("1234"), QStringLiteral("A.B Co"), day),
              folder + QStringLiteral("2026-12-06(0).htm"));
    EXPECT_TRUE(QFileInfo(folder).isDir());
    Touch(folder + QStringLiteral("2026-12-06(0).htm"));
    EXPECT_EQ(NewHistoryFilePath(true, history, QStringLiteral("1234"), QStringLiteral("A.B Co"), day),
              folder + QStringLiteral("2026-12-06(1).htm"));
    // Recordings are numbered on their own; a gap is filled first.
    EXPECT_EQ(NewHistoryFilePath(false, history, QStringLiteral("1234"), QStringLiteral("A.B Co"), day),
              folder + QStringLiteral("2026-12-06(0).srf"));
    Touch(folder + QStringLiteral("2026-12-06(2).htm"));
    EXPECT_EQ(NewHistoryFilePath(true, history, QStringLiteral("1234"), QStringLiteral("A.B Co"), day),
              folder + QStringLiteral("2026-12-06(1).htm"));
    EXPECT_EQ(NewHistoryFilePath(true, history + u'/', QStringLiteral("1234"), QStringLiteral("A.B Co"),
                                 day.addDays(1)),
              folder + QStringLiteral("2026-12-07(0).htm"));
}

TEST(NewHistoryFilePath, ASessionsTranscriptAndRecordingShareTheFirstNumberFreeForBoth) {
    TempFolder tmp;
    const QString history = tmp.file(QStringLiteral("원격지원 받은 이력"));
    const QDate day(2026, 12, 7);
    const QString folder = history + QStringLiteral("/1234-ABCo/2026-12-07");
    // A first try that failed left a recording only; a later session a transcript only.
    QDir().mkpath(history + QStringLiteral("/1234-ABCo"));
    Touch(folder + QStringLiteral("(0).srf"));
    Touch(folder + QStringLiteral("(1).htm"));
    const HistorySessionPaths paths =
        NewHistorySessionPaths(history, QStringLiteral("1234"), QStringLiteral("A.B Co"), day);
    EXPECT_EQ(paths.transcript, folder + QStringLiteral("(2).htm"));
    EXPECT_EQ(paths.recording, folder + QStringLiteral("(2).srf"));
}

TEST(NewHistoryFilePath, StaysInsideTheHistoryFolder) {
    TempFolder tmp;
    const QString history = tmp.file(QStringLiteral("history"));
    const QDate day(2026, 12, 6);
    const QString hostile[][2] = {
        {QStringLiteral("../.."), QStringLiteral("../..")},
        {QStringLiteral("/etc"), QStringLiteral("/etc")},
        {QStringLiteral(".."), QString()},
        {QString(), QStringLiteral("..")},
        {QStringLiteral("1234"), QString(300, QChar(u'가'))},
        {QString(300, QChar(u'x')), QStringLiteral("name")},
        {QStringLiteral("a\\b"), QStringLiteral("c") + QChar(0) + QStringLiteral("d")},
    };
    for (const auto& h : hostile) {
        const QString path = NewHistoryFilePath(true, history, h[0], h[1], day);
        EXPECT_TRUE(InDirectSubfolder(history, path)) << path.toStdString();
        EXPECT_TRUE(QFileInfo(QFileInfo(path).path()).isDir()) << path.toStdString();
        EXPECT_TRUE(path.endsWith(QStringLiteral("2026-12-06(0).htm"))) << path.toStdString();
    }
}

TEST(PathPieces, FolderFileAndUrlNames) {
    TempFolder tmp;
    EXPECT_EQ(FolderOfPath(tmp.path()), tmp.path() + u'/');
    EXPECT_EQ(FolderOfPath(tmp.path() + u'/'), tmp.path() + u'/');
    EXPECT_EQ(FolderOfPath(QStringLiteral("/no/such/folder/file.txt")), QStringLiteral("/no/such/folder/"));
    EXPECT_EQ(FolderOfPath(QStringLiteral("file.txt")), QString());
    EXPECT_EQ(FileNameOfPath(QStringLiteral("/a/b/c.txt")), QStringLiteral("c.txt"));
    EXPECT_EQ(FileNameOfPath(QStringLiteral("c.txt")), QStringLiteral("c.txt"));
    EXPECT_EQ(FileNameOfPath(QStringLiteral("/a/b/")), QString());
    EXPECT_EQ(FileNameOfUrl(QStringLiteral("http://h/userfiles/1234/파일.zip?x=/y/z")),
              QStringLiteral("파일.zip"));
    EXPECT_EQ(FileNameOfUrl(QStringLiteral("name.txt")), QStringLiteral("name.txt"));
}

TEST(ShownFolderPath, NamesFoldersBelowHomeFromTilde) {
    const QString home = QStringLiteral("/home/kim");
    EXPECT_EQ(ShownFolderPath(QStringLiteral("/home/kim/문서/Pelio 받은파일/"), home),
              QStringLiteral("~/문서/Pelio 받은파일"));
    EXPECT_EQ(ShownFolderPath(QStringLiteral("/home/kim"), home + u'/'), QStringLiteral("~"));
    // Another user's folder that merely begins with the same letters is not below home.
    EXPECT_EQ(ShownFolderPath(QStringLiteral("/home/kimlee/Documents"), home),
              QStringLiteral("/home/kimlee/Documents"));
    EXPECT_EQ(ShownFolderPath(QStringLiteral("/srv/files"), QStringLiteral("/")),
              QStringLiteral("/srv/files"));
}
