#include "request/frmIP.h"

#include "util/gui/MessageBoxes.h"
#include "util/gui/WindowLook.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

namespace pelio::request {

namespace {

const QString kCaption = QStringLiteral("IP, 포트 입력");

}  // namespace

frmIP::frmIP(app::AppContext& context, QWidget* parent) : QDialog(parent), m_rules(context.IniFile) {
    setObjectName(QStringLiteral("frmIP"));
    setWindowTitle(kCaption);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setModal(true);
    util::ApplyWindowLook(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new util::HeaderBand(kCaption, this));

    auto* body = new QWidget(this);
    auto* bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(18, 14, 18, 14);
    bodyLayout->setSpacing(12);
    auto* guide = new QLabel(QStringLiteral("상담원이 전화로 알려준 IP와 포트번호를 입력하세요."), body);
    guide->setObjectName(QStringLiteral("lblGuide"));
    guide->setWordWrap(true);
    bodyLayout->addWidget(guide);

    auto* fields = new QGridLayout;
    fields->setHorizontalSpacing(8);
    fields->setVerticalSpacing(8);
    auto addField = [&](int row, const QString& caption, const QString& name, const QString& accessible) {
        auto* label = new QLabel(caption, body);
        auto* box = new QLineEdit(body);
        box->setObjectName(name);
        box->setAccessibleName(accessible);
        label->setBuddy(box);
        fields->addWidget(label, row, 0);
        fields->addWidget(box, row, 1);
        return box;
    };
    m_txtIP = addField(0, QStringLiteral("IP 주소 : "), QStringLiteral("txtIP"), QStringLiteral("IP 주소"));
    m_txtPort =
        addField(1, QStringLiteral("포트번호 : "), QStringLiteral("txtPort"), QStringLiteral("포트번호"));
    m_txtIP->setMinimumWidth(m_txtIP->fontMetrics().horizontalAdvance(QStringLiteral("000.000.000.000")) +
                             24);
    fields->setColumnStretch(1, 1);
    bodyLayout->addLayout(fields);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cmdOK = new QPushButton(QStringLiteral("확인"), body);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setAccessibleName(cmdOK->text());
    cmdOK->setDefault(true);
    auto* cmdCancel = new QPushButton(QStringLiteral("취소"), body);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setAccessibleName(cmdCancel->text());
    cmdCancel->setAutoDefault(false);
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    bodyLayout->addLayout(buttons);
    layout->addWidget(body, 1);

    m_txtIP->setText(m_rules.StoredAddressText());
    m_txtPort->setText(m_rules.StoredPortText());
    // Wide enough for the guidance on one line, where the screen allows.
    const int wide = guide->fontMetrics().horizontalAdvance(guide->text()) + 48;
    resize(qMin(qMax(sizeHint().width(), wide), screen()->availableGeometry().width()), sizeHint().height());

    connect(cmdOK, &QPushButton::clicked, this, &frmIP::OnOk);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void frmIP::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) IsChanged = false;
    QDialog::showEvent(event);
}

void frmIP::OnOk() {
    const ManualAddressRules::Verdict verdict = m_rules.Confirm(m_txtIP->text(), m_txtPort->text());
    if (verdict.problem != ManualAddressRules::Field::None) {
        util::MessageBoxes::Inform(this, verdict.message);
        (verdict.problem == ManualAddressRules::Field::Address ? m_txtIP : m_txtPort)->setFocus();
        return;
    }
    ServerIP = m_rules.ServerIP();
    ServerPort = m_rules.ServerPort();
    IsChanged = true;
    accept();
}

void frmIP::done(int result) {
    m_rules.Close(m_txtIP->text(), m_txtPort->text());
    QDialog::done(result);
}

}  // namespace pelio::request
