// The chat window with a long conversation, offscreen: appending one chat line to a conversation of
// 1,000 lines (until the browser control's document holds it) and saving that transcript, median of
// 50 each; the browser engine's memory (PSS of this process and its helpers) after 1,000 lines.
// Side by side in the same run: the same lines appended to a QTextBrowser. The append is timed until a
// script run after it has read the document back, so it includes one such read, timed on its own too.
// Usage: pelio-chat-bench [LINES] [ROUNDS]   (defaults 1000 and 50)
#include "BenchSupport.h"
#include "app/AppContext.h"
#include "platform/FakeServices.h"
#include "session/ChatLink.h"
#include "transfer/frmChat.h"
#include "util/gui/BrowserEngine.h"
#include "util/gui/HtmlView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextBrowser>

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace pelio;
using pelio::bench::Median;
using pelio::bench::PssKb;
using pelio::bench::Until;

namespace {

class IdleLink : public session::ChatLink {
  public:
    bool Connected() const override { return true; }
    void SendChatLine(const QString&) override {}
    void SendMessage(const QString&) override {}
    void MinimizeMainWindow() override {}
    void RestoreMainWindow() override {}
    void CloseConnectedNotice() override {}
};

// The number of line breaks in the view's document, read back from the page.
int DocumentBreaks(util::HtmlView* view) {
    int breaks = -1;
    bool done = false;
    view->RunDomScript(QStringLiteral("document.getElementsByTagName('br').length"), [&](const QVariant& v) {
        breaks = v.toInt();
        done = true;
    });
    Until([&] { return done; });
    return breaks;
}

QString Line(int i) {
    return QStringLiteral(
               "\r\n<br><font size=2 color=#008000>상담원 (2026-12-07 오후 4:05:09)</font>:<br><font "
               "face='굴림' color='#000000'><span style='font-size:11pt;'>%1번째 줄입니다. 화면을 확인해 "
               "주세요.</span></font><br>\r\n")
        .arg(i);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    util::PrepareBrowserEngine();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;

    QTemporaryDir folder;
    app::AppContext context;
    context.AppFolder = folder.path();
    context.IniFile = folder.filePath(QStringLiteral("PelioRS.ini"));
    context.HistoryFolder = folder.filePath(QStringLiteral("history"));
    context.DeptCode = QStringLiteral("1234");
    platform::FakeServices fakes;
    IdleLink link;
    transfer::frmChat chat(context, fakes.services, link);
    chat.show();
    auto* view = chat.findChild<util::HtmlView*>(QStringLiteral("webChat"));
    const int startBreaks = DocumentBreaks(view);

    QElapsedTimer fill;
    fill.start();
    for (int i = 0; i < lines; ++i) chat.Conversation().ShowAgentLine(Line(i));
    Until([&] { return DocumentBreaks(view) >= startBreaks + 3 * lines; }, 300000);
    const double fillMs = fill.elapsed();
    const qint64 pss = PssKb(getpid());

    std::vector<double> append, save, roundTrip;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer probe;
        probe.start();
        DocumentBreaks(view);
        roundTrip.push_back(probe.nsecsElapsed() / 1e6);
    }
    for (int r = 0; r < rounds; ++r) {
        const int before = DocumentBreaks(view);
        QElapsedTimer t;
        t.start();
        chat.Conversation().ShowAgentLine(Line(lines + r));
        Until([&] { return DocumentBreaks(view) >= before + 3; });
        append.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        chat.SaveTranscript(false);
        save.push_back(t.nsecsElapsed() / 1e6);
    }
    const qint64 transcriptBytes = QFile(chat.TranscriptPath()).size();

    // The peer: a QTextBrowser holding the same lines.
    QTextBrowser browser;
    browser.resize(520, 400);
    browser.show();
    for (int i = 0; i < lines; ++i) browser.insertHtml(Line(i));
    std::vector<double> peerAppend;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        browser.moveCursor(QTextCursor::End);
        browser.insertHtml(Line(lines + r));
        QCoreApplication::processEvents();
        peerAppend.push_back(t.nsecsElapsed() / 1e6);
    }

    std::printf("conversation of %d lines, %d rounds (offscreen)\n", lines, rounds);
    std::printf("filling %d lines into the chat view          %8.0f ms\n", lines, fillMs);
    std::printf("append one line, chat view (until in the DOM) median %7.2f ms\n", Median(append));
    std::printf("  of which reading the DOM back (one script)    median %7.2f ms\n", Median(roundTrip));
    std::printf("append one line, QTextBrowser (peer)          median %7.2f ms\n", Median(peerAppend));
    std::printf("save the transcript (%lld bytes)             median %7.2f ms\n",
                static_cast<long long>(transcriptBytes), Median(save));
    std::printf("PSS of the program and its browser engine after %d lines: %lld MiB\n", lines,
                static_cast<long long>(pss / 1024));
    return 0;
}
