#pragma once

#include <QObjectList>

// How the program's windows appear to screen readers (AT-SPI on Linux).
//
// Qt gives a top-level window built on a plain QWidget the role of a client area, which AT-SPI reads
// as a "filler", and it lists every top-level QWindow of the process beside the program's windows,
// also the hidden ones that only render for another widget (the browser controls' offscreen windows,
// titled "Offscreen"). InstallWindowAccessibility corrects both for the whole program: a top-level
// QWidget window is a frame (a dialog when its window type is Qt::Dialog) named by its title, also
// while minimized, and the program lists only the windows of its widgets and windows that are shown.
namespace pelio::util {

// Call once after the application object exists, before any window is shown.
void InstallWindowAccessibility();

// The top-level objects the program lists to screen readers, in the order of the application's
// top-level windows: each widget window's widget, and each other window that is shown on the screen;
// never a popup.
QObjectList AccessibleTopLevels();

}  // namespace pelio::util
