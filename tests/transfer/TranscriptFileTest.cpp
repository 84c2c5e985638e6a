// The transcript file kept on disk piece by piece: after every piece it holds exactly what a whole save
// of the conversation would write.
#include "transfer/ChatConversation.h"
#include "session/ChatLink.h"
#include "transfer/TranscriptFile.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

#include <sys/stat.h>

using namespace pelio::transfer;

namespace {

class NoLink : public ChatLink {
  public:
    bool Connected() const override { return true; }
    void SendChatLine(const QString&) override {}
    void SendMessage(const QString&) override {}
    void MinimizeMainWindow() override {}
    void RestoreMainWindow() override {}
    void CloseConnectedNotice() override {}
};

struct TranscriptOnDisk : ::testing::Test {
    QTemporaryDir folder;
    QString path = folder.path() + QStringLiteral("/대화.html");
    NoLink link;
    bool written = true;
    ChatConversation chat{link, [this](const QString& html) { written = file->Append(html); }};
    std::unique_ptr<TranscriptFile> file = Keep(path);

    std::unique_ptr<TranscriptFile> Keep(const QString& at) {
        path = at;
        return std::make_unique<TranscriptFile>(at, [this] { return chat.Transcript(); });
    }

    QByteArray OnDisk() const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QByteArray WholeSave() const { return (QChar(0xFEFF) + chat.Transcript()).toUtf8(); }
    // Which file the path names: a whole write replaces it, a piece written in place does not.
    ino_t Inode() const {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
    }
};

}  // namespace

TEST_F(TranscriptOnDisk, EveryPieceLeavesTheWholeTranscriptEvenAfterASave) {
    EXPECT_FALSE(QFile::exists(path));  // an empty chat leaves no file
    const std::function<void()> steps[] = {
        [this] { chat.ShowAgentLine(QStringLiteral("<b>상담원</b>입니다<BR>둘째 줄<bR>")); },
        [this] { chat.DisplayCommonMsg(QStringLiteral("똠 뷁 햏 파일을 받았습니다."), 2); },
        [this] { chat.ShowFileOffer(QStringLiteral("\r\n가.txt\r\nb.txt")); },
        [this] { chat.AddLine(QStringLiteral("끝이 잘린 줄<b")); },  // a "<br>" split across two pieces
        [this] { chat.AddLine(QStringLiteral("R>다음")); },
        [this] { EXPECT_TRUE(file->Save()); },
        [this] { chat.ShowAgentLine(QStringLiteral("저장 뒤<Br>의 줄")); },
        [this] { chat.AddLine(QStringLiteral("<br>")); },
    };
    int step = 0;
    ino_t inode = 0;
    for (const auto& run : steps) {
        run();
        EXPECT_TRUE(written) << "step " << step;
        EXPECT_EQ(OnDisk(), WholeSave()) << "step " << step;
        // Lines after the first (and after the save) go into the file there is, not into a new one.
        if (step != 0 && step != 5) {
            EXPECT_EQ(Inode(), inode) << "step " << step;
        }
        inode = Inode();
        ++step;
    }
}

TEST_F(TranscriptOnDisk, AFailedWriteOrARemovedFileIsMadeGoodByTheNextPiece) {
    file = Keep(folder.path() + QStringLiteral("/아직 없는 폴더/대화.html"));

    chat.ShowAgentLine(QStringLiteral("첫 줄<br>"));
    EXPECT_FALSE(written);
    EXPECT_FALSE(file->Save());
    EXPECT_EQ(chat.Transcript().count(QStringLiteral("첫 줄")), 1);  // nothing lost in memory

    ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("아직 없는 폴더")));
    chat.ShowAgentLine(QStringLiteral("둘째 줄"));
    EXPECT_TRUE(written);
    EXPECT_EQ(OnDisk(), WholeSave());

    ASSERT_TRUE(QFile::remove(path));
    chat.AddLine(QStringLiteral("셋째 줄"));
    EXPECT_EQ(OnDisk(), WholeSave());
}
