#pragma once

#include <QStringList>

class QWidget;

namespace pelio::test {

// Every interactive control under window (buttons, check boxes, line edits, combo boxes, sliders, spin
// boxes, tree, list and table views, tab bars, text edits, browser views), shown or hidden, whose
// accessibleName() is empty, as "ClassName objectName". The parts a control is built of (a spin box's
// line edit, a tab bar's scroll buttons, a view's header) are left out: the control's name covers them.
QStringList ControlsWithoutAccessibleName(QWidget* window);

}  // namespace pelio::test
