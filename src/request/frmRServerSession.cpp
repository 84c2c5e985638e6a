// The agent list window as the support session sees it: its controls, the agent's line in the list,
// and the small windows shown while a session runs.
#include "request/frmRServer.h"

#include "session/frmConnected.h"
#include "session/frmOnSupport.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

namespace pelio::request {

void frmRServer::SetWaitCursor(bool waiting) {
    if (waiting)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void frmRServer::EnableControl(session::SessionControl control, bool enabled) {
    switch (control) {
        case session::SessionControl::Connect:
            m_cmdConnect->setEnabled(enabled);
            break;
        case session::SessionControl::End:
            m_cmdEnd->setEnabled(enabled);
            break;
        case session::SessionControl::Chat:
            m_cmdChat->setEnabled(enabled);
            break;
        case session::SessionControl::Refresh:
            m_cmdRefresh->setEnabled(enabled);
            break;
        case session::SessionControl::List:
            m_lvList->setEnabled(enabled);
            break;
    }
}

bool frmRServer::HasSelectedAgent() const {
    const QTreeWidgetItem* item = SelectedItem();
    return item && item->data(0, kIndexRole).toInt() >= 0;
}

bool frmRServer::SelectedAgentGreyed() const {
    const QTreeWidgetItem* item = SelectedItem();
    return !item || item->data(0, kGreyRole).toBool();
}

void frmRServer::SetSelectedAgentStatus(const QString& text, bool grey) {
    QTreeWidgetItem* item = SelectedItem();
    if (!item) return;
    item->setText(1, text);
    // Greyed while the connection is made and after it failed; one that came up may be asked again
    // once its session is over.
    m_rules.MarkGreyed(item->data(0, kIndexRole).toInt(), grey);
    if (!grey) return;
    item->setData(0, kGreyRole, true);
    const QColor colour = palette().color(QPalette::Disabled, QPalette::Text);
    for (int c = 0; c < item->columnCount(); ++c) item->setForeground(c, colour);
}

void frmRServer::ShowConnectedTime(const QString& text) {
    m_lblTime->setText(text);
    m_lblTime->repaint();
}

void frmRServer::MarkRequestTextSent() {
    m_requestColor = QColor(Qt::black);
    QPalette palette = m_txtStartMent->palette();
    palette.setColor(QPalette::Text, m_requestColor);
    m_txtStartMent->setPalette(palette);
}

void frmRServer::ShowConnectedNotice() {
    if (!m_connectedNotice) {
        m_connectedNotice = new session::frmConnected(this);
        m_connectedNotice->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_connectedNotice->SetSecurityText(m_linkSecurity);
    m_connectedNotice->show();
}

void frmRServer::CloseConnectedNotice() {
    if (m_connectedNotice) m_connectedNotice->close();
}

void frmRServer::ShowOnSupport() {
    if (!m_onSupport) {
        m_onSupport = new session::frmOnSupport;
        m_onSupport->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_onSupport->setToolTip(m_linkSecurity);
    m_onSupport->SetRedialling(m_redialling);
    m_onSupport->show();
}

void frmRServer::ShowRedialling(bool redialling) {
    m_redialling = redialling;
    if (m_onSupport) m_onSupport->SetRedialling(redialling);
}

void frmRServer::ShowLinkSecurity(const QString& text) {
    m_linkSecurity = text;
    if (m_connectedNotice) m_connectedNotice->SetSecurityText(text);
    if (m_onSupport) m_onSupport->setToolTip(text);
}

void frmRServer::CloseOnSupport() {
    if (m_onSupport) m_onSupport->close();
}

void frmRServer::RestoreAndActivate() {
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
}

void frmRServer::SetNormalState() {
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

void frmRServer::Minimize() {
    showMinimized();
}

void frmRServer::Beep() {
    QApplication::beep();
}

}  // namespace pelio::request
