#pragma once

#include <QString>

#include <optional>

class QComboBox;
class QDialog;
class QLineEdit;
class QTreeView;
class QWidget;

// Window placement kept in the settings file, centring and dragging caption-less windows, and small
// conveniences for text boxes, drop-down lists and list views.
namespace pelio::util {

// Where placements are stored and how pixels convert to the twips they are stored in.
struct PlacementStore {
    QString iniFile;
    int twipsX = 15;  // twips per pixel, horizontally
    int twipsY = 15;
};

// Stores the window's placement in section "Form": name + "-IsMax" is "1" when maximised (the stored
// position stays as it was) and "0" otherwise, when name also gets "left;top;width;height" in twips.
// A minimised window stores nothing.
void SaveWindowPlacement(const QWidget* window, const QString& name, const PlacementStore& store);

// Restores a placement stored by SaveWindowPlacement: moved (positionOnly) or moved and sized to the
// stored numbers, then maximised when so stored (the numbers become its normal placement). Without a stored
// placement the window gets percent/100 of the screen's width and height when percent is not 0, and is
// centred. A placement that does not parse, has no positive size, or leaves the window's top-left corner off
// the screen (or within 1000 twips of its right or bottom edge) leaves the window centred.
void RestoreWindowPlacement(QWidget* window, const QString& name, bool positionOnly, int percent,
                            const PlacementStore& store);

// Centres the window horizontally and puts it at one third of the free height, on its screen.
void CenterWindow(QWidget* window);

// Shows the dialog application-modal and waits until it is finished; returns its result. Unlike
// QDialog::exec, a dialog that is finished while it is being shown (keys typed ahead and handled while
// the browser engine sets itself up inside show) does not leave the caller waiting for ever.
int RunModal(QDialog& dialog);

// Lets the window manager move the window with the mouse until the button is released; only for a
// window that is neither minimised nor maximised. For a mouse-press handler of a caption-less window.
void DragWindow(QWidget* window);

// Lets the pending window events run once (the click that gave the focus), then selects the box's
// whole text.
void SelectAllText(QLineEdit* box);

// Moves text (the list's current text when not given) to the top of the list, removing the first
// item equal to it without regard to case, and selects the top item when one was removed. Empty text
// does nothing and returns false.
bool PushHistoryItem(QComboBox* list, const std::optional<QString>& text = std::nullopt);

// Drop-down lists kept in section "ListBox" of the settings file, each item followed by the separator.
// ListLoad replaces the list's items with the non-empty pieces of the stored value; ListSave stores at
// most `maximum` items (all when maximum <= 0). A key that is blank does nothing.
void ListLoad(const QString& file, const QString& key, QComboBox* list, const QString& separator);
void ListSave(const QString& file, const QString& key, const QComboBox* list, const QString& separator,
              int maximum);

// Sorts the list by the column clicked, flipping between ascending and descending on every click
// (the first click sorts descending), and keeps sorting on.
void ToggleListSort(QTreeView* list, int column);

}  // namespace pelio::util
