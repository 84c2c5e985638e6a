// Window lifetime across nested loops.
//
// The program waits by running events (message boxes, modal windows, pumping waits), so a window's
// handler may still be on the stack, inside such a loop, when the window is closed by something that
// ran in that loop. Deleting the window then would let the loop return into freed memory. The rule:
//   - a window is never deleted while a nested loop that runs on its behalf may still return into it;
//     its deferred deletion (WA_DeleteOnClose, deleteLater) waits until the last such loop has ended;
//   - a message box whose owner is going away is closed first, with its default answer;
//   - code that resumes after a nested loop checks that its owner still lives before touching it.
// NestedLoopScope marks such a loop; MessageBoxes and RunModal hold one for their owner themselves.
//
// Handlers of activation and focus events never run a nested loop (Qt still holds raw pointers to the
// windows involved until the event is delivered): they post their work with PostToLoop instead.
#pragma once

#include <QPointer>

#include <functional>

class QObject;

namespace pelio::util {

class NestedLoopScope {
  public:
    // owner may be null (then the scope guards nothing).
    explicit NestedLoopScope(QObject* owner);
    ~NestedLoopScope();
    NestedLoopScope(const NestedLoopScope&) = delete;
    NestedLoopScope& operator=(const NestedLoopScope&) = delete;

    // The owner has not been deleted (it may be closing: its deletion waits for this scope).
    bool OwnerAlive() const { return !m_owner.isNull(); }

  private:
    QPointer<QObject> m_owner;
};

// The object's deletion was asked for and waits for a nested loop of its own to end: it must not be
// shown or used again as a live window.
bool DeletionPending(const QObject* object);

// Runs `work` from the event loop once the current event has been delivered, unless `context` is gone
// by then.
void PostToLoop(QObject* context, std::function<void()> work);

}  // namespace pelio::util
