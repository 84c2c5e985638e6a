#include "session/ProgramSession.h"

#include "app/AppContext.h"
#include "platform/Services.h"
#include "secure/Pin.h"
#include "secure/TlsTunnel.h"
#include "server/VncServerComponent.h"
#include "session/MessageDispatcher.h"
#include "session/ScreenViewHost.h"
#include "session/SessionController.h"
#include "session/SessionLog.h"
#include "session/SessionPeers.h"
#include "util/core/Paths.h"
#include "viewer/VncViewerComponent.h"
#include "web/HttpTransport.h"
#include "web/ServiceEndpoints.h"

#include <unistd.h>

namespace pelio::session {

namespace {

// The agent's commands, run through the platform services.
class PlatformCommands : public SessionCommands {
  public:
    explicit PlatformCommands(platform::Services& services) : m_services(services) {}
    void RunCommandLine(const QString& commandLine) override {
        if (!m_services.desktop->RunCommandLine(commandLine))
            qCWarning(lcSession) << "could not run" << commandLine;
    }
    void OpenAddress(const QString& address) override { m_services.shell->Open(address); }
    void OpenFileManager() override { m_services.files->ShowDefault(); }
    void ToggleShowDesktop() override {
        if (!m_services.desktop->ToggleShowDesktop()) qCWarning(lcSession) << "no show-desktop state here";
    }
    void PressHangulKey() override {
        if (!m_services.desktop->PressHangulKey())
            qCWarning(lcSession) << "the Hangul key could not be pressed";
    }

  private:
    platform::Services& m_services;
};

// The viewer of the agent's screen: through TLS on the agent's key when the session has the agent's
// pin (a server with another key is refused, as an unreachable one is), plain otherwise.
std::unique_ptr<components::ViewerComponent> MakeViewer(const QString& agentPin) {
    auto viewer = std::make_unique<components::VncViewerComponent>();
    if (agentPin.isEmpty()) return viewer;
    const std::optional<components::secure::Pin> pin = components::secure::ParsePin(QStringView(agentPin));
    viewer->SetSocketWrap([pin](int socket, const std::function<bool()>& cancelled,
                                std::shared_ptr<void>& keep, std::string& why) {
        if (!pin) {
            close(socket);
            why = "the agent's pin is not a pin";
            return -1;
        }
        components::secure::TlsTunnel::Options options;
        options.cancelled = cancelled;
        auto failure = components::secure::TlsTunnel::Failure::None;
        std::shared_ptr<components::secure::TlsTunnel> tunnel =
            components::secure::TlsTunnel::Connect(socket, *pin, options, &failure);
        if (!tunnel) {
            why = components::secure::TlsTunnel::FailureText(failure);
            return -1;
        }
        keep = tunnel;
        return tunnel->TakePlainFd();
    });
    return viewer;
}

SessionController::Hooks ProgramHooks(app::AppContext& context, const web::ServiceRoots& roots,
                                      const platform::Clock& clock) {
    SessionController::Hooks hooks;
    hooks.nowMs = [&clock] { return clock.NowMs(); };
    hooks.lookupPublicIp = [roots, &context] { return web::LookupPublicIp(roots, context); };
    hooks.waitResponsive = [](int ms) { web::WaitResponsive(ms); };
    hooks.pumpEvents = [] { web::PumpPendingEvents(); };
    hooks.newHistoryPaths = [&context] {
        return util::NewHistorySessionPaths(context.HistoryFolder, context.DeptCode, context.DeptName);
    };
    return hooks;
}

// The parts the controller works with, made before it.
struct ProgramParts {
    ProgramParts(app::AppContext& context, platform::Services& services, SessionView& view,
                 std::function<QString()> agentAddress)
        : roots(web::LoadServiceRoots(context.IniFile)),
          commands(services),
          screen(
              context, *services.windows, [this] { return MakeViewer(component.AgentPin()); },
              {[clock = services.clock.get()] { return clock->NowMs(); },
               [](int ms) { web::WaitResponsive(ms); }},
              std::move(agentAddress), view.OwnerWindow()) {}

    web::ServiceRoots roots;
    components::VncServerComponent component;
    PlatformCommands commands;
    ScreenViewHost screen;
};

// The controller is the session the window holds; the parts, the windows' peers and the dispatcher
// live with it.
class ProgramSession : private ProgramParts, public SessionController {
  public:
    ProgramSession(app::AppContext& context, platform::Services& services, SessionView& view,
                   const ChatFactory& makeChat, const DownloadFactory& makeDownloads)
        : ProgramParts(context, services, view, [this] { return CurrentServerIP(); }),
          SessionController(context, component, view, nullptr,
                            ProgramHooks(context, roots, *services.clock)) {
        m_chat = makeChat(*this);
        SetChat(*m_chat);
        m_downloads = makeDownloads(*m_chat);
        m_dispatcher = std::make_unique<MessageDispatcher>(
            context, *this, view, MessageDispatcher::Peers{*m_chat, *m_downloads, screen, commands},
            roots.ServiceRoot, [this, &context] { return ListedAgents(context); });
        SetDispatcher(m_dispatcher.get());
        Prepare();
    }
    ~ProgramSession() override { SetDispatcher(nullptr); }

    void SetClipboardSharing(bool on) override {
        SessionController::SetClipboardSharing(on);
        screen.SetClipboardSharing(on);
    }

  private:
    std::optional<QList<ListedAgent>> ListedAgents(const app::AppContext& context) const {
        const web::AgentListReply reply = web::FetchAgentList(roots, context.DeptCode);
        if (reply.Outcome != web::AgentListOutcome::Listed) return std::nullopt;
        QList<ListedAgent> agents;
        for (const web::AgentRecord& record : reply.Records)
            agents.push_back(
                {record.Name, record.PublicAddress, record.LocalAddress, record.Port, record.Pin});
        return agents;
    }

    std::unique_ptr<ChatPeer> m_chat;
    std::unique_ptr<DownloadPeer> m_downloads;
    std::unique_ptr<MessageDispatcher> m_dispatcher;
};

}  // namespace

std::unique_ptr<SessionSeam> CreateProgramSession(app::AppContext& context, platform::Services& services,
                                                  SessionView& view, const ChatFactory& makeChat,
                                                  const DownloadFactory& makeDownloads) {
    return std::make_unique<ProgramSession>(context, services, view, makeChat, makeDownloads);
}

}  // namespace pelio::session
