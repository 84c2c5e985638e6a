// The chat window with a browser engine, offscreen: an agent's line cannot run scripts, open pages or
// take the conversation away, and closing the window writes the transcript.
#include "app/AppContext.h"
#include "platform/FakeServices.h"
#include "session/ChatLink.h"
#include "support/ScriptedDialogs.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/Wait.h"
#include "transfer/frmChat.h"
#include "util/core/IniFile.h"
#include "util/gui/HtmlView.h"

#include <gtest/gtest.h>
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QTcpServer>
#include <QTest>
#include <QTextEdit>

using namespace pelio;

namespace {

class IdleLink : public session::ChatLink {
  public:
    bool Connected() const override { return true; }
    void SendChatLine(const QString& line) override { sent << line; }
    void SendMessage(const QString& message) override { messages << message; }
    void MinimizeMainWindow() override {}
    void RestoreMainWindow() override {}
    void CloseConnectedNotice() override {}
    QString TranscriptPath() const override { return transcript; }
    QString transcript;  // as the session named it
    QStringList sent;
    QStringList messages;
};

// Reads a value of the view's document back (after every earlier script has run).
QVariant Read(util::HtmlView* view, const QString& expression) {
    QVariant value;
    bool done = false;
    view->RunDomScript(expression, [&](const QVariant& v) {
        value = v;
        done = true;
    });
    test::WaitFor([&] { return done; }, 20000);
    return value;
}

app::AppContext ContextIn(const test::TempFolder& folder) {
    app::AppContext context;
    context.AppFolder = folder.path();
    context.IniFile = folder.file(QStringLiteral("PelioRS.ini"));
    context.HistoryFolder = folder.file(QStringLiteral("history"));
    context.DeptCode = QStringLiteral("1234");
    return context;
}

}  // namespace

TEST(frmChat, TheTranscriptTakesTheSessionsNameAndNeverReplacesAnEarlierOne) {
    test::TempFolder folder;
    app::AppContext context = ContextIn(folder);
    platform::FakeServices fakes;
    IdleLink link;
    link.transcript = folder.file(QStringLiteral("history/1234-/2026-12-07(3).htm"));
    {
        transfer::frmChat chat(context, fakes.services, link);
        EXPECT_EQ(chat.TranscriptPath(), link.transcript);
    }
    // A chat window closed in the same session left its transcript: the next window takes a name of its
    // own rather than writing over it.
    QDir().mkpath(QFileInfo(link.transcript).path());
    test::WriteFileBytes(link.transcript, "earlier");
    transfer::frmChat chat(context, fakes.services, link);
    EXPECT_NE(chat.TranscriptPath(), link.transcript);
    EXPECT_FALSE(chat.TranscriptPath().isEmpty());
    EXPECT_EQ(test::ReadFileBytes(link.transcript), "earlier");
}

TEST(frmChat, AnAgentsLineRunsNothingAndOpensNothing) {
    test::TempFolder folder;
    app::AppContext context = ContextIn(folder);
    platform::FakeServices fakes;
    IdleLink link;
    // A local server that would see any request the page made.
    QTcpServer watcher;
    ASSERT_TRUE(watcher.listen(QHostAddress::LocalHost, 0));
    const QString target = QStringLiteral("http://127.0.0.1:%1/x").arg(watcher.serverPort());

    auto* chat = new transfer::frmChat(context, fakes.services, link);
    chat->setAttribute(Qt::WA_DeleteOnClose);
    chat->show();
    auto* view = chat->findChild<util::HtmlView*>(QStringLiteral("webChat"));
    ASSERT_TRUE(view);
    const QString hostile =
        QStringLiteral(
            "<script>document.title='script'</script><img src='%1' onerror=\"document.title='onerror'\">"
            "<meta http-equiv=refresh content='0;url=%1'><iframe src='%1'></iframe>"
            "<form id=f action='%1'><input name=a></form><a id=j "
            "href=\"javascript:document.title='js'\">j</a>"
            "<u>끝</u>")
            .arg(target);
    chat->Conversation().ShowAgentLine(hostile);
    ASSERT_EQ(Read(view, QStringLiteral("document.querySelector('u') ? 1 : 0")).toInt(), 1);
    // Nothing of it may happen: a bounded wait for any sign that it did.
    EXPECT_FALSE(test::WaitFor(
        [&] {
            return watcher.hasPendingConnections() || !fakes.shell->opened.isEmpty() ||
                   !Read(view, QStringLiteral("document.title")).toString().isEmpty();
        },
        2000));
    EXPECT_EQ(Read(view, QStringLiteral("document.querySelector('u') ? 1 : 0")).toInt(), 1);
    EXPECT_EQ(Read(view, QStringLiteral("document.title")).toString(), QString());
    EXPECT_FALSE(watcher.hasPendingConnections());
    EXPECT_TRUE(fakes.shell->opened.isEmpty());

    // Closing writes the conversation, as it was shown, into the history.
    const QString transcript = chat->TranscriptPath();
    chat->close();
    QFile file(transcript);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(file.readAll()).contains(QStringLiteral("<u>끝</u>")));
}

// Installed, the program keeps its data in the user's folder and its chat sound beside itself.
TEST(frmChat, TheChatSoundComesFromTheProgramsFolderWhereverItsDataIs) {
    test::TempFolder folder;
    app::AppContext context = ContextIn(folder);
    context.ProgramFolder = QStringLiteral("/usr/lib/pelio");
    platform::FakeServices fakes;
    IdleLink link;
    transfer::frmChat chat(context, fakes.services, link);  // not shown: not the active window
    chat.DrawAttention();
    EXPECT_TRUE(fakes.desktop->calls.contains(QStringLiteral("sound:/usr/lib/pelio/system/chat.wav")))
        << fakes.desktop->calls.join(u' ').toStdString();
}

// The keys of the input box, the background tool, and closing with nothing unsaved.
TEST(frmChat, KeysBackgroundAndClosingWithNothingUnsaved) {
    test::TempFolder folder;
    app::AppContext context = ContextIn(folder);
    context.CustomerName = QStringLiteral("홍길동");
    platform::FakeServices fakes;
    IdleLink link;
    test::ScriptedDialogs dialogs;

    auto* chat = new transfer::frmChat(context, fakes.services, link);
    chat->setAttribute(Qt::WA_DeleteOnClose);
    chat->show();
    auto* view = chat->findChild<util::HtmlView*>(QStringLiteral("webChat"));
    auto* input = chat->findChild<QTextEdit*>(QStringLiteral("txtChat"));
    ASSERT_TRUE(view && input);

    // Shift+Enter and Alt+Enter break the line; Ctrl+Enter sends, and so does Shift+Ctrl+Enter.
    input->setFocus();
    input->insertPlainText(QStringLiteral("똠"));
    QTest::keyClick(input, Qt::Key_Return, Qt::ShiftModifier);
    input->insertPlainText(QStringLiteral("뷁"));
    QTest::keyClick(input, Qt::Key_Return, Qt::AltModifier);
    input->insertPlainText(QStringLiteral("끝"));
    EXPECT_EQ(input->toPlainText(), QStringLiteral("똠\n뷁\n끝"));
    EXPECT_TRUE(link.sent.isEmpty());
    QTest::keyClick(input, Qt::Key_Return, Qt::ControlModifier);
    ASSERT_EQ(link.sent.size(), 1);
    EXPECT_TRUE(link.sent[0].contains(QStringLiteral("똠<br>\r\n뷁<br>\r\n끝")));
    EXPECT_TRUE(input->toPlainText().isEmpty());
    input->insertPlainText(QStringLiteral("둘"));
    QTest::keyClick(input, Qt::Key_Enter, Qt::ShiftModifier | Qt::ControlModifier | Qt::KeypadModifier);
    EXPECT_EQ(link.sent.size(), 2);

    // Cancelling the colour dialog, or picking black, changes neither the page nor the setting.
    const QString background = QStringLiteral("getComputedStyle(document.body).backgroundColor");
    const QString before = Read(view, background).toString();
    auto* tool = chat->findChild<QAction*>(QStringLiteral("backcolor"));
    ASSERT_TRUE(tool);
    dialogs.colorAnswers = {std::nullopt, util::OleColor(0)};
    tool->trigger();
    tool->trigger();
    EXPECT_EQ(Read(view, background).toString(), before);
    EXPECT_EQ(util::IniRead(context.IniFile, QStringLiteral("Chat"), QStringLiteral("BackColor"),
                            QStringLiteral("unset")),
              QStringLiteral("unset"));
    // Red is blended with white, stored, and shown behind the conversation, which stays whole.
    dialogs.colorAnswers = {util::OleColor(0x0000FF)};
    tool->trigger();
    EXPECT_EQ(Read(view, background).toString(), QStringLiteral("rgb(255, 128, 128)"));
    EXPECT_EQ(util::IniReadInt(context.IniFile, QStringLiteral("Chat"), QStringLiteral("BackColor"), 0),
              0x8080FF);
    EXPECT_TRUE(
        Read(view, QStringLiteral("document.body.innerText")).toString().contains(QStringLiteral("뷁")));

    // Saved, then closed with no new line: the transcript is not written again.
    chat->SaveTranscript(false);
    const QString transcript = chat->TranscriptPath();
    ASSERT_TRUE(QFile::remove(transcript));
    chat->close();
    EXPECT_FALSE(QFile::exists(transcript));
}

// Files for the agent: a choice with a file over the limit sends nothing; a refused offer leaves
// nothing for a late acceptance to upload.
TEST(frmChat, AChoiceOverTheLimitOrARefusedOfferSendsNothing) {
    test::TempFolder folder;
    app::AppContext context = ContextIn(folder);
    platform::FakeServices fakes;
    IdleLink link;
    test::ScriptedDialogs dialogs;
    test::ScriptedMessageBoxes boxes;
    const QString small = folder.file(QStringLiteral("a.txt"));
    const QString big = folder.file(QStringLiteral("big.iso"));
    test::WriteFileBytes(small, "a");
    QFile sparse(big);
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly) && sparse.resize(31 << 20));
    sparse.close();

    auto* chat = new transfer::frmChat(context, fakes.services, link);
    chat->setAttribute(Qt::WA_DeleteOnClose);
    chat->show();
    util::OpenFilesAnswer answer;
    answer.files = QStringList{small, big, small};
    dialogs.fileAnswers.push_back(answer);
    boxes.Answer(util::MsgAnswer::Ok);
    chat->PickFilesToSend();
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_TRUE(boxes.boxes()[0].text.contains(QStringLiteral("(31MB)가 너무 큽니다.")));
    EXPECT_TRUE(link.messages.isEmpty());
    EXPECT_TRUE(chat->SendQueue().isEmpty());

    answer.files = QStringList{small};
    dialogs.fileAnswers.push_back(answer);
    chat->PickFilesToSend();
    EXPECT_EQ(link.messages, QStringList{QStringLiteral("filename:\r\na.txt")});
    chat->ReleaseSendQueue();
    chat->StartQueuedUpload();
    auto* timer = chat->findChild<QTimer*>(QStringLiteral("TimerFileSend"));
    ASSERT_TRUE(timer);
    ASSERT_TRUE(test::WaitFor([&] { return !timer->isActive(); }, 5000));
    EXPECT_FALSE(chat->Uploading());
    EXPECT_FALSE(context.FileTransferBusy);
    EXPECT_EQ(link.messages.size(), 1);
    chat->close();
}
