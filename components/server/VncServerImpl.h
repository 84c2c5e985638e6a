// The inside of VncServerComponent, shared by its source files: the component's state, the library's
// hooks, the connector and the text sender (VncServerLinks.cpp), start and stop
// (VncServerComponent.cpp). Capture and recording live in CaptureLoop and RecordingSink.
#pragma once

#include "clipboard/ClipboardBridge.h"
#include "secure/Pin.h"
#include "server/CaptureLoop.h"
#include "server/RecordingSink.h"
#include "server/ServerLink.h"
#include "server/VncServerComponent.h"
#include "server/X11Input.h"

#include <QEventLoop>
#include <QPointer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <rfb/rfb.h>

namespace pelio::components {

class InertConnection : public ServerConnection {
  public:
    using ServerConnection::ServerConnection;
    QString Address() const override { return {}; }
    bool Allowed() const override { return false; }
    void SetAllowed(bool) override {}
};

class VncConnection : public ServerConnection {
  public:
    VncConnection(VncServerComponent::Impl* impl, int index, QString address, QString checkCode,
                  QObject* parent)
        : ServerConnection(parent),
          m_impl(impl),
          m_index(index),
          m_address(std::move(address)),
          m_checkCode(std::move(checkCode)) {}
    QString Address() const override { return m_address; }
    bool Allowed() const override { return m_allowed; }
    void SetAllowed(bool allowed) override;
    QString CheckCode() const override { return m_checkCode; }

  private:
    VncServerComponent::Impl* m_impl;
    int m_index;
    QString m_address;
    QString m_checkCode;
    bool m_allowed = false;
};

struct VncServerComponent::Impl {
    VncServerComponent* q = nullptr;
    QString displayName;
    bool flags[4] = {false, true, true, false};
    int maxFps = 100, sweepMs = 2000, connectTimeoutMs = 10000, greetingTimeoutMs = 30000;

    // UI thread only.
    bool active = false;
    int generation = 0;
    int defaultPort = 0;
    std::map<int, ServerConnection*> connections;
    std::set<int> lostLinks;  // links whose Disconnected told of a lost connection
    InertConnection inert;
    std::vector<QEventLoop*> connectLoops;
    int connectDepth = 0;                     // Connect calls under way
    std::vector<std::function<void()>> held;  // events held while Connect waits
    std::vector<std::thread> connectors;
    ConnectFailure lastFailure = ConnectFailure::None;
    QList<QRect> monitors;  // as Monitors() gives them

    // Fixed from Start to Stop, read by every thread.
    std::atomic<int> liveGeneration{0};
    bool viewOnly = false, cursorOn = true, damageOn = true, lossless = false;
    rfbScreenInfoPtr screen = nullptr;
    std::atomic<bool> stopping{false};

    std::mutex mutex;
    std::condition_variable changed;
    std::map<int, std::unique_ptr<Link>> links;
    int nextIndex = 1;
    std::deque<std::string> pending;  // texts waiting for an admitted link

    std::thread sender;
    X11Input input;
    RecordingSink recording;  // outlives the capture loop that feeds it
    std::unique_ptr<CaptureLoop> capture;

    static Impl* Of(rfbClientPtr cl) { return static_cast<Impl*>(cl->screen->screenData); }
    static Link* LinkOf(rfbClientPtr cl) { return static_cast<Link*>(cl->clientData); }

    // Runs f on the UI thread unless the session it belongs to has been stopped meanwhile. Events that
    // arrive while Connect waits are held until it has returned: the caller learns that the link is
    // up before it hears that the agent took it.
    template <typename F>
    void Post(F f) {
        const int gen = liveGeneration.load();
        QMetaObject::invokeMethod(
            q,
            [this, gen, f = std::move(f)]() mutable {
                std::function<void()> run = [this, gen, f = std::move(f)] {
                    if (active && gen == generation) f();
                };
                if (connectDepth > 0)
                    held.push_back(std::move(run));
                else
                    run();
            },
            Qt::QueuedConnection);
    }
    // Delivers the events held during Connect, in order, after the caller has seen its result.
    void ReleaseHeld();

    // Library hooks (library threads).
    static rfbNewClientAction NewClient(rfbClientPtr cl);
    static void ClientGone(rfbClientPtr cl);
    static void UpdateRequested(rfbClientPtr cl, rfbFramebufferUpdateRequestMsg*);
    static void AfterUpdate(rfbClientPtr cl, int result);  // the screen's "display finished" hook: UpdateFlow
    static void TextChat(rfbClientPtr cl, int length, char* text);
    static void Pointer(int mask, int x, int y, rfbClientPtr cl);
    static void Key(rfbBool down, rfbKeySym keysym, rfbClientPtr cl);

    // Connecting (connector thread). The connector's result: -1 while it runs, then one of these.
    enum ConnectResult { Failed = 0, Made = 1, Insecure = 2 };
    int ConnectSocket(const std::string& host, int port, std::chrono::steady_clock::time_point deadline);
    int PeekVersion(int fd);
    void RunConnector(Link* link, std::string host, int port, std::optional<secure::Pin> pin,
                      std::shared_ptr<std::atomic<int>> result, QPointer<QEventLoop> loop);
    // Texts (sender thread).
    void RunSender();
    bool WriteTextMessage(int fd, const std::string& text);
    bool WriteAll(int fd, const std::string& message);

    // The clipboard (VncServerClipboard.cpp): the agent's cut texts (library threads), this computer's
    // copies queued for every ready link (UI thread), and their messages (sender thread, under the
    // client's send lock).
    static void CutText(char* text, int length, rfbClientPtr cl);
    static void CutTextUtf8(char* text, int length, rfbClientPtr cl);
    void TakeCutText(rfbClientPtr cl, QString text);
    void QueueClipboard(const QString& text);
    bool WriteClipboard(Link& link, rfbClientPtr cl, int fd, const std::string& wireText);
    std::unique_ptr<clipboard::ClipboardBridge> clipboard;
    std::mutex cutMutex;
    std::optional<QString> cutText;  // the agent's latest, not yet on the clipboard

    // Commands (UI thread).
    void Allow(int index);
    // Connect's end when it gave up: a link that still comes up is closed instead of announced.
    void GiveUp(Link* link);
    bool StartServer(int number);
    void StopServer();
};

// Ends every wait on a socket: shuts it and takes out what the peer sent, since the library's protocol
// sniffing peeks at the same few bytes for ever otherwise.
void ReleaseSocket(int fd);

}  // namespace pelio::components
