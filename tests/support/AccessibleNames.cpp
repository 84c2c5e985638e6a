#include "AccessibleNames.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTabBar>
#include <QTextEdit>
#include <QWidget>

namespace pelio::test {

namespace {

bool IsBrowserView(const QWidget* widget) {
    return widget->inherits("QWebEngineView");
}

bool IsControl(const QWidget* widget) {
    if (qobject_cast<const QHeaderView*>(widget)) return false;
    return qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QLineEdit*>(widget) ||
           qobject_cast<const QComboBox*>(widget) || qobject_cast<const QSlider*>(widget) ||
           qobject_cast<const QAbstractSpinBox*>(widget) || qobject_cast<const QAbstractItemView*>(widget) ||
           qobject_cast<const QTabBar*>(widget) || qobject_cast<const QTextEdit*>(widget) ||
           qobject_cast<const QPlainTextEdit*>(widget) || IsBrowserView(widget);
}

// True for a widget inside another control, such as the line edit of a spin box or combo box, the
// scroll buttons of a tab bar, the editor a view opens on an item, or the pieces of a browser view.
bool IsPartOfControl(const QWidget* widget, const QWidget* window) {
    for (const QWidget* up = widget->parentWidget(); up && up != window; up = up->parentWidget())
        if (IsControl(up)) return true;
    return false;
}

}  // namespace

QStringList ControlsWithoutAccessibleName(QWidget* window) {
    QStringList missing;
    if (!window) return missing;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!IsControl(widget) || IsPartOfControl(widget, window)) continue;
        if (widget->accessibleName().trimmed().isEmpty())
            missing << QStringLiteral("%1 %2").arg(QString::fromLatin1(widget->metaObject()->className()),
                                                   widget->objectName());
    }
    return missing;
}

}  // namespace pelio::test
