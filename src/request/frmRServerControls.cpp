// The controls of the agent list window and their layout.
#include "request/frmRServer.h"

#include "platform/Services.h"
#include "util/core/SettingsKeys.h"
#include "util/gui/Browser.h"
#include "util/gui/EmbeddedBrowser.h"
#include "util/gui/HtmlView.h"
#include "util/gui/WindowLook.h"
#include "util/gui/WindowRoutines.h"
#include "web/ServiceEndpoints.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace pelio::request {

namespace {

// A person: the agents' icon in the list, white on the selection.
QIcon PersonIcon(qreal ratio) {
    const auto paint = [ratio](const QColor& color) {
        QPixmap pixmap(QSize(16, 16) * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(QRectF(5, 1.5, 6, 6));
        QPainterPath body;
        body.addRoundedRect(QRectF(2, 9, 12, 7), 3.5, 3.5);
        p.drawPath(body);
        return pixmap;
    };
    QIcon icon(paint(QColor::fromRgb(util::kAccentColor)));
    icon.addPixmap(paint(Qt::white), QIcon::Selected);
    return icon;
}

// A screen with a headset's microphone: the picture at the top of the window.
QPixmap TopPicture(int size, qreal ratio) {
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 16.0;
    p.setPen(QPen(Qt::white, 1.4 * u));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(1.5 * u, 2 * u, 13 * u, 9 * u), 1.5 * u, 1.5 * u);
    p.drawLine(QPointF(8 * u, 11 * u), QPointF(8 * u, 13.5 * u));
    p.drawLine(QPointF(5 * u, 14 * u), QPointF(11 * u, 14 * u));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xFF, 0x99, 0x66));
    p.drawEllipse(QRectF(5.5 * u, 4.5 * u, 5 * u, 4 * u));
    return pixmap;
}

QPushButton* NewButton(const QString& name, const QString& caption, const QString& tip, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAccessibleName(caption);
    button->setToolTip(tip);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

void frmRServer::BuildControls() {
    util::ApplyWindowLook(this);
    const qreal ratio = devicePixelRatioF();
    m_listIcon = PersonIcon(ratio);

    // The header band: the picture, the title that names the company, the home page link.
    auto* band = new util::HeaderBand(QStringLiteral("Pelio 원격지원 시스템"), this);
    m_lblTitle = band->Caption();
    m_lblTitle->setObjectName(QStringLiteral("lblTitle"));
    m_lblTitle->setWordWrap(false);
    m_lblTitle->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_lblTitle->setMinimumWidth(40);
    m_lblTitle->setToolTip(m_lblTitle->text());
    m_titlePointSize = m_lblTitle->font().pointSizeF();
    m_imgTop = new QLabel(band);
    m_imgTop->setObjectName(QStringLiteral("imgTop"));
    m_imgTop->setAccessibleName(QStringLiteral("Pelio 원격지원"));
    const int picture = m_lblTitle->fontMetrics().height() + 6;
    m_imgTop->setPixmap(TopPicture(picture, ratio));
    m_lblHome = new QLabel(band);
    m_lblHome->setObjectName(QStringLiteral("lblHome"));
    m_lblHome->setText(QStringLiteral("<a href='home' style='color:white'>Pelio 홈페이지</a>"));
    m_lblHome->setAccessibleName(QStringLiteral("Pelio 홈페이지"));
    m_lblHome->setToolTip(QStringLiteral("Pelio 홈페이지를 엽니다."));
    m_lblHome->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    m_lblHome->setStyleSheet(QStringLiteral("background: transparent;"));
    auto* bandLayout = static_cast<QHBoxLayout*>(band->layout());
    bandLayout->insertWidget(0, m_imgTop);
    bandLayout->addWidget(m_lblHome, 0, Qt::AlignRight | Qt::AlignVCenter);

    // The notice of the company.
    m_web = new util::HtmlView(this);
    m_web->setObjectName(QStringLiteral("Web"));
    m_web->setAccessibleName(QStringLiteral("회사 공지사항"));
    m_web->setMinimumHeight(60);
    util::MakeEmbeddedPage(m_web, *m_services.shell, m_context.IsDevelopment);

    m_label1 = new QLabel(kChooseAgentText, this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setWordWrap(true);

    // The agents: name, status, extra information and the hidden port.
    m_lvList = new QTreeWidget(this);
    m_lvList->setObjectName(QStringLiteral("lvList"));
    m_lvList->setAccessibleName(QStringLiteral("상담원 목록"));
    m_lvList->setColumnCount(4);
    m_lvList->setHeaderLabels({QStringLiteral("상담원"), QStringLiteral("상태"), QStringLiteral("부가정보"),
                               QStringLiteral("포트")});
    m_lvList->setRootIsDecorated(false);
    m_lvList->setUniformRowHeights(true);
    m_lvList->setAllColumnsShowFocus(true);
    m_lvList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lvList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_lvList->setIconSize(QSize(16, 16));
    m_lvList->setMinimumHeight(70);
    const int twipsX = qMax(1, m_context.ScreenTwipsX);
    m_lvList->setColumnWidth(0, 1200 / twipsX);
    m_lvList->setColumnWidth(1, 3000 / twipsX);
    m_lvList->setColumnHidden(kPortColumn, true);
    m_lvList->header()->setStretchLastSection(true);
    m_lvList->header()->setSectionsClickable(true);
    m_lvList->header()->setSectionsMovable(false);

    m_txtStartMent = new QPlainTextEdit(this);
    m_txtStartMent->setObjectName(QStringLiteral("txtStartMent"));
    m_txtStartMent->setAccessibleName(QStringLiteral("문의사항"));
    m_txtStartMent->setToolTip(QStringLiteral("지원요청과 동시에 상담원에게 전송할 문의사항"));
    m_txtStartMent->setTabChangesFocus(true);
    const int line = m_txtStartMent->fontMetrics().lineSpacing();
    m_txtStartMent->setMinimumHeight(2 * line + 12);
    m_txtStartMent->setMaximumHeight(3 * line + 12);
    m_txtStartMent->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);

    m_cmdConnect = NewButton(QStringLiteral("cmdConnect"), QStringLiteral("지원요청..."),
                             QStringLiteral("선택한 상담원에게 원격지원을 요청합니다."), this);
    m_cmdConnect->setEnabled(false);
    m_cmdRefresh = NewButton(QStringLiteral("cmdRefresh"), QStringLiteral("새로고침"),
                             QStringLiteral("상담원 상태를 다시 불러옵니다."), this);
    m_cmdReview = NewButton(QStringLiteral("cmdReview"), QStringLiteral("지원내역..."),
                            QStringLiteral("지난 원격지원의 대화내용과 녹화화면을 봅니다."), this);
    m_cmdExit = NewButton(QStringLiteral("cmdExit"), QStringLiteral("종료"),
                          QStringLiteral("프로그램을 마칩니다."), this);
    m_cmdEnd = NewButton(QStringLiteral("cmdEnd"), QStringLiteral("연결끊기"),
                         QStringLiteral("원격지원 연결을 끊습니다."), this);
    m_cmdEnd->setEnabled(false);
    m_cmdChat = NewButton(QStringLiteral("cmdChat"), QStringLiteral("대화하기..."),
                          QStringLiteral("상담원과 대화합니다."), this);
    m_cmdChat->setEnabled(false);
    m_cmdExplorer = NewButton(QStringLiteral("cmdExplorer"), QStringLiteral("받은파일..."),
                              QStringLiteral("상담원에게서 받은 파일이 있는 폴더를 엽니다."), this);
    m_chkClipboard = new QCheckBox(QStringLiteral("클립보드 공유"), this);
    m_chkClipboard->setObjectName(QStringLiteral("chkClipboard"));
    m_chkClipboard->setAccessibleName(QStringLiteral("클립보드 공유"));
    m_chkClipboard->setToolTip(QStringLiteral("원격지원 중에 복사한 글을 상담원과 주고받습니다."));
    m_chkClipboard->setChecked(util::settings::Read(m_context.IniFile, util::settings::ClipboardShare) !=
                               u"0");
    m_lblTime = new QLabel(this);
    m_lblTime->setObjectName(QStringLiteral("lblTime"));
    m_lblTime->setAccessibleName(QStringLiteral("연결 시간"));
    m_statusBar = new QStatusBar(this);
    m_statusBar->setObjectName(QStringLiteral("StatusBar"));
    m_statusBar->setSizeGripEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addWidget(m_cmdConnect);
    buttons->addWidget(m_cmdRefresh);
    buttons->addWidget(m_cmdEnd);
    buttons->addWidget(m_cmdChat);
    buttons->addWidget(m_cmdExplorer);
    buttons->addWidget(m_chkClipboard);
    buttons->addStretch(1);
    buttons->addWidget(m_lblTime);
    buttons->addWidget(m_cmdReview);
    buttons->addWidget(m_cmdExit);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(10, 8, 10, 4);
    body->setSpacing(6);
    body->addWidget(m_web, 2);
    body->addWidget(m_label1);
    body->addWidget(m_lvList, 3);
    body->addWidget(m_txtStartMent);
    body->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(band);
    layout->addLayout(body, 1);
    layout->addWidget(m_statusBar);

    m_timer2.setObjectName(QStringLiteral("Timer2"));
    m_timer2.setParent(this);
    m_timer2.setInterval(1000);

    // A comfortable size that still fits the screen, centred.
    QSize size(720, 600);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 0.9);
    resize(size.expandedTo(minimumSizeHint()));
    util::CenterWindow(this);

    connect(m_lvList, &QTreeWidget::itemSelectionChanged, this, &frmRServer::OnListSelectionChanged);
    connect(m_lvList, &QTreeWidget::itemClicked, this, &frmRServer::OnListSelectionChanged);
    connect(m_lvList->header(), &QHeaderView::sectionClicked, this, &frmRServer::OnColumnClicked);
    connect(m_cmdConnect, &QPushButton::clicked, this, &frmRServer::OnConnectClicked);
    connect(m_cmdRefresh, &QPushButton::clicked, this, [this] { m_rules.Refresh(); });
    connect(m_cmdReview, &QPushButton::clicked, this, &frmRServer::OnReviewClicked);
    connect(m_cmdExit, &QPushButton::clicked, this, &QWidget::close);
    connect(m_cmdEnd, &QPushButton::clicked, this, [this] { m_session->EndSession(); });
    connect(m_cmdChat, &QPushButton::clicked, this, [this] { m_session->ShowChat(); });
    connect(m_cmdExplorer, &QPushButton::clicked, this, [this] {
        if (!m_context.ReceivedFolder.isEmpty()) m_services.files->ShowFolder(m_context.ReceivedFolder);
    });
    connect(m_chkClipboard, &QCheckBox::toggled, this, [this](bool on) {
        util::settings::Write(m_context.IniFile, util::settings::ClipboardShare,
                              on ? QStringLiteral("1") : QStringLiteral("0"));
        m_session->SetClipboardSharing(on);
    });
    connect(&m_timer2, &QTimer::timeout, this, [this] { m_rules.Tick(); });
    connect(m_web, &util::HtmlView::documentLoaded, this, &frmRServer::OnNoticeLoaded);
    connect(m_lblHome, &QLabel::linkActivated, this, [this] {
        util::OpenWebPage(web::HomePageRequest(m_roots).PageAddress, QString(), false, *m_services.shell);
    });
    m_txtStartMent->installEventFilter(this);
    m_imgTop->installEventFilter(this);
    m_lblTitle->installEventFilter(this);
}

}  // namespace pelio::request
