#include "util/gui/MessageBoxes.h"

#include <QMessageBox>

#include <utility>

namespace pelio::util {

namespace {

MessageBoxProvider*& Provider() {
    static MessageBoxProvider* provider = nullptr;
    return provider;
}

MsgAnswer ShowReal(const MessageBoxRequest& request) {
    QMessageBox box(request.parent);
    box.setWindowTitle(request.title);
    box.setText(request.text);
    switch (request.icon) {
        case MsgIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MsgIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MsgIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case MsgIcon::Exclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case MsgIcon::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
    }
    switch (request.buttons) {
        case MsgButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            box.setEscapeButton(QMessageBox::Ok);
            break;
        case MsgButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setEscapeButton(QMessageBox::No);
            break;
        case MsgButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.setEscapeButton(QMessageBox::Cancel);
            break;
    }
    box.setWindowFlag(Qt::WindowStaysOnTopHint, request.parent == nullptr);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return MsgAnswer::Yes;
        case QMessageBox::No:
            return MsgAnswer::No;
        case QMessageBox::Cancel:
            return MsgAnswer::Cancel;
        case QMessageBox::Ok:
            return MsgAnswer::Ok;
        default:
            return DefaultAnswer(request);
    }
}

}  // namespace

MsgAnswer DefaultAnswer(const MessageBoxRequest& request) {
    switch (request.buttons) {
        case MsgButtons::YesNo:
            return MsgAnswer::No;
        case MsgButtons::OkCancel:
            return MsgAnswer::Cancel;
        case MsgButtons::Ok:
            break;
    }
    return MsgAnswer::Ok;
}

MsgAnswer MessageBoxes::Show(QWidget* parent, const QString& text, MsgIcon icon, MsgButtons buttons) {
    const MessageBoxRequest request{text, kAppTitle, icon, buttons, parent};
    if (MessageBoxProvider* provider = Provider()) return provider->ShowMessage(request);
    return ShowReal(request);
}

MessageBoxProvider* MessageBoxes::SetProvider(MessageBoxProvider* provider) {
    return std::exchange(Provider(), provider);
}

}  // namespace pelio::util
