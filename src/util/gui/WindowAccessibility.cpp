#include "util/gui/WindowAccessibility.h"

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

namespace pelio::util {

namespace {

// The application as screen readers see it: Qt's own, with the children of AccessibleTopLevels.
class ProgramAccessible : public QAccessibleApplication {
  public:
    int childCount() const override { return int(AccessibleTopLevels().size()); }

    QAccessibleInterface* child(int index) const override {
        const QObjectList windows = AccessibleTopLevels();
        return index >= 0 && index < windows.size() ? QAccessible::queryAccessibleInterface(windows.at(index))
                                                    : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        return child ? int(AccessibleTopLevels().indexOf(child->object())) : -1;
    }
};

// A top-level window named by its title also while it is minimized (Qt then reads its icon text, which
// the program's windows leave empty).
class WindowAccessible : public QAccessibleWidget {
  public:
    using QAccessibleWidget::QAccessibleWidget;

    QString text(QAccessible::Text kind) const override {
        QString text = QAccessibleWidget::text(kind);
        if (kind == QAccessible::Name && text.isEmpty()) text = widget()->windowTitle();
        return text;
    }
};

QAccessibleInterface* WindowFactory(const QString& className, QObject* object) {
    if (object == qApp && className == QLatin1String(qApp->metaObject()->className()))
        return new ProgramAccessible;
    // Reached only for windows whose classes up to QWidget have no accessible of their own (dialogs,
    // main windows, message boxes and the like keep theirs).
    if (className != QLatin1String("QWidget")) return nullptr;
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget || !widget->isWindow()) return nullptr;
    switch (widget->windowType()) {
        case Qt::Window:
        case Qt::Tool:  // the on-support indicator: a window of its own on the screen
            return new WindowAccessible(widget, QAccessible::Window);
        case Qt::Dialog:
        case Qt::Sheet:
            return new WindowAccessible(widget, QAccessible::Dialog);
        default:
            return nullptr;  // popups, tool tips, splash screens: as Qt has them
    }
}

}  // namespace

QObjectList AccessibleTopLevels() {
    QObjectList list;
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (window->type() == Qt::Popup || window->type() == Qt::Desktop) continue;
        // A window of no widget without a window on the screen renders for something else (the
        // offscreen window of a browser control, which counts as visible while its control is): it is
        // no window of the program's.
        const bool widgetWindow = window->inherits("QWidgetWindow");
        if (!widgetWindow && !(window->isVisible() && window->handle())) continue;
        QAccessibleInterface* root = window->accessibleRoot();
        if (root && root->object()) list.append(root->object());
    }
    return list;
}

void InstallWindowAccessibility() {
    QAccessible::installFactory(WindowFactory);
}

}  // namespace pelio::util
