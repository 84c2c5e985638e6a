#include "util/gui/WindowRoutines.h"

#include "util/gui/WindowLifetime.h"

#include "util/core/IniFile.h"
#include "util/core/SettingsKeys.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
#include <QWidget>
#include <QWindow>

#include <array>

namespace pelio::util {

namespace {

using settings::kFormSection;
using settings::kIsMaxSuffix;
const char* const kSortOrderProperty = "pelioSortOrder";
constexpr int kEdgeMarginTwips = 1000;

QRect ScreenRect(const QWidget* window) {
    QScreen* screen = window->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect(0, 0, 1024, 768);
}

int Twips(int pixels, int perPixel) {
    return pixels * qMax(perPixel, 1);
}
int Pixels(long long twips, int perPixel) {
    return static_cast<int>(twips / qMax(perPixel, 1));
}

// Parses "left;top;width;height" in twips: the first two numbers are enough when only the position
// is wanted. Nothing when a needed number is missing or not an integer.
std::optional<std::array<long long, 4>> ParsePlacement(const QString& value, bool positionOnly) {
    const QStringList parts = value.split(u';');
    const int needed = positionOnly ? 2 : 4;
    if (parts.size() < needed || (!positionOnly && parts.size() != 4)) return std::nullopt;
    std::array<long long, 4> numbers{};
    for (int i = 0; i < needed; ++i) {
        bool ok = false;
        numbers[static_cast<size_t>(i)] = parts[i].trimmed().toLongLong(&ok);
        if (!ok || numbers[static_cast<size_t>(i)] < -(1LL << 40) ||
            numbers[static_cast<size_t>(i)] > (1LL << 40))
            return std::nullopt;
    }
    return numbers;
}

}  // namespace

void SaveWindowPlacement(const QWidget* window, const QString& name, const PlacementStore& store) {
    if (!window || name.isEmpty()) return;
    const Qt::WindowStates state = window->windowState();
    if (state & Qt::WindowMinimized) return;
    if (state & Qt::WindowMaximized) {
        IniWrite(store.iniFile, kFormSection, name + kIsMaxSuffix, QStringLiteral("1"));
        return;
    }
    IniWrite(store.iniFile, kFormSection, name + kIsMaxSuffix, QStringLiteral("0"));
    const QPoint pos = window->pos();
    const QSize size = window->size();
    IniWrite(store.iniFile, kFormSection, name,
             QStringLiteral("%1;%2;%3;%4")
                 .arg(Twips(pos.x(), store.twipsX))
                 .arg(Twips(pos.y(), store.twipsY))
                 .arg(Twips(size.width(), store.twipsX))
                 .arg(Twips(size.height(), store.twipsY)));
}

void RestoreWindowPlacement(QWidget* window, const QString& name, bool positionOnly, int percent,
                            const PlacementStore& store) {
    if (!window) return;
    bool failed = false;
    const bool maximised =
        IniRead(store.iniFile, kFormSection, name + kIsMaxSuffix).trimmed() == QLatin1String("1");

    const QString stored = IniRead(store.iniFile, kFormSection, name);
    const QRect screen = ScreenRect(window);
    const int perX = qMax(store.twipsX, 1), perY = qMax(store.twipsY, 1);
    // The window's position in twips, as the edge test below measures it.
    long long leftTwips = 0, topTwips = 0;
    bool placed = false;
    if (!stored.isEmpty()) {
        const auto numbers = ParsePlacement(stored, positionOnly);
        if (!numbers || (!positionOnly && ((*numbers)[2] <= 0 || (*numbers)[3] <= 0))) {
            failed = true;
        } else {
            const auto& n = *numbers;
            window->move(Pixels(n[0], perX), Pixels(n[1], perY));
            if (!positionOnly) window->resize(Pixels(n[2], perX), Pixels(n[3], perY));
            leftTwips = n[0];
            topTwips = n[1];
            placed = true;
        }
    } else {
        if (percent != 0) {
            const int p = qBound(1, percent, 100);
            window->resize(screen.width() * p / 100, screen.height() * p / 100);
        }
        CenterWindow(window);
    }
    if (!placed) {
        const QPoint pos = window->pos();
        leftTwips = static_cast<long long>(pos.x()) * perX;
        topTwips = static_cast<long long>(pos.y()) * perY;
    }

    // A window whose corner lies off the screen, or so near its far edges that the customer could not
    // reach it, is brought back to the middle.
    const long long screenWidthTwips = static_cast<long long>(screen.width()) * perX;
    const long long screenHeightTwips = static_cast<long long>(screen.height()) * perY;
    if (failed || leftTwips < 0 || leftTwips > screenWidthTwips - kEdgeMarginTwips || topTwips < 0 ||
        topTwips > screenHeightTwips - kEdgeMarginTwips)
        CenterWindow(window);
    // Maximised last: moving or sizing a maximised window would end the maximised state, and the
    // placement above stays as the window's normal placement.
    if (maximised) window->setWindowState(window->windowState() | Qt::WindowMaximized);
}

void CenterWindow(QWidget* window) {
    if (!window) return;
    const QRect screen = ScreenRect(window);
    const QSize size = window->frameGeometry().size();
    window->move(screen.left() + (screen.width() - size.width()) / 2,
                 screen.top() + (screen.height() - size.height()) / 3);
}

void DragWindow(QWidget* window) {
    if (!window) return;
    if (window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) return;
    if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
    if (QWindow* handle = window->window()->windowHandle()) handle->startSystemMove();
}

void SelectAllText(QLineEdit* box) {
    if (!box) return;
    // After the click that gave the box the focus has placed the cursor, so that it does not undo the
    // selection. Posted, not pumped: the focus may come with the window's activation, which must be
    // delivered before window events run again.
    PostToLoop(box, [box] { box->setSelection(0, static_cast<int>(box->text().size())); });
}

bool PushHistoryItem(QComboBox* list, const std::optional<QString>& text) {
    if (!list) return false;
    const QString item = text ? *text : list->currentText();
    if (item.isEmpty()) return false;
    bool removed = false;
    for (int i = 0; i < list->count(); ++i) {
        if (list->itemText(i).compare(item, Qt::CaseInsensitive) == 0) {
            list->removeItem(i);
            removed = true;
            break;
        }
    }
    list->insertItem(0, item);
    if (removed) list->setCurrentIndex(0);
    return true;
}

void ToggleListSort(QTreeView* list, int column) {
    if (!list || column < 0) return;
    const QVariant last = list->property(kSortOrderProperty);
    const auto previous = last.isValid() ? static_cast<Qt::SortOrder>(last.toInt()) : Qt::AscendingOrder;
    const Qt::SortOrder order = previous == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    list->setProperty(kSortOrderProperty, static_cast<int>(order));
    list->header()->setSortIndicator(column, order);
    list->setSortingEnabled(true);
    list->sortByColumn(column, order);
}

void ListLoad(const QString& file, const QString& key, QComboBox* list, const QString& separator) {
    if (!list || key.trimmed().isEmpty()) return;
    const QStringList items = SplitListValue(IniRead(file, QStringLiteral("ListBox"), key), separator);
    list->clear();
    for (const QString& item : items) list->addItem(item);
}

void ListSave(const QString& file, const QString& key, const QComboBox* list, const QString& separator,
              int maximum) {
    if (!list || key.trimmed().isEmpty()) return;
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    IniWrite(file, QStringLiteral("ListBox"), key, JoinListValue(items, separator, maximum));
}

int RunModal(QDialog& dialog) {
    // The dialog's owner is not deleted while the dialog waits (see WindowLifetime.h).
    const NestedLoopScope ownerScope(dialog.parentWidget() ? dialog.parentWidget()->window() : nullptr);
    QEventLoop loop;
    bool finished = false;
    int result = QDialog::Rejected;
    const QMetaObject::Connection ended = QObject::connect(&dialog, &QDialog::finished, &loop, [&](int r) {
        finished = true;
        result = r;
        loop.quit();
    });
    dialog.setModal(true);
    dialog.show();
    if (!finished) loop.exec(QEventLoop::DialogExec);
    QObject::disconnect(ended);
    return result;
}

}  // namespace pelio::util
