#include "request/frmConfirm.h"

#include "history/HistoryViewer.h"
#include "history/frmPlay.h"
#include "platform/Services.h"
#include "request/frmIP.h"
#include "util/gui/EmbeddedBrowser.h"
#include "util/gui/HtmlView.h"
#include "util/gui/MessageBoxes.h"
#include "util/gui/WindowLook.h"
#include "util/gui/WindowRoutines.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace pelio::request {

namespace {

const QString kCaption = QStringLiteral("Pelio 원격지원 센터 접속 정보");

// The window moves with the mouse when pressed this close to its top.
constexpr int kDragBandPixels = 23;

QLabel* NewLabel(const QString& text, QWidget* parent, const char* style = nullptr) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    if (style) label->setStyleSheet(QLatin1String(style));
    return label;
}

QPushButton* NewButton(const QString& name, const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAccessibleName(text);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

frmConfirm::frmConfirm(app::AppContext& context, platform::Services& services, QWidget* parent)
    : QDialog(parent), m_context(context), m_services(services), m_rules(context, *this) {
    setObjectName(QStringLiteral("frmConfirm"));
    setWindowTitle(kCaption);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setModal(true);
    util::ApplyWindowLook(this);
    BuildControls();
    m_rules.Load();

    m_web->LoadUrl(QUrl(web::FirewallPageRequest(m_rules.Roots()).PageAddress));

    // As large as the form and a few lines of the notice need, within the screen.
    const QRect screen = this->screen()->availableGeometry();
    auto* scroll = findChild<QScrollArea*>(QStringLiteral("picBody"));
    const int wanted = sizeHint().height() - scroll->sizeHint().height() +
                       scroll->widget()->sizeHint().height() + m_web->fontMetrics().height() * 4;
    resize(qMin(qMax(sizeHint().width(), 560), screen.width()), qMin(wanted, screen.height()));
    util::CenterWindow(this);
}

frmConfirm::~frmConfirm() = default;

void frmConfirm::BuildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* band = new util::HeaderBand(kCaption, this);
    m_cmdX = new QPushButton(QStringLiteral("×"), band);
    m_cmdX->setObjectName(QStringLiteral("cmdX"));
    m_cmdX->setAccessibleName(QStringLiteral("닫기"));
    m_cmdX->setToolTip(QStringLiteral("닫기"));
    m_cmdX->setAutoDefault(false);
    m_cmdX->setFocusPolicy(Qt::NoFocus);
    m_cmdX->setStyleSheet(
        QStringLiteral("QPushButton#cmdX { background: transparent; color: white; font: 16pt "
                       "\"NanumGothic\"; padding: 0 6px; }"
                       "QPushButton#cmdX:hover { background: rgba(255, 255, 255, 40); }"));
    band->layout()->addWidget(m_cmdX);
    layout->addWidget(band);

    // The form and the notice scroll when the screen is too small for them (200 % on 1024x768);
    // the caption band and the buttons stay in view.
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("picBody"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* body = new QWidget;
    body->setObjectName(QStringLiteral("picForm"));
    scroll->setWidget(body);
    body->setAutoFillBackground(false);
    // Under the window's style sheet the scroll area's page would not take the window's font.
    body->setStyleSheet(QStringLiteral("QWidget#picForm, QWidget#picForm QWidget { font-family: \"%1\"; "
                                       "font-size: %2pt; }")
                            .arg(font().family())
                            .arg(font().pointSizeF()));
    scroll->viewport()->setAutoFillBackground(false);  // the window's own background shows through
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(18, 12, 18, 6);
    column->setSpacing(6);
    const char* heading = "font-weight: bold; color: #1F4E79;";
    const char* remark = "color: #666666;";
    column->addWidget(
        NewLabel(QStringLiteral("이 프로그램은 Pelio 고객센터를 운영하는 모든 회사로부터 원격지원을 "
                                "받을 수 있는 안전한 프로그램입니다."),
                 body));

    auto* fields = new QGridLayout;
    fields->setHorizontalSpacing(8);
    fields->setVerticalSpacing(6);
    fields->setColumnStretch(1, 1);
    auto addLine = [&](QWidget* widget, int top) {
        const int row = fields->rowCount();
        if (top > 0) fields->setRowMinimumHeight(row, top);
        fields->addWidget(widget, top > 0 ? row + 1 : row, 0, 1, 3);
    };

    // 1. The company: the code with its list and delete button, and the company's name beside it.
    addLine(NewLabel(QStringLiteral("1. 원격지원 요청할 회사의 회사 코드"), body, heading), 8);
    addLine(NewLabel(QStringLiteral("전화로 미리 확인하신 회사코드를 입력하십시오."), body, remark), 0);
    m_cboDeptCode = new QComboBox(body);
    m_cboDeptCode->setObjectName(QStringLiteral("cboDeptCode"));
    m_cboDeptCode->setEditable(true);
    m_cboDeptCode->setInsertPolicy(QComboBox::NoInsert);
    m_cboDeptCode->setAccessibleName(QStringLiteral("회사코드"));
    m_cboDeptCode->setToolTip(QStringLiteral("처음 지원받는 회사코드는 직접입력하십시오."));
    m_cboDeptCode->setMinimumContentsLength(10);
    m_cboDeptCode->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_cboDel = NewButton(QStringLiteral("cboDel"), QStringLiteral("삭제"), body);
    m_cboDel->setAccessibleName(QStringLiteral("회사코드 삭제"));
    m_cboDel->setToolTip(QStringLiteral("현재 회사코드를 목록에서 지웁니다."));
    m_cboDel->setStyleSheet(QStringLiteral("QPushButton#cboDel { padding: 0 10px; min-height: 0; }"));
    m_cboDel->setFixedHeight(m_cboDeptCode->sizeHint().height());
    m_lblDeptName = NewLabel(QStringLiteral("-"), body, "font-weight: bold; color: #2E75B6;");
    m_lblDeptName->setObjectName(QStringLiteral("lblDeptName"));
    auto* codeRow = new QHBoxLayout;
    codeRow->addWidget(m_cboDeptCode);
    codeRow->addWidget(m_cboDel);
    codeRow->addSpacing(6);
    codeRow->addWidget(m_lblDeptName, 1);
    int row = fields->rowCount();
    fields->addWidget(new QLabel(QStringLiteral("회사코드 :"), body), row, 0);
    fields->addLayout(codeRow, row, 1);
    fields->addWidget(NewLabel(QStringLiteral("(필수)"), body, remark), row, 2);

    // 2. The customer.
    addLine(NewLabel(QStringLiteral("2. 원격지원 받을 고객님의 정보"), body, heading), 8);
    m_txtName = new QLineEdit(body);
    m_txtName->setObjectName(QStringLiteral("txtName"));
    m_txtName->setAccessibleName(QStringLiteral("고객명"));
    m_txtPhone = new QLineEdit(body);
    m_txtPhone->setObjectName(QStringLiteral("txtPhone"));
    m_txtPhone->setAccessibleName(QStringLiteral("전화번호"));
    row = fields->rowCount();
    fields->addWidget(new QLabel(QStringLiteral("고 객 명 :"), body), row, 0);
    fields->addWidget(m_txtName, row, 1);
    fields->addWidget(NewLabel(QStringLiteral("(필수)"), body, remark), row, 2);
    fields->addWidget(new QLabel(QStringLiteral("전화번호 :"), body), row + 1, 0);
    fields->addWidget(m_txtPhone, row + 1, 1);
    fields->addWidget(NewLabel(QStringLiteral("(지역번호 포함)"), body, remark), row + 1, 2);
    fields->addWidget(NewLabel(QStringLiteral("(고객센터와 통화중인 전화번호)"), body, remark), row + 2, 1, 1,
                      2);
    column->addLayout(fields);

    // The service's firewall notice.
    column->addSpacing(6);
    auto* picNotice = new QFrame(body);
    picNotice->setObjectName(QStringLiteral("picNotice"));
    picNotice->setFrameShape(QFrame::StyledPanel);
    auto* noticeLayout = new QVBoxLayout(picNotice);
    noticeLayout->setContentsMargins(1, 1, 1, 1);
    m_web = new util::HtmlView(picNotice);
    m_web->setObjectName(QStringLiteral("Web"));
    m_web->setAccessibleName(QStringLiteral("방화벽 안내"));
    m_web->setMinimumHeight(m_web->fontMetrics().height() * 6);
    util::MakeEmbeddedPage(m_web, *m_services.shell, m_context.IsDevelopment);
    noticeLayout->addWidget(m_web);
    column->addWidget(picNotice, 1);
    layout->addWidget(scroll, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(18, 6, 18, 12);
    buttons->setSpacing(8);
    m_cmdReview = NewButton(QStringLiteral("cmdReview"), QStringLiteral("지원 내역 보기"), this);
    m_cmdReview->setToolTip(QStringLiteral("기존에 지원받은 내역을 다시 봅니다."));
    m_cmdOK = NewButton(QStringLiteral("cmdOK"), QStringLiteral("확인"), this);
    m_cmdOK->setDefault(true);
    m_cmdCancel = NewButton(QStringLiteral("cmdCancel"), QStringLiteral("취소"), this);
    buttons->addWidget(m_cmdReview);
    buttons->addStretch(1);
    buttons->addWidget(m_cmdOK);
    buttons->addWidget(m_cmdCancel);
    layout->addLayout(buttons);

    connect(m_cboDeptCode, &QComboBox::editTextChanged, this,
            [this](const QString& text) { m_rules.CodeEdited(text); });
    connect(m_cboDeptCode, &QComboBox::textActivated, this,
            [this](const QString& text) { m_rules.CodeEdited(text); });
    connect(m_txtName, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_rules.NameEdited(text); });
    connect(m_txtPhone, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_rules.PhoneEdited(text); });
    connect(m_cboDel, &QPushButton::clicked, this, [this] { m_rules.DeleteCode(); });
    connect(m_cmdOK, &QPushButton::clicked, this, [this] { m_rules.Confirm(); });
    connect(m_cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_cmdX, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_cmdReview, &QPushButton::clicked, this, &frmConfirm::OnReview);
    m_txtName->installEventFilter(this);
    m_txtPhone->installEventFilter(this);
}

void frmConfirm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m_rules.Activate();
}

void frmConfirm::done(int result) {
    if (!m_rules.Close()) return;  // closes once the running check has its answer
    IsChanged = m_rules.IsChanged();
    ConnectNow = m_rules.ConnectNow();
    ServerIP = m_rules.Address().ServerIP;
    ServerPort = m_rules.Address().ServerPort;
    QDialog::done(result);
}

void frmConfirm::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && event->position().y() < kDragBandPixels) util::DragWindow(this);
    QDialog::mousePressEvent(event);
}

bool frmConfirm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn && (watched == m_txtName || watched == m_txtPhone)) {
        util::SelectAllText(static_cast<QLineEdit*>(watched));
        if (watched == m_txtName && m_services.inputMode) m_services.inputMode->SetHangul(true);
    } else if (event->type() == QEvent::FocusOut && watched == m_txtPhone) {
        m_rules.PhoneLeft();
    }
    return QDialog::eventFilter(watched, event);
}

void frmConfirm::OnReview() {
    const std::unique_ptr<history::frmPlay> viewer =
        history::CreateHistoryViewer(m_context, m_services, this);
    util::RunModal(*viewer);
}

void frmConfirm::ShowHistory(const QStringList& codes) {
    const QSignalBlocker block(m_cboDeptCode);
    const QString text = m_cboDeptCode->currentText();
    m_cboDeptCode->clear();
    m_cboDeptCode->addItems(codes);
    m_cboDeptCode->setCurrentIndex(-1);
    m_cboDeptCode->setEditText(text);
}

void frmConfirm::ShowCode(const QString& code) {
    const QSignalBlocker block(m_cboDeptCode);
    m_cboDeptCode->setEditText(code);
}

void frmConfirm::LockCode() {
    m_cboDeptCode->setEnabled(false);
    m_cboDel->setEnabled(false);
}

void frmConfirm::ShowCompanyName(const QString& name) {
    m_lblDeptName->setText(name);
}

void frmConfirm::ShowName(const QString& name) {
    const QSignalBlocker block(m_txtName);
    m_txtName->setText(name);
}

void frmConfirm::ShowPhone(const QString& phone) {
    const QSignalBlocker block(m_txtPhone);
    m_txtPhone->setText(phone);
}

void frmConfirm::EnableOk(bool enabled) {
    m_cmdOK->setEnabled(enabled);
}

void frmConfirm::Focus(EntryField field) {
    switch (field) {
        case EntryField::Code:
            m_cboDeptCode->setFocus();
            return;
        case EntryField::Name:
            m_txtName->setFocus();
            return;
        case EntryField::Phone:
            m_txtPhone->setFocus();
            return;
    }
}

void frmConfirm::Tell(const QString& message) {
    util::MessageBoxes::Inform(this, message);
}

void frmConfirm::SetBusy(bool busy) {
    if (busy == m_busy) return;
    m_busy = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
    setEnabled(!busy);
}

std::optional<ManualAddress> frmConfirm::AskManualAddress() {
    frmIP manual(m_context, this);
    util::RunModal(manual);
    if (!manual.IsChanged) return std::nullopt;
    return ManualAddress{manual.ServerIP, manual.ServerPort};
}

void frmConfirm::CloseWindow() {
    done(m_rules.IsChanged() ? QDialog::Accepted : QDialog::Rejected);
}

}  // namespace pelio::request
