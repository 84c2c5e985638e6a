#include "util/gui/MessageBoxes.h"

#include <QMessageBox>

namespace pelio::util {

namespace {

MessageBoxResponder& Responder() {
    static MessageBoxResponder responder;
    return responder;
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
            return request.buttons == MsgButtons::YesNo      ? MsgAnswer::No
                   : request.buttons == MsgButtons::OkCancel ? MsgAnswer::Cancel
                                                             : MsgAnswer::Ok;
    }
}

}  // namespace

MsgAnswer MessageBoxes::Show(QWidget* parent, const QString& text, MsgIcon icon, MsgButtons buttons) {
    MessageBoxRequest request{text, kAppTitle, icon, buttons, parent};
    if (Responder()) return Responder()(request);
    return ShowReal(request);
}

MessageBoxResponder MessageBoxes::SetResponder(MessageBoxResponder responder) {
    MessageBoxResponder old = std::move(Responder());
    Responder() = std::move(responder);
    return old;
}

}  // namespace pelio::util
