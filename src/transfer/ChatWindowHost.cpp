#include "transfer/ChatWindowHost.h"

#include "transfer/TransferLog.h"
#include "transfer/frmChat.h"
#include "util/gui/WindowLifetime.h"

#include <QCoreApplication>

namespace pelio::transfer {

ChatWindowHost::ChatWindowHost(app::AppContext& context, platform::Services& services, ChatLink& link)
    : m_context(context), m_services(services), m_link(link) {}

ChatWindowHost::~ChatWindowHost() {
    delete m_window.data();
}

frmChat* ChatWindowHost::Window() {
    // A window that was closed while one of its own waits ran is deleted once the wait returns: it
    // takes no more lines; a new one does.
    if (!m_window || util::DeletionPending(m_window)) {
        m_window = new frmChat(m_context, m_services, m_link);
        m_window->setAttribute(Qt::WA_DeleteOnClose);
    }
    return m_window;
}

frmChat* ChatWindowHost::ShownWindow() {
    frmChat* window = Window();
    if (!window->isVisible()) window->show();
    return window;
}

void ChatWindowHost::OpenChat() {
    frmChat* window = ShownWindow();
    if (window->isMinimized()) window->showNormal();
    window->raise();
    window->activateWindow();
}

void ChatWindowHost::ShowAgentChat(const QString& html) {
    qCInfo(lcTransfer).noquote() << "agent chat" << html;
    frmChat* window = ShownWindow();
    window->Conversation().MarkChanged();
    window->DrawAttention();
    QCoreApplication::processEvents();
    // The window may have been closed meanwhile: the line goes to the chat window there is now.
    ShownWindow()->Conversation().ShowAgentLine(html);
}

void ChatWindowHost::DisplayCommonMsg(const QString& text, int colour) {
    qCInfo(lcTransfer).noquote() << "common" << colour << text;
    Window()->Conversation().DisplayCommonMsg(text, colour);
}

void ChatWindowHost::ShowFileOffer(const QString& list) {
    frmChat* window = ShownWindow();
    window->DrawAttention();
    window->Conversation().ShowFileOffer(list);
}

bool ChatWindowHost::StartQueuedUpload() {
    // The offer lives in the window: without one there is nothing to send.
    qCInfo(lcTransfer) << "upload queued files";
    return m_window && m_window->StartQueuedUpload();
}

void ChatWindowHost::AppendLine(const QString& html) {
    qCInfo(lcTransfer).noquote() << "line" << html.trimmed();
    ShownWindow()->Conversation().AddLine(html);
}

bool ChatWindowHost::ReleaseSendQueue() {
    qCInfo(lcTransfer) << "send queue released";
    return m_window && m_window->ReleaseSendQueue();
}

void ChatWindowHost::SessionEnded() {
    // The window stays open after the session; its transcript is written whole now, so that the
    // history shows it. Without a window there is no transcript.
    if (m_window && m_window->Conversation().bChated()) m_window->SaveTranscript(false);
}

}  // namespace pelio::transfer
