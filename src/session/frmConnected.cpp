#include "session/frmConnected.h"

#include "util/gui/WindowLook.h"
#include "util/gui/WindowRoutines.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace pelio::session {

frmConnected::frmConnected(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmConnected"));
    setWindowTitle(QStringLiteral("연결되었습니다."));
    setModal(false);
    util::ApplyWindowLook(this);

    auto* text = new QLabel(QStringLiteral("연결되었습니다.\n\n상담원이 곧 고객님의 화면을 제어할 것입니다.\n"
                                           "잠시만 기다리십시오."),
                            this);
    text->setObjectName(QStringLiteral("lblMessage"));
    text->setWordWrap(true);
    m_lblSecurity = new QLabel(this);
    m_lblSecurity->setObjectName(QStringLiteral("lblSecurity"));
    m_lblSecurity->setAccessibleName(QStringLiteral("연결 보안"));
    m_lblSecurity->setWordWrap(true);
    m_lblSecurity->setTextFormat(Qt::PlainText);
    m_lblSecurity->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = m_lblSecurity->font();
    bold.setBold(true);
    m_lblSecurity->setFont(bold);
    m_lblSecurity->setVisible(false);
    m_cmdOK = new QPushButton(QStringLiteral("확인"), this);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdOK->setAccessibleName(QStringLiteral("확인"));
    m_cmdOK->setDefault(true);
    connect(m_cmdOK, &QPushButton::clicked, this, &QDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cmdOK);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->setSpacing(14);
    layout->addWidget(text);
    layout->addWidget(m_lblSecurity);
    layout->addLayout(buttons);
    adjustSize();
    util::CenterWindow(this);
}

void frmConnected::SetSecurityText(const QString& text) {
    m_lblSecurity->setText(text);
    m_lblSecurity->setAccessibleDescription(text);
    m_lblSecurity->setVisible(!text.isEmpty());
    adjustSize();
}

}  // namespace pelio::session
