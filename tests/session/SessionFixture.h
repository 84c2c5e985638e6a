// The fixture of the session tests: the controller and the dispatcher against the fake server
// component and recording doubles of the window and the peers.
#pragma once

#include "SessionDoubles.h"
#include "app/AppContext.h"
#include "app/ValueCipher.h"
#include "platform/Clock.h"
#include "server/FakeServerComponent.h"
#include "session/MessageDispatcher.h"
#include "session/SessionController.h"

#include <gtest/gtest.h>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace pelio::session::test {

class SessionTest : public ::testing::Test {
  protected:
    SessionTest() {
        context.MachineCode = QStringLiteral("M1");
        context.CustomerName = QStringLiteral("홍길동");
        context.ReceivedFolder = folder.path() + QStringLiteral("/받은 파일");
        SessionController::Hooks hooks;
        hooks.lookupPublicIp = [this] { return publicIp; };
        hooks.waitResponsive = [](int) {};
        hooks.pumpEvents = [] {};
        hooks.newHistoryPaths = [this] {
            return util::HistorySessionPaths{folder.path() + QStringLiteral("/rec.htm"),
                                             folder.path() + QStringLiteral("/rec.srf")};
        };
        hooks.nowMs = [this] { return clock.NowMs(); };
        session = std::make_unique<SessionController>(context, component, view, &peers, hooks);
        dispatcher = std::make_unique<MessageDispatcher>(
            context, *session, view, MessageDispatcher::Peers{peers, peers, peers, peers},
            QStringLiteral("http://svc.example/"), [this] { return listed; });
        session->SetDispatcher(dispatcher.get());
    }

    static session::ConnectRequest Pick(const QString& port, const QString& publicAddress = "203.0.113.9",
                                        const QString& pin = QString()) {
        return {session::AgentChoice{QStringLiteral("김상담"), port, publicAddress,
                                     QStringLiteral("10.0.0.9"), pin},
                QString()};
    }
    // Connects from the list to an agent the service vouches for (or, with no pin, one it does not)
    // and lets the agent's program take the link; what the peers saw until then is forgotten.
    void Connect(const QString& pin = kAgentPin) {
        session->RequestConnect(Pick(QStringLiteral("5500"), QStringLiteral("203.0.113.9"), pin));
        agentLink = component.SimulateConnected(QStringLiteral("203.0.113.9"));
        peers.calls.clear();
    }
    inline static const QString kAgentPin = QStringLiteral("sha256//agent");
    int agentLink = 1;  // the link of the agent that Connect admitted
    QStringList Sent() const {
        QStringList plain;
        for (const QString& text : component.sent) plain << pelio::app::DecryptValue(text);
        return plain;
    }
    void FromAgent(const QString& message) {
        component.SimulateText(pelio::app::EncryptValue(message), agentLink);
    }
    // The peers' calls without the session's notices, and the notices alone.
    QStringList Actions() const {
        QStringList actions;
        for (const QString& call : peers.calls)
            if (!call.startsWith(QLatin1String("common:"))) actions << call;
        return actions;
    }
    QStringList Notices() const { return peers.calls.filter(QRegularExpression(QStringLiteral("^common:"))); }
    // The agent offers files and the customer accepts.
    void AcceptedOffer(const QStringList& names) {
        view.answers = {true};
        FromAgent(FileOfferMessage(names));
    }

    pelio::platform::ManualClock clock;
    QTemporaryDir folder;
    pelio::app::AppContext context;
    pelio::components::FakeServerComponent component;
    RecordingView view;
    RecordingPeers peers;
    QString publicIp = QStringLiteral("198.51.100.1");
    // The company's agents as the service lists them; nothing when the list cannot be fetched.
    std::optional<QList<ListedAgent>> listed =
        QList<ListedAgent>{{QStringLiteral("이영희"), QStringLiteral("198.51.100.1"),
                            QStringLiteral("10.0.0.20"), QStringLiteral("5600"), QString()},
                           {QStringLiteral("박철수"), QStringLiteral("1.2.3.4"), QStringLiteral("10.0.0.5"),
                            QStringLiteral("5600"), QString()}};
    std::unique_ptr<SessionController> session;
    std::unique_ptr<MessageDispatcher> dispatcher;
};

}  // namespace pelio::session::test
