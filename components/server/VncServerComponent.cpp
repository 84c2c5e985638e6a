#include "server/VncServerComponent.h"

#include "server/ServerLog.h"
#include "server/TextFraming.h"
#include "server/VncServerImpl.h"
#include "server/X11Capture.h"

#include <QTimer>

#include <sys/socket.h>

#include <algorithm>

namespace pelio::components {

bool VncServerComponent::Impl::StartServer(int number) {
    defaultPort = number >= 1 && number <= 65535 ? number : 0;
    viewOnly = flags[0];
    cursorOn = flags[1];
    damageOn = flags[2];
    lossless = flags[3];
    stopping = false;
    RouteLibraryLog();

    auto grabber = std::make_unique<X11Capture>();
    const std::string display = displayName.toStdString();
    if (!grabber->Open(display, damageOn)) {
        qCWarning(lcServer, "cannot capture the display %s", display.c_str());
        return false;
    }
    recording.SetCursorRecorded(cursorOn);
    const auto listed = [](const std::vector<QRect>& list) { return QList<QRect>(list.begin(), list.end()); };
    monitors = listed(grabber->Monitors());
    CaptureLoop::Settings settings;
    settings.maxFps = maxFps;
    settings.sweepMs = sweepMs;
    settings.damage = damageOn;
    settings.cursor = cursorOn;
    settings.tick = [this] {
        std::lock_guard lock(mutex);
        for (auto& [index, link] : links)
            if (link->cl && link->flow.Tick(link->cl)) capture->Wake();
    };
    settings.holding = [](rfbClientPtr cl) {
        Link* link = LinkOf(cl);
        return link && link->flow.Holding();
    };
    settings.monitors = [this, listed](const std::vector<QRect>& list) {
        Post([this, now = listed(list)] {
            monitors = now;
            emit q->MonitorsChanged();
        });
    };
    capture = std::make_unique<CaptureLoop>(std::move(grabber), recording, settings);
    const QSize size = capture->Size();
    int argc = 0;
    screen = rfbGetScreen(&argc, nullptr, size.width(), size.height(), 8, 3, 4);
    if (!screen) return false;
    screen->frameBuffer = capture->Framebuffer();
    screen->screenData = this;
    screen->desktopName = "Pelio";
    screen->port = -1;
    screen->ipv6port = -1;
    screen->autoPort = FALSE;
    screen->httpPort = -1;
    screen->http6Port = -1;
    screen->alwaysShared = TRUE;
    screen->newClientHook = NewClient;
    screen->setTextChat = TextChat;
    screen->setXCutText = CutText;
    screen->setXCutTextUTF8 = CutTextUtf8;
    screen->ptrAddEvent = Pointer;
    screen->kbdAddEvent = Key;
    screen->displayFinishedHook = AfterUpdate;
    screen->deferUpdateTime = 0;
    screen->handleEventsEagerly = TRUE;
    rfbInitServer(screen);
    rfbRunEventLoop(screen, 40000, TRUE);

    input.Start(display);
    sender = std::thread([this] { RunSender(); });
    capture->Start(screen);
    qCInfo(lcServer, "serving %s at %dx%d", display.c_str(), size.width(), size.height());
    return true;
}

void VncServerComponent::Impl::StopServer() {
    stopping = true;
    changed.notify_all();
    for (QEventLoop* loop : connectLoops) loop->quit();
    {
        // Every blocked read and write on a link returns once its socket is shut, whatever the peer
        // does: the connectors', the sender's and the library's own threads'.
        std::lock_guard lock(mutex);
        for (auto& [index, link] : links)
            if (link->wire >= 0) ReleaseSocket(link->wire);
    }
    for (std::thread& t : connectors)
        if (t.joinable()) t.join();
    connectors.clear();
    if (sender.joinable()) sender.join();
    if (capture) capture->Stop();
    // The library's thread of each started link ends on the shut socket and frees its client; no
    // client may be freed by the cleanup below while its thread still runs.
    std::vector<pthread_t> threads;
    {
        std::lock_guard lock(mutex);
        for (auto& [index, link] : links)
            if (link->thread) threads.push_back(*link->thread);
    }
    for (pthread_t t : threads) pthread_join(t, nullptr);
    if (screen) {
        rfbShutdownServer(screen, FALSE);
        if (capture) capture->ReleaseCursors();
        rfbScreenCleanup(screen);
        screen = nullptr;
    }
    capture.reset();
    monitors.clear();
    input.Stop();
    {
        std::lock_guard lock(mutex);
        links.clear();
        pending.clear();
    }
    qCInfo(lcServer, "stopped");
}

VncServerComponent::VncServerComponent(const QString& displayName, QObject* parent)
    : ServerComponent(parent), d(std::make_unique<Impl>()) {
    d->q = this;
    d->displayName = displayName;
    UseClipboard(nullptr);
}

void VncServerComponent::UseClipboard(clipboard::ClipboardPort* port) {
    const bool sharing = ClipboardSharing();
    d->clipboard = std::make_unique<clipboard::ClipboardBridge>(
        [impl = d.get()](const QString& text) { impl->QueueClipboard(text); }, port);
    d->clipboard->SetEnabled(sharing);
}

void VncServerComponent::SetClipboardSharing(bool on) {
    ServerComponent::SetClipboardSharing(on);
    d->clipboard->SetEnabled(on);
}

VncServerComponent::~VncServerComponent() {
    Stop();
}

bool VncServerComponent::ConfigFlag1() const {
    return d->flags[0];
}
void VncServerComponent::SetConfigFlag1(bool value) {
    d->flags[0] = value;
}
bool VncServerComponent::ConfigFlag2() const {
    return d->flags[1];
}
void VncServerComponent::SetConfigFlag2(bool value) {
    d->flags[1] = value;
}
bool VncServerComponent::ConfigFlag3() const {
    return d->flags[2];
}
void VncServerComponent::SetConfigFlag3(bool value) {
    d->flags[2] = value;
}
bool VncServerComponent::ConfigFlag4() const {
    return d->flags[3];
}
void VncServerComponent::SetConfigFlag4(bool value) {
    d->flags[3] = value;
}

void VncServerComponent::SetMaxFrameRate(int fps) {
    d->maxFps = std::clamp(fps, 1, 1000);
}
void VncServerComponent::SetSweepIntervalMs(int ms) {
    d->sweepMs = std::max(ms, 10);
}
void VncServerComponent::SetConnectTimeoutMs(int ms) {
    d->connectTimeoutMs = std::max(ms, 1);
}
void VncServerComponent::SetGreetingTimeoutMs(int ms) {
    d->greetingTimeoutMs = std::max(ms, 1);
}

bool VncServerComponent::Active() const {
    return d->active;
}

void VncServerComponent::Start(int number) {
    if (d->active) Stop();
    ++d->generation;
    d->liveGeneration = d->generation;
    if (!d->StartServer(number)) {
        d->StopServer();
        return;
    }
    d->active = true;
}

void VncServerComponent::Stop() {
    StopRecording();
    const bool wasActive = d->active;
    d->active = false;
    ++d->generation;
    d->liveGeneration = d->generation;
    if (wasActive || d->screen) d->StopServer();
    for (auto& [index, connection] : d->connections) connection->deleteLater();
    d->connections.clear();
    d->lostLinks.clear();
}

bool VncServerComponent::Connect(const QString& address, int port) {
    d->lastFailure = ConnectFailure::Unreachable;
    if (!d->active) return false;
    const int target = port >= 1 && port <= 65535 ? port : d->defaultPort;
    const QByteArray host = address.trimmed().toUtf8();
    if (target == 0 || host.isEmpty() || host.contains('\0')) return false;
    std::optional<secure::Pin> pin;
    if (!AgentPin().isEmpty()) {
        // A pin that cannot be read protects nothing: no link rather than a plain one.
        pin = secure::ParsePin(AgentPin());
        if (!pin) {
            qCInfo(lcServer, "the agent's pin is not valid; no link is made");
            d->lastFailure = ConnectFailure::Security;
            return false;
        }
    }
    Link* link = nullptr;
    {
        std::lock_guard lock(d->mutex);
        const int index = d->nextIndex++;
        link = (d->links[index] = std::make_unique<Link>(index)).get();
        link->backlog =
            std::make_shared<TextBacklog>(std::size_t(MaxPendingTexts), std::size_t(MaxPendingTextBytes));
    }
    const int generation = d->generation;
    auto result = std::make_shared<std::atomic<int>>(-1);
    QEventLoop loop;
    d->connectLoops.push_back(&loop);
    QTimer::singleShot(d->connectTimeoutMs + 5000, &loop, &QEventLoop::quit);
    QPointer<QEventLoop> guard(&loop);
    d->connectors.emplace_back([this, link, h = host.toStdString(), target, pin, result, guard] {
        d->RunConnector(link, h, target, pin, result, guard);
    });
    // User input waits meanwhile: a second click must not start another session inside this one.
    ++d->connectDepth;
    if (result->load() < 0) loop.exec(QEventLoop::ExcludeUserInputEvents);
    --d->connectDepth;
    std::erase(d->connectLoops, &loop);
    const bool ok = result->load() == Impl::Made && d->active && generation == d->generation;
    // Too late or failed: if the link still comes up, it is closed instead of raising Connected.
    if (!ok) d->GiveUp(link);
    d->lastFailure = ok                                 ? ConnectFailure::None
                     : result->load() == Impl::Insecure ? ConnectFailure::Security
                                                        : ConnectFailure::Unreachable;
    d->ReleaseHeld();
    return ok;
}

ServerComponent::ConnectFailure VncServerComponent::LastConnectFailure() const {
    return d->lastFailure;
}

bool VncServerComponent::LinkLost(int index) const {
    return d->lostLinks.count(index) > 0;
}

ServerConnection* VncServerComponent::Client(int index) {
    const auto it = d->connections.find(index);
    return it == d->connections.end() ? &d->inert : it->second;
}

void VncServerComponent::Send(int target, const QString& text) {
    if (target != 0 || !d->active) return;
    const QByteArray utf8 = text.toUtf8();
    const auto messages = framing::SplitText(std::string_view(utf8.constData(), std::size_t(utf8.size())));
    {
        std::lock_guard lock(d->mutex);
        bool delivered = false;
        for (auto& [index, link] : d->links)
            if (link->State() == LinkState::Ready) {
                link->outbox.insert(link->outbox.end(), messages.begin(), messages.end());
                delivered = true;
            }
        if (!delivered) d->pending.insert(d->pending.end(), messages.begin(), messages.end());
    }
    d->changed.notify_all();
}

void VncServerComponent::StartRecording(const QString& path) {
    if (!d->active) {
        StopRecording();
        return;
    }
    d->recording.Start(path);
}

void VncServerComponent::StopRecording() {
    d->recording.Stop();
}

bool VncServerComponent::Recording() const {
    return d->recording.Recording();
}

QList<QRect> VncServerComponent::Monitors() const {
    return d->monitors;
}

bool VncServerComponent::ShowMonitor(int index) {
    if (!d->active || !d->capture || index < 0 || index > d->monitors.size()) return false;
    if (index == 0)
        qCInfo(lcServer, "the agent is shown the whole desktop");
    else
        qCInfo(lcServer, "the agent is shown monitor %d", index);
    d->capture->Show(index == 0 ? QRect() : d->monitors[index - 1]);
    return true;
}

}  // namespace pelio::components
