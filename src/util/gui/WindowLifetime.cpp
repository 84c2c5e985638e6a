#include "util/gui/WindowLifetime.h"

#include "util/gui/MessageBoxes.h"

#include <QDialog>
#include <QEvent>
#include <QObject>
#include <QTimer>

namespace pelio::util {

namespace {

// Watches one owner: counts the nested loops that run on its behalf and holds its deferred deletion
// back while any runs. A child of the owner, so that it goes with it.
class LoopGuard : public QObject {
  public:
    explicit LoopGuard(QObject* owner) : QObject(owner) { owner->installEventFilter(this); }

    static LoopGuard* Of(const QObject* owner) {
        if (!owner) return nullptr;
        // Not findChild: without a meta-object of its own it would take any child for a guard.
        for (QObject* child : owner->children())
            if (auto* guard = dynamic_cast<LoopGuard*>(child)) return guard;
        return nullptr;
    }

    int depth = 0;
    bool deletionPending = false;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::DeferredDelete || watched != parent() || depth == 0)
            return QObject::eventFilter(watched, event);
        // The owner goes away once its loops have returned; a box it still shows is answered now so
        // that they can.
        deletionPending = true;
        MessageBoxes::CloseBoxesOf(watched);
        // Other dialogs it shows (files, colours, fonts) are cancelled.
        for (QDialog* dialog : watched->findChildren<QDialog*>())
            if (dialog->isVisible()) dialog->reject();
        return true;
    }
};

}  // namespace

NestedLoopScope::NestedLoopScope(QObject* owner) : m_owner(owner) {
    if (!owner) return;
    LoopGuard* guard = LoopGuard::Of(owner);
    if (!guard) guard = new LoopGuard(owner);
    ++guard->depth;
}

NestedLoopScope::~NestedLoopScope() {
    LoopGuard* guard = LoopGuard::Of(m_owner.data());
    if (!guard) return;
    if (--guard->depth > 0 || !guard->deletionPending) return;
    guard->deletionPending = false;
    // Not m_owner->deleteLater(): Qt drops a second deferred deletion of an object whose first one was
    // held back while other events wait for it. A stand-in is deleted later instead, with the same
    // rules of when, and takes the owner with it.
    auto* standIn = new QObject;
    QObject::connect(standIn, &QObject::destroyed, [owner = m_owner] { delete owner.data(); });
    standIn->deleteLater();
}

bool DeletionPending(const QObject* object) {
    const LoopGuard* guard = LoopGuard::Of(object);
    return guard && guard->deletionPending;
}

void PostToLoop(QObject* context, std::function<void()> work) {
    QTimer::singleShot(0, context, std::move(work));
}

}  // namespace pelio::util
