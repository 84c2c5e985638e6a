#include "platform/FakeServices.h"
#include "support/ScriptedDialogs.h"
#include "support/ScriptedMessageBoxes.h"
#include "util/core/Ansi.h"
#include "util/gui/Dialogs.h"
#include "util/gui/FileRoutines.h"

#include <gtest/gtest.h>

#include <QAbstractFileIconProvider>
#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace pelio::util;
using pelio::test::ReadFileBytes;
using pelio::test::ScriptedDialogs;
using pelio::test::ScriptedMessageBoxes;
using pelio::test::TempFolder;
using pelio::test::WriteFileBytes;

namespace {}  // namespace

TEST(FileExists, FilesAndFoldersExistAndAMissingPathIsReported) {
    TempFolder tmp;
    WriteFileBytes(tmp.file(QStringLiteral("a.txt")), "x");
    EXPECT_TRUE(FileExists(tmp.file(QStringLiteral("a.txt")), true));
    EXPECT_TRUE(FileExists(tmp.path(), true));
    EXPECT_FALSE(FileExists(tmp.file(QStringLiteral("none")), false));

    ScriptedMessageBoxes boxes;
    boxes.Answer(MsgAnswer::Ok);
    const QString missing = tmp.file(QStringLiteral("없는 파일.txt"));
    EXPECT_FALSE(FileExists(missing, true));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, missing + QStringLiteral("\n파일 또는 경로를 찾을 수 없습니다."));
    EXPECT_EQ(boxes.boxes()[0].icon, MsgIcon::Information);
}

TEST(TextFiles, ReadAcceptsUtf8AndCodePage949) {
    TempFolder tmp;
    const QString text = QStringLiteral("요청 내용 똠\r\n둘째 줄");
    WriteFileBytes(tmp.file(QStringLiteral("utf8.txt")), text.toUtf8());
    WriteFileBytes(tmp.file(QStringLiteral("cp949.txt")), ToAnsi(text));
    EXPECT_EQ(ReadTextFile(tmp.file(QStringLiteral("utf8.txt")), false), text);
    EXPECT_EQ(ReadTextFile(tmp.file(QStringLiteral("cp949.txt")), false), text);
    EXPECT_EQ(ReadTextFile(QString(), false), QString());
    EXPECT_EQ(ReadTextFile(tmp.path(), false), QString());
}

TEST(TextFiles, WriteReplacesWholeAndAppendAddsALineBreak) {
    TempFolder tmp;
    const QString path = tmp.file(QStringLiteral("대화.htm"));
    EXPECT_TRUE(WriteTextFile(path, QStringLiteral("첫째 긴 내용"), false));
    EXPECT_TRUE(WriteTextFile(path, QString(QChar(0xFEFF)) + QStringLiteral("짧게"), false));
    EXPECT_EQ(ReadFileBytes(path), QByteArray("\xEF\xBB\xBF") + QStringLiteral("짧게").toUtf8());
    EXPECT_TRUE(WriteTextFile(path, QStringLiteral("더"), true));
    EXPECT_EQ(ReadTextFile(path, false), QStringLiteral("짧게\r\n더"));
    // Appending creates a missing file.
    EXPECT_TRUE(WriteTextFile(tmp.file(QStringLiteral("new.txt")), QStringLiteral("a"), true));
    EXPECT_EQ(ReadFileBytes(tmp.file(QStringLiteral("new.txt"))), QByteArray("\r\na"));
    EXPECT_FALSE(WriteTextFile(tmp.file(QStringLiteral("no/such/folder.txt")), QStringLiteral("a"), false));
    EXPECT_FALSE(WriteTextFile(QString(), QStringLiteral("a"), false));
    // No temporary file is left behind.
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files).size(), 2);
}

TEST(TextFiles, AppendingToACodePage949FileKeepsOneEncoding) {
    TempFolder tmp;
    const QString path = tmp.file(QStringLiteral("old.txt"));
    WriteFileBytes(path, ToAnsi(QStringLiteral("윈도우에서 쓴 글")));
    EXPECT_TRUE(WriteTextFile(path, QStringLiteral("새 글"), true));
    EXPECT_TRUE(IsValidUtf8(ReadFileBytes(path)));
    EXPECT_EQ(ReadTextFile(path, false), QStringLiteral("윈도우에서 쓴 글\r\n새 글"));
}

TEST(OpenInExplorer, DefaultPlaceFolderOrSelectedFile) {
    TempFolder tmp;
    WriteFileBytes(tmp.file(QStringLiteral("f.txt")), "x");
    pelio::platform::FakeFileManager fm;
    OpenInExplorer(QString(), fm);
    OpenInExplorer(tmp.file(QStringLiteral("missing")), fm);
    OpenInExplorer(tmp.path(), fm);
    OpenInExplorer(tmp.file(QStringLiteral("f.txt")), fm);
    EXPECT_EQ(fm.calls, (QStringList{QStringLiteral("default"), QStringLiteral("default"),
                                     QStringLiteral("folder:") + tmp.path(),
                                     QStringLiteral("item:") + tmp.file(QStringLiteral("f.txt"))}));
}

TEST(PickFilesToOpen, JoinsPathsAndRemembersTheFolder) {
    ScriptedDialogs dialogs;
    ScriptedMessageBoxes boxes;
    FileOpenDialog state{QStringLiteral("/start")};
    OpenFilesAnswer three;
    three.files = {QStringLiteral("/d/a.txt"), QStringLiteral("/d/b c.txt"), QStringLiteral("/d/한.txt")};
    dialogs.fileAnswers.push_back(three);
    EXPECT_EQ(PickFilesToOpen(state, nullptr, QStringLiteral("보낼 파일"), QString()),
              QStringLiteral("/d/a.txt\r\n/d/b c.txt\r\n/d/한.txt"));
    ASSERT_EQ(dialogs.fileRequests.size(), 1u);
    EXPECT_EQ(dialogs.fileRequests[0].filter, QStringLiteral("모든 파일(*.*)|*.*"));
    EXPECT_EQ(dialogs.fileRequests[0].initialFolder, QStringLiteral("/start"));
    EXPECT_TRUE(dialogs.fileRequests[0].multiple);
    EXPECT_EQ(state.initialFolder, QStringLiteral("/d/"));

    // Cancelled: empty, no message, folder kept.
    dialogs.fileAnswers.push_back(OpenFilesAnswer{{}, kDialogCancelled, {}});
    EXPECT_EQ(PickFilesToOpen(state, nullptr, QStringLiteral("t"), QStringLiteral("a|*.a")), QString());
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(state.initialFolder, QStringLiteral("/d/"));

    // Any other failure is shown.
    boxes.Answer(MsgAnswer::Ok);
    dialogs.fileAnswers.push_back(OpenFilesAnswer{{}, 20476, QStringLiteral("버퍼가 작습니다")});
    EXPECT_EQ(PickFilesToOpen(state, nullptr, QStringLiteral("t"), QString()), QString());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text,
              QStringLiteral("다음 오류가 발생하였습니다.\n\n오류번호 : 20476\n오류내용 : 버퍼가 작습니다"));
}

TEST(ShowErrorBox, AddsTheExtraTextAndReturnsTheAnswer) {
    ScriptedMessageBoxes boxes;
    boxes.Answer(MsgAnswer::Yes);
    EXPECT_EQ(ShowErrorBox(nullptr, 5, QStringLiteral("잘못"), MsgIcon::Question, MsgButtons::YesNo,
                           QStringLiteral("다시 할까요?")),
              MsgAnswer::Yes);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text,
              QStringLiteral("다음 오류가 발생하였습니다.\n\n오류번호 : 5\n오류내용 : 잘못\n\n다시 할까요?"));
    EXPECT_EQ(boxes.boxes()[0].buttons, MsgButtons::YesNo);
}

TEST(ToQtFileFilter, ListsNamesWithoutExtensionsForStarDotStar) {
    EXPECT_EQ(ToQtFileFilter(QStringLiteral("모든 파일(*.*)|*.*")), QStringLiteral("모든 파일 (*)"));
    EXPECT_EQ(ToQtFileFilter(QStringLiteral("그림|*.jpg;*.png|문서 (*.txt)|*.txt")),
              QStringLiteral("그림 (*.jpg *.png);;문서 (*.txt)"));
}

TEST(FileDialog, OpensInTheDocumentsFolderUnlessAnExistingFolderIsKept) {
    TempFolder tmp;
    const QString documents = tmp.file(QStringLiteral("문서"));
    ASSERT_TRUE(QDir().mkpath(documents));
    EXPECT_EQ(DialogStartFolder(QString(), documents, tmp.path()), documents);
    EXPECT_EQ(DialogStartFolder(tmp.path(), documents, QStringLiteral("/")), tmp.path());
    // A kept folder that is gone, or a file, is no place to open in.
    EXPECT_EQ(DialogStartFolder(tmp.file(QStringLiteral("gone")), documents, tmp.path()), documents);
    WriteFileBytes(tmp.file(QStringLiteral("a.txt")), "x");
    EXPECT_EQ(DialogStartFolder(tmp.file(QStringLiteral("a.txt")), documents, tmp.path()), documents);
    EXPECT_EQ(DialogStartFolder(QString(), tmp.file(QStringLiteral("없음")), tmp.path()), tmp.path());
}

// Qt 6 asks for its file dialog's type names under a context the Korean translations lack.
TEST(FileDialog, NamesFoldersInKorean) {
    TempFolder tmp;
    EXPECT_EQ(QAbstractFileIconProvider().type(QFileInfo(tmp.path())), QStringLiteral("폴더"));
}
