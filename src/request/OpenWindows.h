#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QWidget;

namespace pelio::request {

// The program's windows in the order they were first shown, so that they can be closed from the last
// to the first. Watches every window (and dialog) the application shows from its construction on;
// windows shown before are not known. The object must live on the user-interface thread.
class OpenWindows : public QObject {
  public:
    explicit OpenWindows(QObject* parent = nullptr);
    ~OpenWindows() override;

    // Closes each known window that still exists and is not named like keep (its objectName), from
    // the last shown to the first. A window may refuse to close; the others are closed all the same.
    void CloseAllBut(const QWidget* keep);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QList<QPointer<QWidget>> m_windows;
};

}  // namespace pelio::request
