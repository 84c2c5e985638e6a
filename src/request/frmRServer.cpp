#include "request/frmRServer.h"

#include "history/HistoryViewer.h"
#include "history/frmPlay.h"
#include "platform/Services.h"
#include "session/frmConnected.h"
#include "session/frmOnSupport.h"
#include "util/core/Colors.h"
#include "util/core/TextFiles.h"
#include "util/gui/Browser.h"
#include "util/gui/FileRoutines.h"
#include "util/gui/HtmlView.h"
#include "util/gui/MessageBoxes.h"
#include "util/gui/WindowLifetime.h"
#include "util/gui/WindowRoutines.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>

namespace pelio::request {

namespace {

const QString kName = QStringLiteral("frmRServer");
const QString kReceivedFolderName = QStringLiteral("Pelio 받은파일");
const QString kRequestFileName = QStringLiteral("요청내용.txt");
const QString kNoticeStyle = QStringLiteral(
    "<style type='text/css'>body {border:1px solid #999999;margin:3px;font-size:12px;}</style>");
const QString kTitleCaption = QStringLiteral("[%1](으)로 원격지원을 요청합니다.");

// The title's font shrinks to fit, down to this size.
constexpr qreal kSmallestTitlePoint = 7;

QString StartPage() {
    return QStringLiteral("about:") + kNoticeStyle +
           QStringLiteral(
               "<div><font color='#FF9966'><b>[원격지원을 받고자 하는 회사의 공지사항]</b></font></div><br>"
               "<div><font color='") +
           util::ColorToHtml(util::ColorFromChannels(128, 0, 0)) +
           QStringLiteral(
               "'>공지사항은 해당 회사의 회사코드를 입력한 후 표시됩니다. 회사코드를 모르는 경우 원격지원 "
               "받고자 하는 회사에 전화하셔서 회사코드를 확인하십시오.</font></div>");
}

QString FallbackPage() {
    return QStringLiteral("about:") + kNoticeStyle +
           QStringLiteral(
               "<div><font color='gray'>이 회사의 공지 사항이 없거나 서버에 접속할 수 "
               "없습니다.</font></div>");
}

}  // namespace

frmRServer::frmRServer(app::AppContext& context, platform::Services& services,
                       const SessionFactory& makeSession, EntryOpener openEntry, QWidget* parent)
    : QWidget(parent),
      m_context(context),
      m_services(services),
      m_session(makeSession(*this)),
      m_openEntry(std::move(openEntry)),
      m_roots(web::LoadServiceRoots(context.IniFile)),
      m_rules(context, *m_session, *services.clock, *services.inputMode, *this, m_roots,
              [roots = m_roots](const QString& code) { return web::FetchAgentList(roots, code); }) {
    setObjectName(kName);
    BuildControls();
    m_session->SetClipboardSharing(m_chkClipboard->isChecked());

    // Loading: the hint, the start page of the notice, the received-files folder, the list's
    // placeholder and the request text kept from the last run.
    m_requestColor = m_txtStartMent->palette().color(QPalette::Text);
    SetRequestText(kRequestHint);
    m_web->LoadAddress(StartPage());
    m_context.ReceivedFolder = services.folders->DocumentsFolder() + u'/' + kReceivedFolderName;
    // A desktop may not have made the documents folder yet: it is made with it.
    if (!QFileInfo::exists(m_context.ReceivedFolder)) QDir().mkpath(m_context.ReceivedFolder);
    SetStatus(QString());
    auto* placeholder = new QTreeWidgetItem(QStringList{
        QStringLiteral("상담원"), QStringLiteral("여기에 상담원들의 상태가 "), QStringLiteral("표시됩니다")});
    placeholder->setIcon(0, m_listIcon);
    placeholder->setData(0, kIndexRole, -1);
    m_lvList->addTopLevelItem(placeholder);
    m_lvList->clearSelection();
    LoadRequestText();
}

frmRServer::~frmRServer() {
    delete m_review.data();
    delete m_onSupport.data();  // the indicator has no owner
}

QString frmRServer::RequestFilePath() const {
    return m_context.AppFolder + u'/' + kRequestFileName;
}

void frmRServer::LoadRequestText() {
    const QString path = RequestFilePath();
    if (!util::FileExists(path, false)) return;
    m_requestColor = QColor(0, 0, 255);
    SetRequestText(util::ReadTextFile(path, false));
}

void frmRServer::SetRequestText(const QString& text) {
    // The hint is shown dimmed, so that it does not read as a request already written.
    QPalette palette = m_txtStartMent->palette();
    palette.setColor(QPalette::Text, text == kRequestHint ? QColor(Qt::gray) : m_requestColor);
    m_txtStartMent->setPalette(palette);
    m_txtStartMent->setPlainText(text);
}

void frmRServer::SetStatus(const QString& text) {
    QString title = app::ProgramWindowTitle;
    if (!m_context.DeptCode.isEmpty()) title += QStringLiteral(" [") + m_context.DeptCode + u']';
    if (!text.isEmpty()) title += QStringLiteral(" - ") + text;
    setWindowTitle(title);
    repaint();
}

void frmRServer::CloseOtherWindows() {
    m_openWindows.CloseAllBut(this);
}

void frmRServer::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // After the window is on screen, so that the entry window and the message boxes have their owner.
    if (m_rules.CurrentState() == AgentListRules::State::Loaded)
        QTimer::singleShot(0, this, [this] { m_rules.Activate(); });
}

void frmRServer::closeEvent(QCloseEvent* event) {
    if (!m_closed) {
        m_closed = true;
        RunClosingSteps();
    }
    event->accept();
}

void frmRServer::RunClosingSteps() {
    m_rules.Closing();
    m_timer2.stop();
    if (m_session->bConnected()) m_session->CloseSession();
    disconnect(m_web, nullptr, this, nullptr);

    const QString path = RequestFilePath();
    switch (
        AgentListRules::RequestFileOnClose(m_session->ConnectedSeconds(), m_txtStartMent->toPlainText())) {
        case AgentListRules::RequestFileAction::Delete:
            if (util::FileExists(path, false)) QFile::remove(path);
            break;
        case AgentListRules::RequestFileAction::Write:
            util::WriteTextFile(path, m_txtStartMent->toPlainText(), false);
            break;
        case AgentListRules::RequestFileAction::Keep:
            break;
    }
    CloseOnSupport();
    CloseOtherWindows();
    emit closed();
}

void frmRServer::mousePressEvent(QMouseEvent* event) {
    // The strip along the top moves the window, as on a title bar.
    if (event->button() == Qt::LeftButton && event->position().y() < 23) util::DragWindow(this);
    QWidget::mousePressEvent(event);
}

bool frmRServer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_txtStartMent) {
        if (event->type() == QEvent::FocusIn) {
            m_services.inputMode->SetHangul(true);
            // Once more after the input method has seen the focus move. Posted, not pumped here: the
            // focus may come with the window's activation, which must be delivered before window
            // events run again.
            util::PostToLoop(this, [this] { m_services.inputMode->SetHangul(true); });
            if (m_txtStartMent->toPlainText() == kRequestHint) SetRequestText(QString());
        } else if (event->type() == QEvent::FocusOut) {
            if (m_txtStartMent->toPlainText().trimmed().isEmpty()) SetRequestText(kRequestHint);
        }
    } else if ((watched == m_imgTop || watched == m_lblTitle) && event->type() == QEvent::MouseButtonPress) {
        if (bConnected()) showMinimized();
    } else if (watched == m_lblTitle && event->type() == QEvent::Resize) {
        FitTitle();
    }
    return QWidget::eventFilter(watched, event);
}

void frmRServer::FitTitle() {
    // The caption keeps its full size when it fits; otherwise one point smaller at a time, and at the
    // smallest size whatever does not fit gives way to an ellipsis (the whole caption in the tip).
    const QString caption = m_lblTitle->toolTip();
    QFont font = m_lblTitle->font();
    font.setPointSizeF(m_titlePointSize);
    const int room = m_lblTitle->contentsRect().width();
    while (font.pointSizeF() - 1 >= kSmallestTitlePoint &&
           QFontMetrics(font).horizontalAdvance(caption) > room)
        font.setPointSizeF(font.pointSizeF() - 1);
    if (font != m_lblTitle->font()) m_lblTitle->setFont(font);
    m_lblTitle->setText(QFontMetrics(font).elidedText(caption, Qt::ElideRight, room));
}

QTreeWidgetItem* frmRServer::SelectedItem() const {
    const QList<QTreeWidgetItem*> selected = m_lvList->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void frmRServer::OnListSelectionChanged() {
    const QTreeWidgetItem* item = SelectedItem();
    m_rules.ChooseAgent(item ? item->data(0, kIndexRole).toInt() : -1);
}

void frmRServer::OnColumnClicked(int column) {
    util::ToggleListSort(m_lvList, column);
    if (QTreeWidgetItem* item = SelectedItem()) m_lvList->scrollToItem(item);
}

void frmRServer::OnConnectClicked() {
    session::ConnectRequest request;
    if (const QTreeWidgetItem* item = SelectedItem()) {
        const QString tag = item->data(0, kTagRole).toString();
        request.Agent = session::AgentChoice{item->text(0), item->text(kPortColumn), tag.section(u',', 0, 0),
                                             tag.section(u',', 1), item->data(0, kPinRole).toString()};
    }
    const QString text = m_txtStartMent->toPlainText();
    if (text.compare(kRequestHint, Qt::CaseInsensitive) != 0) request.RequestText = text;
    m_session->RequestConnect(request);
}

void frmRServer::OnReviewClicked() {
    if (m_review) {
        m_review->showNormal();
        m_review->raise();
        m_review->activateWindow();
        return;
    }
    history::frmPlay* review = history::CreateHistoryViewer(m_context, m_services).release();
    review->setAttribute(Qt::WA_DeleteOnClose);
    m_review = review;
    review->show();
}

void frmRServer::OnNoticeLoaded(bool ok) {
    // The notice that could not be loaded gives way to a short gray text (once: not for that text).
    if (m_loadingFallback) {
        m_loadingFallback = false;
        return;
    }
    if (ok) return;
    m_loadingFallback = true;
    m_web->LoadAddress(FallbackPage());
}

// --- AgentListRules::View ---

void frmRServer::Inform(const QString& text) {
    util::MessageBoxes::Inform(this, text);
}

bool frmRServer::AskYesNo(const QString& text) {
    return util::MessageBoxes::AskYesNo(this, text);
}

EntryOutcome frmRServer::OpenEntryWindow() {
    return m_openEntry ? m_openEntry(this) : EntryOutcome{};
}

void frmRServer::ShowNotice(const web::ServicePageRequest& page) {
    m_loadingFallback = false;
    m_web->hide();
    util::OpenWebPage(page.PageAddress, page.FormBody, true, *m_services.shell, m_web);
    m_web->show();
}

void frmRServer::ShowAgents(const QList<web::AgentRecord>& records) {
    m_lvList->clear();
    const QColor grey = palette().color(QPalette::Disabled, QPalette::Text);
    QList<QTreeWidgetItem*> items;
    for (int i = 0; i < records.size(); ++i) {
        const web::AgentRecord& agent = records[i];
        auto* item = new QTreeWidgetItem(QStringList{agent.Name, agent.Status, agent.Info, agent.Port});
        item->setIcon(0, m_listIcon);
        item->setData(0, kTagRole, agent.PublicAddress + u',' + agent.LocalAddress);
        item->setData(0, kIndexRole, i);
        item->setData(0, kPinRole, agent.Pin);
        item->setData(0, kGreyRole, !agent.IsAvailable());
        if (!agent.IsAvailable())
            for (int c = 0; c < item->columnCount(); ++c) item->setForeground(c, grey);
        items << item;
    }
    m_lvList->addTopLevelItems(items);
    m_lvList->clearSelection();
}

QList<int> frmRServer::AgentsInListOrder() {
    QList<int> order;
    for (int i = 0; i < m_lvList->topLevelItemCount(); ++i)
        order << m_lvList->topLevelItem(i)->data(0, kIndexRole).toInt();
    return order;
}

void frmRServer::SelectAgent(int index) {
    for (int i = 0; i < m_lvList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_lvList->topLevelItem(i);
        if (item->data(0, kIndexRole).toInt() != index) continue;
        m_lvList->setCurrentItem(item);
        m_lvList->scrollToItem(item);
        return;
    }
}

void frmRServer::ShowGuidance(AgentListRules::Guidance guidance) {
    const bool choose = guidance == AgentListRules::Guidance::ChooseAgent;
    m_label1->setText(choose ? kChooseAgentText : kNoAgentAvailableText);
    QPalette palette = m_label1->palette();
    palette.setColor(QPalette::WindowText, choose ? QColor(0, 0, 255) : QColor(255, 0, 0));
    m_label1->setPalette(palette);
}

void frmRServer::ShowAgentLine(const QString& text) {
    m_statusBar->showMessage(text);
}

void frmRServer::SetConnectEnabled(bool enabled) {
    m_cmdConnect->setEnabled(enabled);
}

void frmRServer::ShowCooldown(bool cooling) {
    if (cooling) {
        m_cmdRefresh->setEnabled(false);
        m_timer2.start();
    } else {
        m_timer2.stop();
        m_cmdRefresh->setEnabled(m_lvList->isEnabled());
    }
}

void frmRServer::ShowReady() {
    SetStatus(QString());
    m_lvList->setFocus();
    m_services.inputMode->SetHangul(false);
    m_services.inputMode->SetHangul(true);
    m_lblTitle->setToolTip(kTitleCaption.arg(m_context.DeptName));
    FitTitle();
}

void frmRServer::CloseWindow() {
    close();
}

}  // namespace pelio::request
