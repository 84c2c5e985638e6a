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
    layout->addLayout(buttons);
    adjustSize();
    util::CenterWindow(this);
}

}  // namespace pelio::session
