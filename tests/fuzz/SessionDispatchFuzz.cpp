// Drives a session with messages of any shape in any order: the input is cut at line breaks into
// message texts that the admitted agent sends (encrypted, as on the wire; a line starting with "!"
// travels unencrypted, as a peer that does not know the cipher would send it). Questions are answered
// from the input, and a "?" line makes the next question run another message first, as window events
// would while it waits. Checks: no crash; every download lands directly in the received-files
// folder; no download runs without an accepted offer that named its file (each offered name once);
// the collected chat line stays within its bound.
#include "../session/SessionDoubles.h"
#include "app/AppContext.h"
#include "app/ValueCipher.h"
#include "server/FakeServerComponent.h"
#include "session/MessageDispatcher.h"
#include "session/SessionController.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdlib>

using namespace pelio;

namespace {

QTemporaryDir* g_folder = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    g_folder = new QTemporaryDir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QStringList lines =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)).split(u'\n');
    const QString received = g_folder->path() + QStringLiteral("/received");

    app::AppContext context;
    context.MachineCode = QStringLiteral("M");
    context.ReceivedFolder = received;
    context.PublicIP = QStringLiteral("1.2.3.4");
    components::FakeServerComponent component;
    // Two monitors, so that "monitor" reaches the component.
    component.monitors = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    session::test::RecordingView view;
    session::test::RecordingPeers peers;
    session::SessionController::Hooks hooks;
    hooks.waitResponsive = [](int) {};
    hooks.pumpEvents = [] {};
    auto controller = std::make_unique<session::SessionController>(context, component, view, &peers, hooks);
    // The company lists one agent, so that a move can go through.
    const QList<session::ListedAgent> agents{
        {QStringLiteral("A"), QStringLiteral("1.2.3.4"), QStringLiteral("10.0.0.1"), QStringLiteral("5500"), QString()}};
    session::MessageDispatcher dispatcher(context, *controller, view,
                                          session::MessageDispatcher::Peers{peers, peers, peers, peers},
                                          QStringLiteral("http://svc/"), [&agents] { return agents; });
    controller->SetDispatcher(&dispatcher);

    int agent = 0;
    // A session that ended (by "end" or a failed change) is opened again, so that later lines count.
    auto ensureSession = [&] {
        if (controller->bConnected() && !controller->AgentChanging()) return;
        if (!controller->bConnected() && !controller->OpenSession(QStringLiteral("127.0.0.1"), 5500))
            std::abort();
        agent = component.SimulateConnected(QStringLiteral("127.0.0.1"));
    };
    ensureSession();

    qsizetype next = 0;
    bool nestNext = false;
    auto send = [&](const QString& line) {
        ensureSession();
        if (line.startsWith(u'!'))
            component.SimulateText(line.mid(1), agent);
        else
            component.SimulateText(app::EncryptValue(line), agent);
    };
    view.onAsk = [&] {
        if (!nestNext || next >= lines.size()) return;
        nestNext = false;
        send(lines[next++]);
    };
    while (next < lines.size()) {
        const QString line = lines[next++];
        if (line == u"?") {
            nestNext = true;
            continue;
        }
        view.answers.push_back(line.size() % 2 == 0);
        send(line);
    }

    // Replays the peers' calls: an acceptance takes the last offer shown before it (an offer made
    // while a question is open is refused without being shown).
    QStringList offered, accepted;
    for (const QString& call : peers.calls) {
        if (call.startsWith(QStringLiteral("offer:"))) {
            offered = session::OfferedFiles(call.mid(6));
        } else if (call == QStringLiteral("common:2:파일 전송을 수락하셨습니다.")) {
            accepted = offered;
        } else if (call.startsWith(QStringLiteral("download:"))) {
            const QString path = call.mid(9).section(u'|', 0, 0);
            if (QFileInfo(path).absolutePath() != received) std::abort();
            const QString address = call.mid(9).section(u'|', 1, 1);
            if (!accepted.removeOne(session::AgentFileBatch::NameOfAddress(address))) std::abort();
        }
    }
    if (dispatcher.Chat().Text().toUtf8().size() > session::ChatBuffer::kMaxLineBytes) std::abort();
    return 0;
}
