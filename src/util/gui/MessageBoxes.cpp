#include "util/gui/MessageBoxes.h"

#include "util/gui/WindowLifetime.h"

#include <QMessageBox>
#include <QPointer>

#include <utility>
#include <vector>

namespace pelio::util {

namespace {

const char* const kClosedByOwner = "pelioClosedByOwner";

MessageBoxProvider*& Provider() {
    static MessageBoxProvider* provider = nullptr;
    return provider;
}

// The boxes on screen, oldest first.
std::vector<QPointer<QMessageBox>>& OpenBoxes() {
    static std::vector<QPointer<QMessageBox>> boxes;
    return boxes;
}

// An information box with the same text and owner that is still open.
bool SameBoxOpen(const MessageBoxRequest& request) {
    if (request.buttons != MsgButtons::Ok) return false;
    for (const QPointer<QMessageBox>& box : OpenBoxes())
        if (box && box->isVisible() && box->parentWidget() == request.parent && box->text() == request.text)
            return true;
    return false;
}

MsgAnswer ShowReal(const MessageBoxRequest& request) {
    // A notice that is already on screen is not stacked again: a peer that repeats what causes it
    // would otherwise nest one box (and one event loop) inside the other without end.
    if (SameBoxOpen(request)) return MsgAnswer::Ok;
    // On the heap: the owner may be deleted while the box waits (its children go with it), and exec()
    // returns when its box is gone.
    QPointer<QMessageBox> box = new QMessageBox(request.parent);
    box->setWindowTitle(request.title);
    box->setText(request.text);
    switch (request.icon) {
        case MsgIcon::None:
            box->setIcon(QMessageBox::NoIcon);
            break;
        case MsgIcon::Information:
            box->setIcon(QMessageBox::Information);
            break;
        case MsgIcon::Question:
            box->setIcon(QMessageBox::Question);
            break;
        case MsgIcon::Exclamation:
            box->setIcon(QMessageBox::Warning);
            break;
        case MsgIcon::Critical:
            box->setIcon(QMessageBox::Critical);
            break;
    }
    switch (request.buttons) {
        case MsgButtons::Ok:
            box->setStandardButtons(QMessageBox::Ok);
            box->setEscapeButton(QMessageBox::Ok);
            break;
        case MsgButtons::YesNo:
            box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box->setEscapeButton(QMessageBox::No);
            break;
        case MsgButtons::OkCancel:
            box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box->setEscapeButton(QMessageBox::Cancel);
            break;
    }
    box->setWindowFlag(Qt::WindowStaysOnTopHint, request.parent == nullptr);
    OpenBoxes().push_back(box);
    int result = QMessageBox::NoButton;
    {
        // The owner's deletion waits for this box (see WindowLifetime.h).
        const NestedLoopScope scope(request.parent ? request.parent->window() : nullptr);
        result = box->exec();
    }
    const bool closedByOwner = !box || box->property(kClosedByOwner).toBool();
    delete box.data();
    std::erase_if(OpenBoxes(), [](const QPointer<QMessageBox>& open) { return open.isNull(); });
    if (closedByOwner) return DefaultAnswer(request);
    switch (result) {
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

MsgAnswer MessageBoxes::ShowOnScreen(const MessageBoxRequest& request) {
    return ShowReal(request);
}

void MessageBoxes::CloseBoxesOf(QObject* owner) {
    if (!owner) return;
    // Copied: closing a box may run code that opens or ends others.
    const std::vector<QPointer<QMessageBox>> boxes = OpenBoxes();
    for (const QPointer<QMessageBox>& box : boxes) {
        if (!box || !box->isVisible()) continue;
        bool owned = false;
        for (QObject* up = box->parent(); up && !owned; up = up->parent()) owned = up == owner;
        if (!owned) continue;
        box->setProperty(kClosedByOwner, true);
        box->done(QMessageBox::NoButton);
    }
}

MessageBoxProvider* MessageBoxes::SetProvider(MessageBoxProvider* provider) {
    return std::exchange(Provider(), provider);
}

}  // namespace pelio::util
