#include "history/HistoryTree.h"
#include "support/ScriptedMessageBoxes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace pelio::history;
using pelio::test::TempFolder;

namespace {

void Touch(const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

// "kind parent-relative-key text" per node, with the history folder cut from the keys.
QStringList Describe(const std::vector<HistoryNode>& nodes, const QString& root) {
    QStringList out;
    for (const HistoryNode& n : nodes) {
        const char kind = n.kind == HistoryNode::Kind::Folder       ? 'D'
                          : n.kind == HistoryNode::Kind::Transcript ? 'T'
                                                                    : 'R';
        QString parent = n.parentKey;
        QString key = n.key;
        parent.remove(root);
        key.remove(root);
        out << QStringLiteral("%1 [%2] %3 = %4").arg(QChar::fromLatin1(kind), parent, n.text, key);
    }
    return out;
}

}  // namespace

TEST(HistoryTree, FoldersAtAnyDepthAndOnlyTranscriptsAndRecordingsInsideThem) {
    TempFolder tmp;
    const QString h = tmp.file(QStringLiteral("원격지원 받은 이력"));
    Touch(h + QStringLiteral("/loose.htm"));  // directly in the history folder: not listed
    Touch(h + QStringLiteral("/loose.srf"));
    Touch(h + QStringLiteral("/1234-ABCo/2026-12-06(0).htm"));
    Touch(h + QStringLiteral("/1234-ABCo/2026-12-06(0).srf"));
    Touch(h + QStringLiteral("/1234-ABCo/OLD.HTM"));
    Touch(h + QStringLiteral("/1234-ABCo/Rec.SrF"));
    Touch(h + QStringLiteral("/1234-ABCo/page.html"));
    Touch(h + QStringLiteral("/1234-ABCo/notes.txt"));
    Touch(h + QStringLiteral("/1234-ABCo/htm"));
    Touch(h + QStringLiteral("/1234-ABCo/a/b/c/깊은.srf"));
    QDir().mkpath(h + QStringLiteral("/5678-빈회사"));

    const QString root = h + u'/';
    EXPECT_EQ(Describe(ScanHistory(h), root),
              (QStringList{
                  QStringLiteral("D [] 1234-ABCo = 1234-ABCo/"),
                  QStringLiteral("T [1234-ABCo/] 2026-12-06(0).htm = 1234-ABCo/2026-12-06(0).htm"),
                  QStringLiteral("R [1234-ABCo/] 2026-12-06(0).srf = 1234-ABCo/2026-12-06(0).srf"),
                  QStringLiteral("D [1234-ABCo/] a = 1234-ABCo/a/"),
                  QStringLiteral("D [1234-ABCo/a/] b = 1234-ABCo/a/b/"),
                  QStringLiteral("D [1234-ABCo/a/b/] c = 1234-ABCo/a/b/c/"),
                  QStringLiteral("R [1234-ABCo/a/b/c/] 깊은.srf = 1234-ABCo/a/b/c/깊은.srf"),
                  QStringLiteral("T [1234-ABCo/] OLD.HTM = 1234-ABCo/OLD.HTM"),
                  QStringLiteral("R [1234-ABCo/] Rec.SrF = 1234-ABCo/Rec.SrF"),
                  QStringLiteral("D [] 5678-빈회사 = 5678-빈회사/"),
              }));
    // The keys are full paths.
    EXPECT_EQ(ScanHistory(h).front().key, h + QStringLiteral("/1234-ABCo/"));
}

TEST(HistoryTree, MissingOrEmptyHistoryAndFolderLoopsEndTheScan) {
    TempFolder tmp;
    EXPECT_TRUE(ScanHistory(QString()).empty());
    EXPECT_TRUE(ScanHistory(tmp.file(QStringLiteral("missing"))).empty());
    EXPECT_TRUE(ScanHistory(tmp.path()).empty());

    // A link back to an ancestor is listed once and not entered again.
    const QString h = tmp.file(QStringLiteral("h"));
    Touch(h + QStringLiteral("/co/x.srf"));
    ASSERT_TRUE(QFile::link(h, h + QStringLiteral("/co/loop")));
    EXPECT_EQ(Describe(ScanHistory(h), h + u'/'), (QStringList{
                                                      QStringLiteral("D [] co = co/"),
                                                      QStringLiteral("D [co/] loop = co/loop/"),
                                                      QStringLiteral("R [co/] x.srf = co/x.srf"),
                                                  }));

    // A folder reached a second time without a loop (a link to a sibling) is scanned both times.
    const QString g = tmp.file(QStringLiteral("g"));
    Touch(g + QStringLiteral("/B/2026-12-06(0).htm"));
    ASSERT_TRUE(QFile::link(g + QStringLiteral("/B"), g + QStringLiteral("/A")));
    EXPECT_EQ(Describe(ScanHistory(g), g + u'/'),
              (QStringList{
                  QStringLiteral("D [] A = A/"),
                  QStringLiteral("T [A/] 2026-12-06(0).htm = A/2026-12-06(0).htm"),
                  QStringLiteral("D [] B = B/"),
                  QStringLiteral("T [B/] 2026-12-06(0).htm = B/2026-12-06(0).htm"),
              }));
}

// Links that fan out reach the same folders thousands of times; the scan's work stays within its
// limits, and what it found before stopping is kept in order.
TEST(HistoryTree, LinksThatFanOutStopTheScanAtItsLimits) {
    TempFolder tmp;
    const ScanLimits limits;
    auto fanOut = [](const QString& folder, const QString& target) {
        QDir().mkpath(folder);
        for (int i = 0; i < 30; ++i)
            ASSERT_TRUE(QFile::link(target, folder + QStringLiteral("/L%1").arg(i, 2, 10, QChar(u'0'))));
    };

    // 30 links to a folder of 30 links to one folder of 2,000 other files: 1.8 million entries.
    const QString h = tmp.file(QStringLiteral("h"));
    const QString many = tmp.file(QStringLiteral("many"));
    for (int i = 0; i < 2000; ++i) Touch(many + QStringLiteral("/f%1.txt").arg(i, 4, 10, QChar(u'0')));
    Touch(many + QStringLiteral("/x.srf"));
    fanOut(tmp.file(QStringLiteral("mid")), many);
    fanOut(h + QStringLiteral("/co"), tmp.file(QStringLiteral("mid")));
    QDir().mkpath(h + QStringLiteral("/zz"));  // after the limit: not reached
    const HistoryScan scan = ScanHistoryWithin(h);
    EXPECT_TRUE(scan.stoppedAtLimit);
    EXPECT_EQ(scan.entriesExamined, limits.entriesExamined);
    EXPECT_LT(scan.foldersListed, limits.foldersListed);
    ASSERT_GE(scan.nodes.size(), 4u);
    EXPECT_EQ(Describe({scan.nodes.begin(), scan.nodes.begin() + 4}, h + u'/'),
              (QStringList{QStringLiteral("D [] co = co/"), QStringLiteral("D [co/] L00 = co/L00/"),
                           QStringLiteral("D [co/L00/] L00 = co/L00/L00/"),
                           QStringLiteral("R [co/L00/L00/] x.srf = co/L00/L00/x.srf")}));
    EXPECT_NE(scan.nodes.back().text, QStringLiteral("zz"));

    // Three levels of 30 links over an empty folder: 27,000 folders to list, few entries.
    const QString g = tmp.file(QStringLiteral("g"));
    QDir().mkpath(tmp.file(QStringLiteral("empty")));
    fanOut(tmp.file(QStringLiteral("b")), tmp.file(QStringLiteral("empty")));
    fanOut(tmp.file(QStringLiteral("a")), tmp.file(QStringLiteral("b")));
    fanOut(g + QStringLiteral("/co"), tmp.file(QStringLiteral("a")));
    const HistoryScan folders = ScanHistoryWithin(g);
    EXPECT_TRUE(folders.stoppedAtLimit);
    EXPECT_EQ(folders.foldersListed, limits.foldersListed);
    EXPECT_LT(folders.entriesExamined, limits.entriesExamined);
}

TEST(HistoryTree, ExplorerLinksAndSliderStep) {
    EXPECT_EQ(ExplorerLinkPath(QStringLiteral("explorer::/home/u/a%20b.txt")),
              QStringLiteral("/home/u/a b.txt"));
    EXPECT_EQ(ExplorerLinkPath(QStringLiteral("EXPLORER::/%EB%82%B4%20%EB%AC%B8%EC%84%9C/x")),
              QStringLiteral("/내 문서/x"));
    EXPECT_EQ(ExplorerLinkPath(QStringLiteral("Explorer::/a::b")), QStringLiteral("/a"));
    EXPECT_EQ(ExplorerLinkPath(QStringLiteral("explorer::")), QString());
    EXPECT_FALSE(ExplorerLinkPath(QStringLiteral("explorer:/a")).has_value());
    EXPECT_FALSE(ExplorerLinkPath(QStringLiteral("http://host/explorer::/a")).has_value());
    EXPECT_FALSE(ExplorerLinkPath(QStringLiteral("file::/a")).has_value());

    EXPECT_EQ(SliderLargeStep(60000), 6000);
    EXPECT_EQ(SliderLargeStep(25), 2);  // 2.5: to the even neighbour
    EXPECT_EQ(SliderLargeStep(35), 4);  // 3.5
    EXPECT_EQ(SliderLargeStep(36), 4);
    EXPECT_EQ(SliderLargeStep(0), 0);
}

TEST(TranscriptLinks, OnlyWebAddressesNavigate) {
    EXPECT_TRUE(IsTranscriptWebAddress(QStringLiteral("http://example.com/page")));
    EXPECT_TRUE(IsTranscriptWebAddress(QStringLiteral("HTTPS://example.com/")));
    EXPECT_FALSE(IsTranscriptWebAddress(QStringLiteral("file:///etc/passwd")));
    EXPECT_FALSE(IsTranscriptWebAddress(QStringLiteral("javascript:alert(1)")));
    EXPECT_FALSE(IsTranscriptWebAddress(QStringLiteral("smb://host/share")));
    EXPECT_FALSE(IsTranscriptWebAddress(QStringLiteral("http:///nohost")));
    EXPECT_FALSE(IsTranscriptWebAddress(QString()));
}
