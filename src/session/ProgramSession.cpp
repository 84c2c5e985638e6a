#include "session/ProgramSession.h"

#include "app/AppContext.h"
#include "platform/Services.h"
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

namespace pelio::session {

namespace {

// Stand-ins for the chat window and the download windows (see the header).
class LoggingPeers : public ChatPeer, public DownloadPeer {
  public:
    LoggingPeers(app::AppContext& context, platform::Desktop& desktop)
        : m_context(context), m_desktop(desktop) {}
    void SetSession(SessionController* session) { m_session = session; }

    void OpenChat() override {
        qCInfo(lcSession) << "chat opened";
        if (m_context.PendingRequestText.isEmpty() || !m_session) return;
        const QString line = m_context.PendingRequestText;
        m_context.PendingRequestText.clear();
        m_session->SendChatLine(line);
    }
    void ShowAgentChat(const QString& html) override { qCInfo(lcSession).noquote() << "agent chat" << html; }
    void DisplayCommonMsg(const QString& text, int colour) override {
        qCInfo(lcSession).noquote() << "common" << colour << text;
    }
    void ShowFileOffer(const QString& list) override {
        qCInfo(lcSession).noquote() << "file offer" << list;
        // The customer's attention is drawn to the question that follows.
        m_desktop.PlaySound(m_context.AppFolder + QStringLiteral("/system/chat.wav"));
    }
    void StartQueuedUpload() override { qCInfo(lcSession) << "upload queued files"; }
    void ReleaseSendQueue() override { qCInfo(lcSession) << "send queue released"; }
    void AppendLine(const QString& html) override { qCInfo(lcSession).noquote() << "line" << html; }
    void SessionEnded() override { qCInfo(lcSession) << "session ended"; }
    void StartDownload(const QString& localFile, const QString& remoteUrl, const QString&) override {
        qCInfo(lcSession).noquote() << "download" << remoteUrl << "->" << localFile;
    }

  private:
    app::AppContext& m_context;
    platform::Desktop& m_desktop;
    SessionController* m_session = nullptr;
};

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

class ProgramSession : public request::SessionSeam, public transfer::ChatLink {
  public:
    ProgramSession(app::AppContext& context, platform::Services& services, SessionView& view,
                   const ChatFactory& makeChat, const DownloadFactory& makeDownloads)
        : m_view(view),
          m_peers(context, *services.desktop),
          m_commands(services),
          m_screen(
              context, *services.windows, [] { return std::make_unique<components::VncViewerComponent>(); },
              {[clock = services.clock.get()] { return clock->NowMs(); },
               [](int ms) { web::WaitResponsive(ms); }},
              [this] { return m_controller->CurrentServerIP(); }, view.OwnerWindow()) {
        if (makeChat) m_chat = makeChat(*this);
        ChatPeer& chat = m_chat ? *m_chat : static_cast<ChatPeer&>(m_peers);
        if (makeDownloads) m_downloads = makeDownloads(chat);
        DownloadPeer& downloads = m_downloads ? *m_downloads : static_cast<DownloadPeer&>(m_peers);
        SessionController::Hooks hooks;
        const web::ServiceRoots roots = web::LoadServiceRoots(context.IniFile);
        hooks.lookupPublicIp = [roots, &context] { return web::LookupPublicIp(roots, context); };
        hooks.waitResponsive = [](int ms) { web::WaitResponsive(ms); };
        hooks.pumpEvents = [] { web::PumpPendingEvents(); };
        hooks.newRecordingPath = [&context] {
            return util::NewHistoryFilePath(false, context.HistoryFolder, context.DeptCode, context.DeptName);
        };
        m_controller = std::make_unique<SessionController>(context, m_component, view, chat, hooks);
        m_dispatcher = std::make_unique<MessageDispatcher>(
            context, *m_controller, view, MessageDispatcher::Peers{chat, downloads, m_screen, m_commands},
            roots.ServiceRoot);
        m_controller->SetDispatcher(m_dispatcher.get());
        m_peers.SetSession(m_controller.get());
        m_controller->Prepare();
    }

    void RequestConnect(const request::ConnectRequest& request) override {
        m_controller->RequestConnect(request);
    }
    bool OpenSession(const QString& address, int port) override {
        return m_controller->OpenSession(address, port);
    }
    bool bConnected() const override { return m_controller->bConnected(); }
    qint64 ConnectedSeconds() const override { return m_controller->ConnectedSeconds(); }
    void CloseSession() override { m_controller->CloseSession(); }
    void EndSession() override { m_controller->EndByCustomer(); }
    void ShowChat() override { m_controller->ShowChat(); }

    // --- transfer::ChatLink ---
    bool Connected() const override { return m_controller->bConnected(); }
    void SendChatLine(const QString& line) override { m_controller->SendChatLine(line); }
    void SendMessage(const QString& message) override { m_controller->SendMessage(message); }
    void MinimizeMainWindow() override { m_view.Minimize(); }
    void RestoreMainWindow() override {
        m_view.SetNormalState();
        m_view.RestoreAndActivate();
    }
    void CloseConnectedNotice() override { m_view.CloseConnectedNotice(); }

  private:
    SessionView& m_view;
    components::VncServerComponent m_component;
    LoggingPeers m_peers;
    PlatformCommands m_commands;
    ScreenViewHost m_screen;
    std::unique_ptr<ChatPeer> m_chat;
    std::unique_ptr<DownloadPeer> m_downloads;
    std::unique_ptr<SessionController> m_controller;
    std::unique_ptr<MessageDispatcher> m_dispatcher;
};

}  // namespace

std::unique_ptr<request::SessionSeam> CreateProgramSession(app::AppContext& context,
                                                           platform::Services& services, SessionView& view,
                                                           const ChatFactory& makeChat,
                                                           const DownloadFactory& makeDownloads) {
    return std::make_unique<ProgramSession>(context, services, view, makeChat, makeDownloads);
}

}  // namespace pelio::session
