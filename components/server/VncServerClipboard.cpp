// The clipboard of the server component: the agent's cut texts onto this computer's clipboard, and this
// computer's copies to every ready link, extended (UTF-8) for a viewer that asked for it, classic
// (Latin-1) otherwise.
//
// The library's own sender of cut texts is not used: for a viewer without the extended clipboard it
// writes the Latin-1 text behind a header with the UTF-8 length, and it leaves the client's send lock
// taken when given no Latin-1 text.
#include "clipboard/ClipboardMessages.h"
#include "server/ServerLog.h"
#include "server/VncServerImpl.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace pelio::components {

void VncServerComponent::Impl::CutText(char* text, int length, rfbClientPtr cl) {
    // A viewer that speaks the extended clipboard sends its texts that way; a classic text from it is
    // the Latin-1 copy meant for servers that do not.
    if (!text || length < 0 || (cl->enableExtendedClipboard && cl->extClipboardUserCap)) return;
    Of(cl)->TakeCutText(cl, clipboard::FromLatin1(std::string_view(text, std::size_t(length))));
}

void VncServerComponent::Impl::CutTextUtf8(char* text, int length, rfbClientPtr cl) {
    if (!text || length < 0) return;
    Of(cl)->TakeCutText(cl, clipboard::FromWire(std::string_view(text, std::size_t(length))));
}

void VncServerComponent::Impl::TakeCutText(rfbClientPtr cl, QString text) {
    Link* link = LinkOf(cl);
    if (!link || !link->InputAdmitted() || viewOnly || text.isEmpty()) return;
    // Only the latest text waits for the UI thread, however fast the agent sends them.
    bool post = false;
    {
        std::lock_guard lock(cutMutex);
        post = !cutText;
        cutText = std::move(text);
    }
    if (!post) return;
    Post([this] {
        std::optional<QString> latest;
        {
            std::lock_guard lock(cutMutex);
            latest.swap(cutText);
        }
        if (latest) clipboard->Received(*latest);
    });
}

void VncServerComponent::Impl::QueueClipboard(const QString& text) {
    if (!active) return;
    std::string wireText = clipboard::ToWire(text);
    {
        std::lock_guard lock(mutex);
        for (auto& [index, link] : links)
            if (link->State() == LinkState::Ready) link->clipboard = wireText;
    }
    changed.notify_all();
}

bool VncServerComponent::Impl::WriteClipboard(Link& link, rfbClientPtr cl, int fd,
                                              const std::string& wireText) {
    if (!cl->enableExtendedClipboard) {
        return WriteAll(fd,
                        clipboard::CutTextMessage(clipboard::kServerCutText,
                                                  clipboard::ToLatin1(clipboard::FromWire(wireText)), false));
    }
    const std::uint32_t caps = cl->extClipboardUserCap;
    if ((caps & clipboard::kProvide) && wireText.size() + 1 <= cl->extClipboardMaxUnsolicitedSize) {
        const std::optional<std::string> payload = clipboard::ProvidePayload(wireText);
        return !payload || WriteAll(fd, clipboard::CutTextMessage(clipboard::kServerCutText, *payload, true));
    }
    if (!(caps & clipboard::kNotify) || wireText.size() + 1 > clipboard::kMaxText) {
        qCInfo(lcServer, "a clipboard text of %zu bytes is more than the viewer takes", wireText.size());
        return true;
    }
    // The viewer takes only what it asked for: it is told that there is a text, and the library
    // answers its request with the text it was given. The library writes that answer without the send
    // lock, so the lock is kept until the answer has gone (a viewer whose window has the focus asks at
    // once), and no screen update is written in the middle of it.
    char* text = static_cast<char*>(std::malloc(wireText.size() + 1));
    if (!text) return true;
    std::memcpy(text, wireText.data(), wireText.size());
    text[wireText.size()] = '\0';
    if (cl->extClipboardData) {
        std::lock_guard lock(mutex);
        link.retiredClipboards.push_back(cl->extClipboardData);
        if (link.retiredClipboards.size() > 8) {
            std::free(link.retiredClipboards.front());
            link.retiredClipboards.pop_front();
        }
    }
    cl->extClipboardData = text;
    cl->extClipboardDataSize = int(wireText.size() + 1);
    const int answered = rfbStatGetMessageCountSent(cl, rfbServerCutText);
    if (!WriteAll(fd, clipboard::CutTextMessage(clipboard::kServerCutText,
                                                clipboard::ActionPayload(clipboard::kNotify), true)))
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (rfbStatGetMessageCountSent(cl, rfbServerCutText) == answered && !stopping &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return true;
}

}  // namespace pelio::components
