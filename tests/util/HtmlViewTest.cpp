#include "support/ScriptedDialogs.h"
#include "support/Wait.h"
#include "util/gui/HtmlUtil.h"
#include "util/gui/HtmlView.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <vector>

using namespace pelio::util;
using pelio::test::WaitFor;

namespace {

constexpr int kDeadlineMs = 20000;

// Runs a script in the view's own world and waits for its result.
QVariant Evaluate(HtmlView& view, const QString& script) {
    bool done = false;
    QVariant result;
    view.RunDomScript(script, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return done; }, kDeadlineMs)) << script.toStdString();
    return result;
}

bool LoadAndWait(HtmlView& view, const QString& html) {
    QSignalSpy loaded(&view, &HtmlView::documentLoaded);
    view.LoadHtml(html);
    return loaded.wait(kDeadlineMs) && loaded.first().first().toBool();
}

// A one-shot HTTP server on 127.0.0.1: records each complete request and answers it with a page, or
// keeps the connection open without answering.
class TinyHttpServer : public QObject {
  public:
    explicit TinyHttpServer(bool answer = true) : m_answer(answer) {
        EXPECT_TRUE(m_server.listen(QHostAddress::LocalHost, 0));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                ++connections;
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnData(socket); });
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
    }

    int connections = 0;
    std::vector<QByteArray> requests;  // head and body of each complete request

  private:
    void OnData(QTcpSocket* socket) {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0) return;
        qsizetype length = 0;
        for (const QByteArray& line : buffer.left(end).split('\n'))
            if (line.toLower().startsWith("content-length:")) length = line.mid(15).trimmed().toLongLong();
        if (buffer.size() < end + 4 + length) return;
        requests.push_back(buffer.left(end + 4 + length));
        buffer.clear();
        if (!m_answer) return;
        const QByteArray body = "<html><body><p id=answer>served</p></body></html>";
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    bool m_answer;
    std::map<QTcpSocket*, QByteArray> m_buffers;
};

class HtmlViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        view = std::make_unique<HtmlView>();
        view->resize(480, 320);
        view->SetNavigationHook([this](const HtmlView::Navigation& n) {
            navigations.push_back(n);
            return false;
        });
    }

    std::unique_ptr<HtmlView> view;
    std::vector<HtmlView::Navigation> navigations;
};

}  // namespace

TEST_F(HtmlViewTest, PageScriptsAndHandlersInAppendedContentDoNotRun) {
    ASSERT_TRUE(LoadAndWait(
        *view, QStringLiteral("<html><head><title>t</title></head><body>"
                              "<script>document.title='page script ran'</script></body></html>")));
    AppendHtml(view.get(),
               QStringLiteral("<img id=i src='nothing.png' onerror=\"document.title='onerror ran'\">"
                              "<script>document.title='appended script ran'</script><p id=p>둘</p>"));
    // Our own script still runs, after the append.
    EXPECT_EQ(Evaluate(*view, QStringLiteral("document.getElementById('p').textContent")).toString(),
              QStringLiteral("둘"));
    ASSERT_TRUE(WaitFor(
        [&] { return Evaluate(*view, QStringLiteral("document.getElementById('i').complete")).toBool(); },
        kDeadlineMs));
    EXPECT_EQ(Evaluate(*view, QStringLiteral("document.title")).toString(), QStringLiteral("t"));
}

TEST_F(HtmlViewTest, AppendsMadeWhileLoadingKeepTheirOrder) {
    view->LoadAddress(QStringLiteral("about:<html><body><div id=top>시작</div></body></html>"));
    for (int i = 0; i < 200; ++i) AppendHtml(view.get(), QStringLiteral("<p>%1</p>").arg(i));
    QStringList expected{QStringLiteral("시작")};
    for (int i = 0; i < 200; ++i) expected << QString::number(i);
    const QVariant text =
        Evaluate(*view, QStringLiteral("Array.from(document.body.children).map(e=>e.textContent).join(',')"));
    EXPECT_EQ(text.toString(), expected.join(u','));
}

TEST_F(HtmlViewTest, LinksAreReportedAndNotFollowed) {
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    ASSERT_TRUE(LoadAndWait(*view, QStringLiteral("<html><body style='margin:0'></body></html>")));
    AppendHtml(view.get(), QStringLiteral("<a id=same href='http://127.0.0.1:1/same' target=_self "
                                          "style='display:block;height:100px'>same</a>"
                                          "<a id=blank href='http://127.0.0.1:1/blank' target=_self "
                                          "style='display:block;height:100px'>blank</a>"));
    // The second link is made to open in a new window by AppendHtml, the first is set back to test
    // a plain link click.
    Evaluate(*view, QStringLiteral(
                        "document.getElementById('same').removeAttribute('target');window.scrollTo(0,0)"));
    EXPECT_EQ(Evaluate(*view, QStringLiteral("document.getElementById('blank').target")).toString(),
              QStringLiteral("_blank"));
    const QUrl before = view->url();
    QWidget* input = view->focusProxy() ? view->focusProxy() : view.get();

    QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(40, 50));
    ASSERT_TRUE(WaitFor([&] { return navigations.size() >= 1; }, kDeadlineMs));
    QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(40, 150));
    ASSERT_TRUE(WaitFor([&] { return navigations.size() >= 2; }, kDeadlineMs));

    EXPECT_EQ(navigations[0].url, QUrl(QStringLiteral("http://127.0.0.1:1/same")));
    EXPECT_EQ(navigations[0].kind, HtmlView::NavigationKind::Link);
    EXPECT_EQ(navigations[1].url, QUrl(QStringLiteral("http://127.0.0.1:1/blank")));
    EXPECT_EQ(navigations[1].kind, HtmlView::NavigationKind::NewWindow);
    // Still our document, still working.
    EXPECT_EQ(view->url(), before);
    EXPECT_EQ(Evaluate(*view, QStringLiteral("document.links.length")).toInt(), 2);
}

TEST_F(HtmlViewTest, MetaRefreshInAppendedContentIsRefused) {
    ASSERT_TRUE(LoadAndWait(*view, QStringLiteral("<html><body>x</body></html>")));
    const QUrl before = view->url();
    AppendHtml(view.get(),
               QStringLiteral("<meta http-equiv=refresh content='0;url=http://127.0.0.1:1/away'>"));
    ASSERT_TRUE(WaitFor([&] { return !navigations.empty(); }, kDeadlineMs));
    EXPECT_EQ(navigations[0].url, QUrl(QStringLiteral("http://127.0.0.1:1/away")));
    EXPECT_EQ(view->url(), before);
}

TEST_F(HtmlViewTest, PostCarriesBodyAndContentType) {
    TinyHttpServer server;
    QSignalSpy loaded(view.get(), &HtmlView::documentLoaded);
    const QByteArray body = "code=1234&name=%C8%AB%B1%E6%B5%BF";
    view->PostTo(QUrl(server.url(QStringLiteral("/notice"))), body);
    ASSERT_TRUE(loaded.wait(kDeadlineMs));
    EXPECT_TRUE(loaded.first().first().toBool());
    ASSERT_EQ(server.requests.size(), 1u);
    const QByteArray& request = server.requests[0];
    EXPECT_TRUE(request.startsWith("POST /notice HTTP/1.1\r\n")) << request.left(40).toStdString();
    EXPECT_TRUE(request.toLower().contains("\r\ncontent-type: application/x-www-form-urlencoded\r\n"));
    EXPECT_TRUE(request.endsWith("\r\n\r\n" + body));
    EXPECT_EQ(Evaluate(*view, QStringLiteral("document.getElementById('answer').textContent")).toString(),
              QStringLiteral("served"));
}

TEST_F(HtmlViewTest, RefusedConnectionAndTimeLimitRaiseTheFailureSignal) {
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    QSignalSpy failed(view.get(), &HtmlView::loadFailed);
    view->LoadUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort)));
    ASSERT_TRUE(failed.wait(kDeadlineMs));
    EXPECT_EQ(failed.first().first().toUrl().port(), closedPort);

    TinyHttpServer silent(false);
    view->SetLoadTimeLimit(300);
    view->LoadUrl(QUrl(silent.url(QStringLiteral("/slow"))));
    ASSERT_TRUE(WaitFor([&] { return failed.size() >= 2; }, kDeadlineMs));
    EXPECT_EQ(failed.at(1).at(1).toString(), QStringLiteral("timeout"));
    EXPECT_FALSE(view->IsLoading());
}

TEST_F(HtmlViewTest, LargeDocumentsLoadWhole) {
    QString html = QStringLiteral("<html><body><pre>");
    const QString line = QStringLiteral("가나다라마바사아자차카타파하 0123456789\n");
    while (html.size() < 1500000) html += line;  // over 3 MB as UTF-8
    html += QStringLiteral("</pre><p id=end>끝</p></body></html>");
    ASSERT_GT(html.toUtf8().size(), 3 * 1000 * 1000);
    ASSERT_TRUE(LoadAndWait(*view, html));
    EXPECT_EQ(Evaluate(*view, QStringLiteral("document.getElementById('end').textContent")).toString(),
              QStringLiteral("끝"));
}

TEST_F(HtmlViewTest, RemoteResourcesOnlyWhenAllowed) {
    TinyHttpServer server;
    ASSERT_TRUE(LoadAndWait(*view, QStringLiteral("<html><body></body></html>")));
    AppendHtml(view.get(), QStringLiteral("<img id=a src='%1'>").arg(server.url(QStringLiteral("/a.png"))));
    ASSERT_TRUE(WaitFor(
        [&] { return Evaluate(*view, QStringLiteral("document.getElementById('a').complete")).toBool(); },
        kDeadlineMs));
    EXPECT_EQ(server.connections, 0);

    view->SetRemoteResourcesAllowed(true);
    AppendHtml(view.get(), QStringLiteral("<img id=b src='%1'>").arg(server.url(QStringLiteral("/b.png"))));
    EXPECT_TRUE(WaitFor([&] { return !server.requests.empty(); }, kDeadlineMs));
}

TEST_F(HtmlViewTest, PickedBackgroundIsSetOnTheBody) {
    pelio::test::ScriptedDialogs dialogs;
    ASSERT_TRUE(LoadAndWait(*view, QStringLiteral("<html><body></body></html>")));
    dialogs.colorAnswers = {0x0000FF, 0, std::nullopt};
    EXPECT_EQ(PickPageBackground(nullptr, view.get(), true), QStringLiteral("#FF8080"));
    EXPECT_EQ(PickPageBackground(nullptr, view.get(), false), QString());  // black counts as no choice
    EXPECT_EQ(PickPageBackground(nullptr, view.get(), false), QString());  // cancelled
    EXPECT_EQ(Evaluate(*view, QStringLiteral("document.body.style.backgroundColor")).toString(),
              QStringLiteral("rgb(255, 128, 128)"));
    EXPECT_TRUE(dialogs.colorRequests.at(0).fullPanel);
}

TEST(HtmlViewWithoutDocument, AppendDoesNothing) {
    HtmlView view;
    bool called = false;
    AppendHtml(&view, QStringLiteral("<p>x</p>"));
    view.RunDomScript(QStringLiteral("1"), [&](const QVariant&) { called = true; });
    EXPECT_FALSE(view.HasDocument());
    EXPECT_FALSE(called);
}
