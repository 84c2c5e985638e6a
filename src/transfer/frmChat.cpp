#include "transfer/frmChat.h"

#include "app/AppContext.h"
#include "platform/Services.h"
#include "session/ChatLink.h"
#include "transfer/FileSend.h"
#include "transfer/TranscriptFile.h"
#include "transfer/TransferLog.h"
#include "util/core/Colors.h"
#include "util/core/IniFile.h"
#include "util/core/Paths.h"
#include "util/core/SettingsKeys.h"
#include "util/gui/Browser.h"
#include "util/gui/Dialogs.h"
#include "util/gui/HtmlUtil.h"
#include "util/gui/HtmlView.h"
#include "util/gui/MessageBoxes.h"
#include "util/gui/WindowLifetime.h"
#include "util/gui/WindowLook.h"
#include "util/gui/WindowRoutines.h"

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSizeGrip>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

namespace pelio::transfer {

namespace {

const QString kCaption = QStringLiteral("상담원과 대화하기");

struct PaletteEntry {
    const char* name;         // the tool's name
    const char16_t* caption;  // what the customer reads beside its swatch
    unsigned rgb;
};
// The text colours of the toolbar's colour band.
constexpr PaletteEntry kPalette[] = {{"black", u"검정", 0x000000},
                                     {"gray", u"회색", 0x808080},
                                     {"darkblue", u"남색", 0x000080},
                                     {"darkcyan", u"청록", 0x008080},
                                     {"darkgreen", u"짙은 녹색", 0x008000},
                                     {"darkmagenta", u"보라", 0x800080},
                                     {"darkred", u"짙은 빨강", 0x800000},
                                     {"darkyellow", u"올리브", 0x808000},
                                     {"blue", u"파랑", 0x0000FF},
                                     {"green", u"초록", 0x00FF00},
                                     {"red", u"빨강", 0xFF0000},
                                     {"yellow", u"노랑", 0xFFFF00},
                                     {"magenta", u"자홍", 0xFF00FF}};

QIcon Swatch(const QColor& colour) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QColor(0x60, 0x60, 0x60));
    p.setBrush(colour);
    p.drawRect(1, 1, 13, 13);
    return QIcon(pixmap);
}

QColor FromOle(util::OleColor ole) {
    const util::ColorParts parts = util::ColorChannels(ole);
    return QColor(parts.red, parts.green, parts.blue);
}

// The local files of a drop, in order; empty when anything dropped is not a local file.
QStringList DroppedFiles(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) return {};
        files << url.toLocalFile();
    }
    return files;
}

util::OleColor ToOle(const QColor& colour) {
    return util::ColorFromChannels(colour.red(), colour.green(), colour.blue());
}

}  // namespace

frmChat::frmChat(app::AppContext& context, platform::Services& services, ChatLink& link, QWidget* parent)
    : QWidget(parent),
      m_context(context),
      m_services(services),
      m_link(link),
      m_conversation(link, [this](const QString& html) {
          // The file first: showing the piece runs window events, in which further pieces may arrive.
          // A failed write is taken up again by the next piece or save.
          if (m_transcriptFile) m_transcriptFile->Append(html);
          util::AppendHtml(m_webChat, html);
      }) {
    setObjectName(QStringLiteral("frmChat"));
    setWindowTitle(kCaption);
    util::ApplyWindowLook(this);
    m_activateStage = 1;
    BuildControls();
    LoadSettings();
    // The session names the transcript with its recording's number. A transcript of the session that is
    // already there (of a chat window closed since) is never written over: this window takes the next
    // free number, as it does before any session.
    m_transcriptPath = m_link.TranscriptPath();
    if (m_transcriptPath.isEmpty() || QFileInfo::exists(m_transcriptPath))
        m_transcriptPath =
            util::NewHistoryFilePath(true, m_context.HistoryFolder, m_context.DeptCode, m_context.DeptName);
    m_transcriptFile =
        std::make_unique<TranscriptFile>(m_transcriptPath, [this] { return m_conversation.Transcript(); });
    m_save->setToolTip(QStringLiteral("대화내용저장 >> ") + util::FileNameOfPath(m_transcriptPath));
    m_chatLoaded = true;
    resize(520, 560);
    util::CenterWindow(this);
}

frmChat::~frmChat() {
    StopUpload();
}

void frmChat::BuildControls() {
    m_webChat = new util::HtmlView(this);
    m_webChat->setObjectName(QStringLiteral("webChat"));
    m_webChat->setAccessibleName(QStringLiteral("대화 내용"));
    m_webChat->setContextMenuPolicy(Qt::NoContextMenu);
    m_webChat->SetNavigationHook([this](const util::HtmlView::Navigation& nav) {
        // Only the customer's click on a link acts, and never inside the view: what a line asks for by
        // itself (a refresh, a redirect, a form, a frame) is refused, so that an agent's line cannot
        // open pages or take the conversation away.
        if (!nav.mainFrame) return false;
        if (nav.kind != util::HtmlView::NavigationKind::Link &&
            nav.kind != util::HtmlView::NavigationKind::NewWindow)
            return false;
        OnNavigation(nav.url);
        return false;
    });

    m_ab = new QToolBar(this);
    m_ab->setObjectName(QStringLiteral("AB"));
    m_ab->setAccessibleName(QStringLiteral("도구 모음"));
    m_ab->setToolButtonStyle(Qt::ToolButtonTextOnly);
    auto addTool = [this](const QString& name, const QString& caption, const QString& tip) {
        QAction* action = m_ab->addAction(caption);
        action->setObjectName(name);
        action->setToolTip(tip.isEmpty() ? caption : tip);
        return action;
    };
    QAction* backcolor = addTool(QStringLiteral("backcolor"), QStringLiteral("배경색"),
                                 QStringLiteral("대화창 배경색 변경..."));
    QAction* font = addTool(QStringLiteral("font"), QStringLiteral("글꼴"), QStringLiteral("글꼴 변경..."));
    m_bold = addTool(QStringLiteral("bold"), QStringLiteral("굵게"), QString());
    m_bold->setCheckable(true);
    m_italic = addTool(QStringLiteral("italic"), QStringLiteral("이탤릭"), QString());
    m_italic->setCheckable(true);
    // "색깔" drops down the colour band.
    auto* colourMenu = new QMenu(this);
    colourMenu->setObjectName(QStringLiteral("Color"));
    for (const PaletteEntry& entry : kPalette) {
        const QColor colour(QRgb(entry.rgb));
        QAction* tool = colourMenu->addAction(Swatch(colour), QString::fromUtf16(entry.caption));
        tool->setObjectName(QString::fromLatin1(entry.name));
        connect(tool, &QAction::triggered, this,
                [this, entry, colour] { OnToolColour(QString::fromLatin1(entry.name), colour); });
    }
    auto* colourButton = new QToolButton(m_ab);
    colourButton->setObjectName(QStringLiteral("color"));
    colourButton->setText(QStringLiteral("색깔"));
    colourButton->setToolTip(QStringLiteral("글자 색깔 변경..."));
    colourButton->setAccessibleName(QStringLiteral("색깔"));
    colourButton->setMenu(colourMenu);
    colourButton->setPopupMode(QToolButton::InstantPopup);
    m_ab->addWidget(colourButton);
    QAction* sendfile = addTool(QStringLiteral("sendfile"), QStringLiteral("파일전송..."),
                                QStringLiteral("상담원에게 파일을 전송합니다."));
    m_save = addTool(QStringLiteral("save"), QStringLiteral("대화내용 저장"), QString());
    // For the keyboard: Ctrl+O picks files to send, Ctrl+S saves the conversation.
    sendfile->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    m_save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    for (QAction* action : m_ab->actions())
        if (QWidget* button = m_ab->widgetForAction(action)) button->setAccessibleName(action->text());

    connect(backcolor, &QAction::triggered, this, &frmChat::OnBackColor);
    connect(font, &QAction::triggered, this, &frmChat::OnFont);
    connect(m_bold, &QAction::triggered, this, [this](bool on) {
        m_style.bold = on;
        ApplyInputStyle(m_style);
    });
    connect(m_italic, &QAction::triggered, this, [this](bool on) {
        m_style.italic = on;
        ApplyInputStyle(m_style);
    });
    connect(sendfile, &QAction::triggered, this, &frmChat::PickFilesToSend);
    connect(m_save, &QAction::triggered, this, [this] { SaveTranscript(true); });

    m_picFile = new QWidget(this);
    m_picFile->setObjectName(QStringLiteral("picFile"));
    m_picFile->setVisible(false);
    auto* fileRow = new QVBoxLayout(m_picFile);
    m_lblFile = new QLabel(m_picFile);
    m_lblFile->setObjectName(QStringLiteral("lblFile"));
    m_pb = new QProgressBar(m_picFile);
    m_pb->setObjectName(QStringLiteral("pb"));
    m_pb->setAccessibleName(QStringLiteral("파일 전송 진행"));
    m_pb->setRange(0, 100);
    // The customer may stop a large file on a slow link.
    m_cmdCancelFile = new QPushButton(QStringLiteral("취소"), m_picFile);
    m_cmdCancelFile->setObjectName(QStringLiteral("cmdCancelFile"));
    m_cmdCancelFile->setAccessibleName(QStringLiteral("파일 전송 취소"));
    connect(m_cmdCancelFile, &QPushButton::clicked, this, [this] {
        if (!m_upload) return;
        m_cmdCancelFile->setEnabled(false);
        m_upload->Cancel();
    });
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(m_pb, 1);
    progressRow->addWidget(m_cmdCancelFile);
    fileRow->setContentsMargins(0, 2, 0, 2);
    fileRow->addWidget(m_lblFile);
    fileRow->addLayout(progressRow);

    m_txtChat = new QTextEdit(this);
    m_txtChat->setObjectName(QStringLiteral("txtChat"));
    m_txtChat->setAccessibleName(QStringLiteral("보낼 내용"));
    m_txtChat->setAcceptRichText(false);
    m_txtChat->setToolTip(
        QStringLiteral("여러줄을 입력하려면 <Shift+Enter>를 치세요. (Enter키만 단독으로 치면 전송됩니다.)"));
    m_txtChat->setFixedHeight(m_txtChat->fontMetrics().lineSpacing() * 3 + 12);
    m_txtChat->installEventFilter(this);
    m_cmdSend = new QPushButton(QStringLiteral("보내기"), this);
    m_cmdSend->setObjectName(QStringLiteral("cmdSend"));
    m_cmdSend->setAccessibleName(QStringLiteral("보내기"));
    m_cmdSend->setToolTip(QStringLiteral("입력한 내용을 상담원에게 보냅니다."));
    connect(m_cmdSend, &QPushButton::clicked, this, &frmChat::cmdSend_Click);
    auto* grip = new QSizeGrip(this);
    grip->setObjectName(QStringLiteral("lblResize"));
    grip->setAccessibleName(QStringLiteral("창 크기 조절"));

    auto* input = new QHBoxLayout;
    input->setSpacing(4);
    input->addWidget(m_txtChat, 1);
    auto* sendColumn = new QVBoxLayout;
    sendColumn->addWidget(m_cmdSend);
    sendColumn->addStretch(1);
    sendColumn->addWidget(grip, 0, Qt::AlignRight | Qt::AlignBottom);
    input->addLayout(sendColumn);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(2);
    layout->addWidget(m_webChat, 1);
    layout->addWidget(m_picFile);
    layout->addWidget(m_ab);
    layout->addLayout(input);

    m_timerFileSend.setObjectName(QStringLiteral("TimerFileSend"));
    m_timerFileSend.setParent(this);
    m_timerFileSend.setInterval(10);
    m_timerFileSend.setSingleShot(true);
    connect(&m_timerFileSend, &QTimer::timeout, this, &frmChat::RunUpload);
}

void frmChat::LoadSettings() {
    const QString& ini = m_context.IniFile;
    namespace s = util::settings;
    const util::OleColor back = util::OleColor(
        util::IniReadInt(ini, s::ChatBackColor.section, s::ChatBackColor.key, int(util::kWhite)));
    m_webChat->LoadAddress(ChatStartPage(FromOle(back)));
    ChatInputStyle style;
    style.fontName =
        util::IniRead(ini, s::ChatFontName.section, s::ChatFontName.key, s::ChatFontName.defaultValue);
    style.pointSize = util::IniReadDouble(ini, s::ChatFontSize.section, s::ChatFontSize.key, 11);
    if (style.pointSize <= 0) style.pointSize = 11;
    style.bold = util::IniReadBool(ini, s::ChatFontBold.section, s::ChatFontBold.key, false);
    style.italic = util::IniReadBool(ini, s::ChatFontItalic.section, s::ChatFontItalic.key, false);
    style.color =
        FromOle(util::OleColor(util::IniReadInt(ini, s::ChatForeColor.section, s::ChatForeColor.key, 0)));
    ApplyInputStyle(style);
}

void frmChat::SaveSettings() {
    const QString& ini = m_context.IniFile;
    namespace s = util::settings;
    s::Write(ini, s::ChatFontName, m_style.fontName);
    s::Write(ini, s::ChatFontSize, QString::number(m_style.pointSize));
    s::Write(ini, s::ChatFontBold, m_style.bold ? QStringLiteral("True") : QStringLiteral("False"));
    s::Write(ini, s::ChatFontItalic, m_style.italic ? QStringLiteral("True") : QStringLiteral("False"));
    s::Write(ini, s::ChatForeColor, QString::number(ToOle(m_style.color)));
}

ChatInputStyle frmChat::InputStyle() const {
    return m_style;
}

void frmChat::ApplyInputStyle(const ChatInputStyle& style) {
    m_style = style;
    QFont font(style.fontName);
    font.setPointSizeF(style.pointSize);
    font.setBold(style.bold);
    font.setItalic(style.italic);
    m_txtChat->setFont(font);
    m_txtChat->setTextColor(style.color);
    QPalette palette = m_txtChat->palette();
    palette.setColor(QPalette::Text, style.color);
    m_txtChat->setPalette(palette);
    m_bold->setChecked(style.bold);
    m_italic->setChecked(style.italic);
}

void frmChat::OnToolColour(const QString&, const QColor& colour) {
    m_style.color = colour;
    ApplyInputStyle(m_style);
}

void frmChat::OnFont() {
    QFont initial(m_style.fontName);
    initial.setPointSizeF(m_style.pointSize);
    initial.setBold(m_style.bold);
    initial.setItalic(m_style.italic);
    if (const auto font = util::Dialogs::PickFont({this, initial})) {
        m_style.fontName = font->family();
        if (font->pointSizeF() > 0) m_style.pointSize = font->pointSizeF();
        m_style.bold = font->bold();
        m_style.italic = font->italic();
    }
    ApplyInputStyle(m_style);
}

void frmChat::OnBackColor() {
    const QString colour = util::PickPageBackground(this, m_webChat, true);
    const QColor picked(colour);
    if (!colour.isEmpty() && picked.isValid()) {
        util::settings::Write(m_context.IniFile, util::settings::ChatBackColor,
                              QString::number(ToOle(picked)));
        // The page's style is replaced where it stands rather than by loading the page again, so that a
        // line arriving meanwhile cannot be lost between the reload and putting the conversation back.
        m_webChat->RunDomScript(
            QStringLiteral("(function(){var s=document.querySelector('style');"
                           "if(!s){s=document.createElement('style');document.head.appendChild(s);}"
                           "s.textContent=%1;var e=document.scrollingElement||document.body;"
                           "e.scrollTop+=20000;e.scrollTop+=20000;})();")
                .arg(util::ToJsString(ChatBackgroundStyle(picked))));
    }
    m_txtChat->setFocus();
}

bool frmChat::OnNavigation(const QUrl& url) {
    const ChatNavigation decision =
        DecideChatNavigation(url.toString(), [](const QString& path) { return QFileInfo::exists(path); });
    switch (decision.kind) {
        case ChatNavigation::Allow:
            return false;  // the view keeps the conversation
        case ChatNavigation::ShowInFileManager:
            m_services.files->ShowItem(decision.target);
            return false;
        case ChatNavigation::ShowFolder:
            m_services.files->ShowFolder(decision.target);
            return false;
        case ChatNavigation::OpenOutside:
            util::OpenWebPage(decision.target, QString(), false, *m_services.shell);
            return false;
        case ChatNavigation::Refuse:
            qCInfo(lcTransfer).noquote() << "link refused" << url.toString();
            return false;
    }
    return false;
}

void frmChat::cmdSend_Click() {
    if (!m_cmdSend->isEnabled()) return;
    QString input = m_txtChat->toPlainText();
    input.replace(u'\n', QStringLiteral("\r\n"));
    const QPointer<frmChat> alive(this);
    // Sending pauses between the pieces while window events run: the window stays until it returns.
    const util::NestedLoopScope sending(this);
    switch (m_conversation.Send(input, m_style, m_context.CustomerName, m_context.CustomerPhone,
                                QDateTime::currentDateTime())) {
        case ChatConversation::SendResult::Nothing:
            return;
        case ChatConversation::SendResult::Disconnected:
            util::MessageBoxes::Inform(this, QStringLiteral("상담원과의 연결이 끊어졌습니다."));
            return;
        case ChatConversation::SendResult::Sent:
            break;
    }
    if (!alive) return;
    m_txtChat->clear();
    m_txtChat->setFocus();
}

void frmChat::SaveTranscript(bool showMessage) {
    // A failed write keeps the last good transcript; the customer is told all the same.
    m_transcriptFile->Save();
    m_conversation.MarkSaved();
    if (showMessage)
        util::MessageBoxes::Inform(
            this, QStringLiteral("대화 내용이 저장되었습니다.\r\n\r\n파일명 : ") + m_transcriptPath +
                      QStringLiteral(
                          "\r\n\r\n이 내용을 후에 다시 보려면 [지원내역 다시보기] 단추를 누르시면 됩니다."));
}

void frmChat::DrawAttention() {
    if (!isMinimized() && isActiveWindow()) return;
    // The sound is one of the program's resources, beside the executable, wherever its data is kept.
    const QString folder = m_context.ProgramFolder.isEmpty() ? m_context.AppFolder : m_context.ProgramFolder;
    m_services.desktop->PlaySound(folder + QStringLiteral("/system/chat.wav"));
    m_services.desktop->FlashWindow(windowHandle());
}

bool frmChat::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_txtChat) {
        switch (event->type()) {
            case QEvent::KeyPress: {
                auto* key = static_cast<QKeyEvent*>(event);
                switch (ChatKeyAction(key->key(), key->modifiers())) {
                    case ChatKey::Send:
                        cmdSend_Click();
                        return true;
                    case ChatKey::LineBreak:
                        m_txtChat->textCursor().insertText(QStringLiteral("\n"));
                        return true;
                    case ChatKey::InsertDateTime:
                        m_txtChat->textCursor().insertText(GeneralDateTime(QDateTime::currentDateTime()));
                        return true;
                    case ChatKey::Default:
                        break;
                }
                break;
            }
            case QEvent::FocusIn:
            case QEvent::FocusOut: {
                QPalette palette = m_txtChat->palette();
                palette.setColor(QPalette::Base, event->type() == QEvent::FocusIn ? QColor(0xFF, 0xFF, 0xFF)
                                                                                  : QColor(0xFF, 0xFF, 0xC0));
                m_txtChat->setPalette(palette);
                break;
            }
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDragMoveEvent*>(event);
                if (!DroppedFiles(drag->mimeData()).isEmpty()) {
                    drag->acceptProposedAction();
                    return true;
                }
                break;
            }
            case QEvent::Drop: {
                const QMimeData* dropped = static_cast<QDropEvent*>(event)->mimeData();
                const QString htmlFormat =
                    QStringLiteral("application/x-qt-windows-mime;value=\"HTML Format\"");
                QString text;
                if (dropped->hasFormat(htmlFormat)) text = DroppedHtmlFragment(dropped->data(htmlFormat));
                if (text.isEmpty() && dropped->hasHtml()) text = DroppedRichText(dropped->html());
                const QStringList files = DroppedFiles(dropped);
                if (text.isEmpty() && !files.isEmpty()) {
                    auto* drop = static_cast<QDropEvent*>(event);
                    if (DropFiles(files)) {
                        drop->acceptProposedAction();
                    } else {
                        drop->setDropAction(Qt::IgnoreAction);
                        drop->accept();
                    }
                    return true;
                }
                if (text.isEmpty() && dropped->hasText()) text = dropped->text();
                if (text.isEmpty()) return true;  // nothing to send: the drop is refused
                m_txtChat->setPlainText(text);
                cmdSend_Click();
                return true;
            }
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmChat::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Run once the activation has been delivered: what it does (closing the connected notice, sending
    // the request text) runs window events, which must not happen while Qt still delivers the change
    // of active window (the window that lost it may be deleted meanwhile).
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        util::PostToLoop(this, [this] { OnActivated(); });
}

void frmChat::OnActivated() {
    const util::NestedLoopScope activating(this);  // the append below runs window events
    if (m_link.Connected()) m_link.MinimizeMainWindow();
    util::AppendHtml(m_webChat, QString());
    if (m_activateStage == 2) return;
    m_activateStage = 2;
    qCInfo(lcTransfer) << "chat window activated";
    m_link.CloseConnectedNotice();
    m_txtChat->setFocus();
    m_services.inputMode->SetHangul(true);
    if (!m_context.PendingRequestText.isEmpty()) {
        m_txtChat->setPlainText(m_context.PendingRequestText);
        m_context.PendingRequestText.clear();
        cmdSend_Click();
    }
}

void frmChat::closeEvent(QCloseEvent* event) {
    StopUpload();
    m_offer.Reset();
    SaveSettings();
    if (m_conversation.bChated()) SaveTranscript(false);
    m_link.RestoreMainWindow();
    m_chatLoaded = false;
    QWidget::closeEvent(event);
}

}  // namespace pelio::transfer
