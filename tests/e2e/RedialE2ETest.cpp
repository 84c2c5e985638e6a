// A link that breaks under a running session, with the built programs: a relay between the customer's
// program and the agent resets the connection on both sides and refuses new ones, as a network that
// dropped the link does, until the program has been refused at least once; then it lets the next dial
// through. The session goes on: the agent takes the customer back, the chat keeps its lines and the
// one recording plays through the gap to the screen as it was after it.
#include "LinkRelay.h"
#include "SessionOnDisplay.h"
#include "recording/SrfReader.h"

#include <QFileInfo>

#include <X11/Xlib.h>

using namespace pelio::test;

namespace {

class RedialOnDisplay : public SessionOnDisplay {
  protected:
    // Company 1234's first agent at the relay (with the agent's pin when the link is secure).
    QJsonObject ServiceData() override {
        if (!relay) relay = std::make_unique<LinkRelay>(agent->port);
        QJsonObject data = WithAgentPort(SessionOnDisplay::ServiceData(), 0, relay->Port());
        if (pin.isEmpty()) return data;
        QJsonObject companies = data.value(QStringLiteral("companies")).toObject();
        QJsonObject company = companies.value(QStringLiteral("1234")).toObject();
        QJsonArray agents = company.value(QStringLiteral("agents")).toArray();
        QJsonObject first = agents.at(0).toObject();
        first.insert(QStringLiteral("pin"), pin);
        agents.replace(0, first);
        company.insert(QStringLiteral("agents"), agents);
        companies.insert(QStringLiteral("1234"), company);
        data.insert(QStringLiteral("companies"), companies);
        return data;
    }

    // A window in a colour of its own on the customer's screen, shown once the X server has mapped it.
    void ShowMark(unsigned long colour) {
        auto* d = static_cast<Display*>(display.display());
        const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 40, 40, 160, 100, 0, 0, colour);
        XSelectInput(d, w, StructureNotifyMask);
        XMapWindow(d, w);
        XEvent ev{};
        WaitFor([&] { return XCheckTypedWindowEvent(d, w, MapNotify, &ev); }, kWindowWaitMs);
        XSync(d, False);
    }

    void RideOutACut() {
        QProcess& program = StartAndConnect();
        ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData() << agent->Output().constData();
        agent->Send(QStringLiteral("\\chat 끊기기 전의 말"));
        ASSERT_TRUE(WaitLog(program, "끊기기 전의 말")) << log.constData();
        ASSERT_TRUE(WaitFor([&] { return History().size() == 1; }, kWindowWaitMs));
        const QString recording = History().first();

        relay->Cut();
        ASSERT_TRUE(WaitLog(program, "link lost: dialling")) << log.constData();
        EXPECT_TRUE(WaitFor(
            [&] {
                return TitleCount(kMainTitle1234 + QStringLiteral(" - 연결이 끊어져 다시 연결하는 중...")) ==
                       1;
            },
            kWindowWaitMs));
        // The agent lost the link as well and waits at its port for the customer to come back.
        EXPECT_TRUE(agent->WaitFor("disconnected\nlistening ")) << agent->Output().constData();
        ASSERT_TRUE(WaitLog(program, "dialling again failed")) << log.constData();
        ShowMark(0x12ab34);  // the screen changes during the gap: recorded all the same
        ASSERT_TRUE(relay->Resume());

        EXPECT_TRUE(agent->WaitFor("reconnected ")) << agent->Output().constData();
        EXPECT_TRUE(WaitLog(program, "the agent took the session again")) << log.constData();
        EXPECT_TRUE(
            WaitFor([&] { return TitleCount(kMainTitle1234 + QStringLiteral(" - 연결되었습니다.")) == 1; },
                    kWindowWaitMs));
        agent->Send(QStringLiteral("\\chat 다시 연결된 뒤의 말"));
        EXPECT_TRUE(WaitLog(program, "다시 연결된 뒤의 말")) << log.constData();
        ShowMark(0x3456cd);  // and after it
        const qint64 size = QFileInfo(recording).size();
        EXPECT_TRUE(WaitFor([&] { return QFileInfo(recording).size() > size; }, kWindowWaitMs));

        agent->Send(QStringLiteral("\\end"));
        EXPECT_TRUE(WaitFor(
            [&] {
                return Messages().contains(
                    QStringLiteral("원격지원이 정상적으로 종료되었습니다. 감사합니다."));
            },
            kWindowWaitMs));
        // One conversation with the lines from both sides of the gap.
        ASSERT_TRUE(AskToClose(QStringLiteral("상담원과 대화하기")));
        ASSERT_TRUE(WaitFor([&] { return !History(QStringLiteral("*.htm")).isEmpty(); }, kWindowWaitMs));
        QFile transcript(History(QStringLiteral("*.htm")).first());
        ASSERT_TRUE(transcript.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(transcript.readAll());
        EXPECT_TRUE(text.contains(QStringLiteral("끊기기 전의 말")));
        EXPECT_TRUE(text.contains(QStringLiteral("다시 연결된 뒤의 말")));

        // One recording, played through from its start to the screen after the gap.
        EXPECT_EQ(History(), QStringList{recording});
        pelio::components::SrfReader reader;
        ASSERT_TRUE(WaitFor([&] { return reader.Open(recording) == pelio::components::SrfOpenStatus::Ok; },
                            kWindowWaitMs));
        int played = 1;
        bool gapShown = false;
        while (reader.NextFrame()) {
            ++played;
            gapShown = gapShown || (reader.Screen().pixel(100, 90) & 0xffffff) == 0x12ab34u;
        }
        EXPECT_EQ(played, reader.FrameCount());
        EXPECT_TRUE(gapShown);
        EXPECT_EQ(reader.Screen().pixel(100, 90) & 0xffffff, 0x3456cdu);
    }

    std::unique_ptr<LinkRelay> relay;
    QString pin;  // the agent's pin as the service lists it; empty for a plain link
};

// The agent's link through TLS on its key.
class SecureRedialOnDisplay : public RedialOnDisplay {
  protected:
    void SetUp() override {
        const QString keyFile = keys.file(QStringLiteral("agent.pem"));
        QProcess keygen;
        keygen.start(QStringLiteral(PELIO_AGENT_EXECUTABLE), {QStringLiteral("keygen"), keyFile});
        keygen.waitForFinished(30000);
        pin = QString::fromUtf8(keygen.readAllStandardOutput()).trimmed();
        ASSERT_TRUE(pin.startsWith(QStringLiteral("sha256//"))) << pin.toStdString();
        agentOptions = {QStringLiteral("--key"), keyFile};
        RedialOnDisplay::SetUp();
    }
    TempFolder keys;
};

// The agent's console window takes the customer back in the same window, with the same chat pane.
class ConsoleRedialOnDisplay : public RedialOnDisplay {
  protected:
    void SetUp() override {
        agentCommand = QStringLiteral("console");
        RedialOnDisplay::SetUp();
    }
};

}  // namespace

TEST_F(ConsoleRedialOnDisplay, TheConsoleTakesTheCustomerBack) {
    RideOutACut();
}

TEST_F(RedialOnDisplay, ASessionRidesOutADroppedLink) {
    RideOutACut();
}

TEST_F(SecureRedialOnDisplay, ASecureSessionRidesOutADroppedLink) {
    RideOutACut();
}
