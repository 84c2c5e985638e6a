#include "request/OpenWindows.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace pelio::request {

OpenWindows::OpenWindows(QObject* parent) : QObject(parent) {
    qApp->installEventFilter(this);
}

OpenWindows::~OpenWindows() {
    if (qApp) qApp->removeEventFilter(this);
}

bool OpenWindows::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        const Qt::WindowType type = widget->windowType();
        if (widget->isWindow() && (type == Qt::Window || type == Qt::Dialog)) {
            m_windows.removeAll(nullptr);
            if (!m_windows.contains(widget)) m_windows.append(widget);
        }
    }
    return QObject::eventFilter(watched, event);
}

void OpenWindows::CloseAllBut(const QWidget* keep) {
    const QString name = keep ? keep->objectName() : QString();
    // Closing a window may show or close others: walk a copy.
    const QList<QPointer<QWidget>> windows = m_windows;
    for (auto it = windows.crbegin(); it != windows.crend(); ++it) {
        QWidget* window = it->data();
        if (!window || window == keep || (!name.isEmpty() && window->objectName() == name)) continue;
        window->close();
    }
}

}  // namespace pelio::request
