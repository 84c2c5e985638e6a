// The download window's rules without widgets, and the download windows of a session, offscreen,
// against the reference web service: what the chat view and the notice line are told, and when.
#include "ReferenceService.h"
#include "app/AppContext.h"
#include "support/AccessibleNames.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/Wait.h"
#include "transfer/ChatHtml.h"
#include "transfer/DownloadProgressRules.h"
#include "transfer/DownloadWindows.h"
#include "transfer/frmDownProgress.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonObject>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

using namespace pelio;
using transfer::DownloadProgressRules;
using State = DownloadProgressRules::State;
using Outcome = DownloadProgressRules::Outcome;

TEST(DownloadProgressRules, StartsOnceAndRefusesTheCloseBoxWhileRunning) {
    DownloadProgressRules rules;
    EXPECT_TRUE(rules.MayClose(true));
    EXPECT_TRUE(rules.Activate());
    EXPECT_FALSE(rules.Activate());
    EXPECT_FALSE(rules.MayClose(true));
    EXPECT_TRUE(rules.MayClose(false));
    rules.End(true);
    EXPECT_EQ(rules.GetOutcome(), Outcome::Done);
    EXPECT_TRUE(rules.MayClose(true));

    // Stopped by the customer: cancelled, unless the file came whole all the same.
    DownloadProgressRules stopped;
    stopped.Activate();
    EXPECT_TRUE(stopped.Cancel());
    stopped.End(false);
    EXPECT_EQ(stopped.GetOutcome(), Outcome::Cancelled);
    DownloadProgressRules late;
    late.Activate();
    late.Cancel();
    late.End(true);
    EXPECT_EQ(late.GetOutcome(), Outcome::Done);
    DownloadProgressRules failed;
    failed.Activate();
    failed.End(false);
    EXPECT_EQ(failed.GetOutcome(), Outcome::Failed);
    // Stopped before it started: nothing to cancel, the window ends.
    DownloadProgressRules early;
    EXPECT_FALSE(early.Cancel());
    EXPECT_EQ(early.GetState(), State::Ended);
    EXPECT_EQ(early.GetOutcome(), Outcome::Cancelled);
    EXPECT_FALSE(early.Activate());

    // Waiting its turn: activations start nothing; stopped meanwhile, it never starts.
    DownloadProgressRules waiting;
    waiting.Wait();
    EXPECT_FALSE(waiting.Activate());
    EXPECT_TRUE(waiting.MayClose(true));
    EXPECT_TRUE(waiting.Release());
    EXPECT_TRUE(waiting.Activate());
    DownloadProgressRules dropped;
    dropped.Wait();
    EXPECT_FALSE(dropped.Cancel());
    EXPECT_EQ(dropped.GetOutcome(), Outcome::Cancelled);
    EXPECT_FALSE(dropped.Release());
    EXPECT_FALSE(dropped.Activate());
}

TEST(DownloadTurns, FourRunTheRestWaitAndStartInOrder) {
    transfer::DownloadTurns turns(transfer::kMaxRunningDownloads);
    for (int id = 1; id <= 4; ++id) EXPECT_TRUE(turns.Arrive(id));
    for (int id = 5; id <= 7; ++id) EXPECT_FALSE(turns.Arrive(id));
    EXPECT_EQ(turns.RunningCount(), 4);
    EXPECT_EQ(turns.WaitingCount(), 3);

    // A waiting one that goes frees no turn and is skipped; a running one that ends passes its turn on.
    EXPECT_EQ(turns.Leave(5), std::nullopt);
    EXPECT_EQ(turns.Leave(2), std::optional<int>(6));
    EXPECT_EQ(turns.Leave(2), std::nullopt);  // told twice: once counts
    EXPECT_EQ(turns.Leave(1), std::optional<int>(7));
    EXPECT_EQ(turns.Leave(3), std::nullopt);
    EXPECT_EQ(turns.RunningCount(), 3);
    EXPECT_TRUE(turns.Arrive(8));
    EXPECT_FALSE(turns.Arrive(9));
}

TEST(DownloadProgressRules, PercentAndTexts) {
    EXPECT_EQ(DownloadProgressRules::Percent(1, 3), 33);
    EXPECT_EQ(DownloadProgressRules::Percent(2, 3), 67);
    EXPECT_EQ(DownloadProgressRules::Percent(5'000'000'000LL, 10'000'000'000LL), 50);  // beyond 32 bits
    EXPECT_EQ(DownloadProgressRules::Percent(12, 10), 100);
    EXPECT_EQ(DownloadProgressRules::Percent(12, 0), -1);

    // The folder is named as it is on this system, below the home folder from "~".
    EXPECT_EQ(
        DownloadProgressRules::SavedLine(QDir::homePath() + QStringLiteral("/문서/Pelio 받은파일/a&b.txt")),
        QStringLiteral("\r\n<br><font size=2 color=blue><a href='explorer::") + QDir::homePath() +
            QStringLiteral(
                "/문서/Pelio 받은파일/a&amp;b.txt'>~/문서/Pelio 받은파일</a>"
                "</font><font color=gray size=2> 폴더에 </font><font size=2 color=black><b>"
                "a&amp;b.txt</b> </font><font color=gray size=2>파일이 저장되었습니다.</font><br>\r\n"));
    EXPECT_EQ(
        DownloadProgressRules::SavedLine(QStringLiteral("/r/a.txt")),
        QStringLiteral("\r\n<br><font size=2 color=blue><a href='explorer::/r/a.txt'>/r</a>"
                       "</font><font color=gray size=2> 폴더에 </font><font size=2 color=black><b>a.txt</b> "
                       "</font><font color=gray size=2>파일이 저장되었습니다.</font><br>\r\n"));
    // The name from the agent's address is text.
    EXPECT_EQ(DownloadProgressRules::FailedNotice(QStringLiteral("http://h/x/<i>a&b.txt?v=1")),
              QStringLiteral("<b>&lt;i&gt;a&amp;b.txt</b> 파일 전송에 실패하였습니다.</b>"));
    EXPECT_EQ(DownloadProgressRules::CancelledNotice(QStringLiteral("http://h/x/a.txt")),
              QStringLiteral("<b>a.txt</b> 파일 받기를 취소하였습니다."));
    EXPECT_TRUE(DownloadProgressRules::IsLastOfBatch(QStringLiteral("http://h/x/Last.TXT?x=1"),
                                                     QStringLiteral("last.txt")));
    EXPECT_FALSE(DownloadProgressRules::IsLastOfBatch(QStringLiteral("http://h/x/"), QString()));
}

// The saved line's link, as the chat view hands it to its link handler, shows the saved file even
// when its path holds blanks, quotes, ampersands, percent signs and Korean.
TEST(DownloadProgressRules, TheSavedLineOpensTheFile) {
    const QString local = QStringLiteral("/home/u/Pelio 받은파일/(1)보고서 a%20b's & c #1.txt");
    const QRegularExpression href(QStringLiteral("href='([^']*)'"));
    const QRegularExpressionMatch m = href.match(DownloadProgressRules::SavedLine(local));
    ASSERT_TRUE(m.hasMatch());
    QString attribute = m.captured(1);
    attribute.replace(QStringLiteral("&#39;"), QStringLiteral("'"))
        .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    // The browser engine reports the link's address as QUrl reads it.
    const transfer::ChatNavigation n = transfer::DecideChatNavigation(
        QUrl(attribute).toString(), [&](const QString& path) { return path == local; });
    EXPECT_EQ(n.kind, transfer::ChatNavigation::ShowInFileManager);
    EXPECT_EQ(n.target, local);
}

namespace {

struct Told {
    QStringList lines;
    QList<std::pair<QString, int>> notices;
};

}  // namespace

TEST(DownloadWindows, TellWhatBecameOfEveryFile) {
    test::TempFolder files, received;
    ASSERT_TRUE(QDir().mkpath(files.file(QStringLiteral("1234"))));
    test::WriteFileBytes(files.file(QStringLiteral("1234/a.txt")), "a");
    test::WriteFileBytes(files.file(QStringLiteral("1234/b.txt")), "b");
    tools::ReferenceService service(QJsonObject{}, files.path(), tools::ReferenceService::TestEndpoints::On);
    const int port = service.Start();
    ASSERT_GT(port, 0);
    const auto url = [&](const QString& path) {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(port).arg(path);
    };

    app::AppContext context;
    Told told;
    auto windows = std::make_unique<transfer::DownloadWindows>(
        context, [] { return nullptr; }, [&](const QString& html) { told.lines << html; },
        [&](const QString& text, int colour) { told.notices << std::make_pair(text, colour); });
    const auto start = [&](const QString& name, const QString& path, const QString& title = QString()) {
        context.FileTransferBusy = true;
        windows->StartDownload(received.file(name), url(path), title.isEmpty() ? name : title);
    };
    const auto allEnded = [&] { return test::WaitFor([&] { return windows->Windows().isEmpty(); }, 60000); };

    // The batch's last file fails: no batch-complete line.
    context.LastBatchFile = QStringLiteral("MISSING.TXT");
    start(QStringLiteral("a.txt"), QStringLiteral("userfiles/1234/a.txt"));
    start(QStringLiteral("missing.txt"), QStringLiteral("userfiles/1234/missing.txt"));
    ASSERT_EQ(windows->Windows().size(), 2);
    transfer::frmDownProgress* first = windows->Windows().first();
    EXPECT_EQ(first->windowTitle(), QStringLiteral("파일 다운로드"));
    EXPECT_EQ(test::ControlsWithoutAccessibleName(first), QStringList());
    ASSERT_TRUE(allEnded());
    EXPECT_FALSE(context.FileTransferBusy);
    ASSERT_EQ(told.lines.size(), 1);
    EXPECT_EQ(told.lines[0], DownloadProgressRules::SavedLine(received.file(QStringLiteral("a.txt"))));
    ASSERT_EQ(told.notices.size(), 1);
    EXPECT_EQ(told.notices[0],
              std::make_pair(
                  DownloadProgressRules::FailedNotice(url(QStringLiteral("userfiles/1234/missing.txt"))), 4));

    // The batch's last file arrives: its line, then the batch-complete line.
    told = {};
    context.LastBatchFile = QStringLiteral("B.TXT");
    start(QStringLiteral("b.txt"), QStringLiteral("userfiles/1234/b.txt"));
    ASSERT_TRUE(allEnded());
    EXPECT_EQ(told.lines,
              QStringList({DownloadProgressRules::SavedLine(received.file(QStringLiteral("b.txt"))),
                           DownloadProgressRules::BatchCompleteLine()}));
    EXPECT_EQ(test::ReadFileBytes(received.file(QStringLiteral("b.txt"))), "b");

    // The customer stops a download that would never end; the title is shown as text.
    told = {};
    start(QStringLiteral("endless"), QStringLiteral("_test/endless"), QStringLiteral("<b>endless</b>"));
    transfer::frmDownProgress* window = windows->Windows().value(0);
    ASSERT_TRUE(window);
    const auto* title = window->findChild<QLabel*>(QStringLiteral("lblTitle"));
    EXPECT_EQ(title->text(), QStringLiteral("<b>endless</b>"));
    EXPECT_EQ(title->textFormat(), Qt::PlainText);
    ASSERT_TRUE(test::WaitFor([&] { return window->Rules().GetState() == State::Running; }));
    window->findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
    ASSERT_TRUE(allEnded());
    ASSERT_EQ(told.notices.size(), 1);
    EXPECT_EQ(told.notices[0].second, 6);
    EXPECT_EQ(QDir(received.path()).entryList(QDir::Files),
              QStringList({QStringLiteral("a.txt"), QStringLiteral("b.txt")}));
}

// Six files at once from a server that takes the connections and never answers: four download, two
// wait and say so; a waiting window that is closed never starts, and the next one starts when a
// running one ends.
TEST(DownloadWindows, AtMostFourRunAndTheOthersWaitTheirTurn) {
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    QStringList requested;  // the request lines' paths, as they come
    QObject::connect(&silent, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = silent.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [&requested, socket] {
                if (!socket->canReadLine()) return;
                requested << QString::fromLatin1(socket->readLine()).section(u' ', 1, 1);
                QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
            });
        }
    });
    test::TempFolder received;
    app::AppContext context;
    Told told;
    auto windows = std::make_unique<transfer::DownloadWindows>(
        context, [] { return nullptr; }, [&](const QString& html) { told.lines << html; },
        [&](const QString& text, int colour) { told.notices << std::make_pair(text, colour); });
    const auto url = [&](int n) {
        return QStringLiteral("http://127.0.0.1:%1/%2.txt").arg(silent.serverPort()).arg(n);
    };
    for (int n = 1; n <= 6; ++n)
        windows->StartDownload(received.file(QStringLiteral("%1.txt").arg(n)), url(n), QString());
    const QList<transfer::frmDownProgress*> opened = windows->Windows();
    ASSERT_EQ(opened.size(), 6);
    QList<QPointer<transfer::frmDownProgress>> w;
    for (transfer::frmDownProgress* window : opened) w << window;
    const auto state = [&](int i) { return w[i] ? w[i]->Rules().GetState() : State::Ended; };
    const auto saysWaiting = [&](int i) {
        return w[i]->findChild<QLabel*>(QStringLiteral("lblWaiting"))->isVisible();
    };

    // The first four, in whatever order their connections come.
    ASSERT_TRUE(test::WaitFor([&] { return requested.size() == 4; }));
    QStringList first = requested;
    first.sort();
    EXPECT_EQ(first, QStringList({QStringLiteral("/1.txt"), QStringLiteral("/2.txt"),
                                  QStringLiteral("/3.txt"), QStringLiteral("/4.txt")}));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(state(i), State::Running) << i;
    EXPECT_EQ(state(4), State::Waiting);
    EXPECT_EQ(state(5), State::Waiting);
    EXPECT_TRUE(saysWaiting(4));
    EXPECT_FALSE(saysWaiting(0));

    // The fifth is closed while it waits: told as cancelled, and nobody's turn comes.
    w[4]->close();
    ASSERT_EQ(told.notices.size(), 1);
    EXPECT_EQ(told.notices[0], std::make_pair(DownloadProgressRules::CancelledNotice(url(5)), 6));
    EXPECT_EQ(state(5), State::Waiting);

    // The customer stops the first: the sixth starts, the fifth never does.
    w[0]->findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
    ASSERT_TRUE(test::WaitFor([&] { return requested.size() == 5; }));
    EXPECT_EQ(requested.last(), QStringLiteral("/6.txt"));
    EXPECT_EQ(state(5), State::Running);
    EXPECT_FALSE(saysWaiting(5));
    ASSERT_TRUE(test::WaitFor([&] { return told.notices.size() == 2; }));
    EXPECT_EQ(told.notices[1], std::make_pair(DownloadProgressRules::CancelledNotice(url(1)), 6));
    EXPECT_TRUE(told.lines.isEmpty());
    windows.reset();
}
