#include "support/ScriptedMessageBoxes.h"
#include "support/Wait.h"
#include "util/core/IniFile.h"
#include "util/gui/WindowRoutines.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

using namespace pelio::util;
using pelio::test::TempFolder;
using pelio::test::WaitFor;

namespace {

const QString kForm = QStringLiteral("Form");

class Placement : public ::testing::Test {
  protected:
    TempFolder tmp;
    PlacementStore store{tmp.file(QStringLiteral("PelioRS.ini")), 15, 15};
    QRect screen = QGuiApplication::primaryScreen()->geometry();

    QPoint Centred(const QSize& size) const {
        return {screen.left() + (screen.width() - size.width()) / 2,
                screen.top() + (screen.height() - size.height()) / 3};
    }
};

}  // namespace

TEST_F(Placement, SaveAndRestoreRoundTripInTwips) {
    QWidget a;
    a.move(100, 50);
    a.resize(300, 200);
    SaveWindowPlacement(&a, QStringLiteral("frmPlay"), store);
    EXPECT_EQ(IniRead(store.iniFile, kForm, QStringLiteral("frmPlay")), QStringLiteral("1500;750;4500;3000"));
    EXPECT_EQ(IniRead(store.iniFile, kForm, QStringLiteral("frmPlay-IsMax")), QStringLiteral("0"));

    QWidget b;
    RestoreWindowPlacement(&b, QStringLiteral("frmPlay"), false, 0, store);
    EXPECT_EQ(b.pos(), QPoint(100, 50));
    EXPECT_EQ(b.size(), QSize(300, 200));

    QWidget c;
    c.resize(120, 80);
    RestoreWindowPlacement(&c, QStringLiteral("frmPlay"), true, 0, store);
    EXPECT_EQ(c.pos(), QPoint(100, 50));
    EXPECT_EQ(c.size(), QSize(120, 80));
}

TEST_F(Placement, MaximisedKeepsThePositionAndMinimisedStoresNothing) {
    IniWrite(store.iniFile, kForm, QStringLiteral("frmPlay"), QStringLiteral("1500;750;4500;3000"));
    QWidget w;
    w.setWindowState(Qt::WindowMinimized);
    SaveWindowPlacement(&w, QStringLiteral("frmPlay"), store);
    EXPECT_EQ(IniRead(store.iniFile, kForm, QStringLiteral("frmPlay-IsMax")), QString());
    w.setWindowState(Qt::WindowMaximized);
    SaveWindowPlacement(&w, QStringLiteral("frmPlay"), store);
    EXPECT_EQ(IniRead(store.iniFile, kForm, QStringLiteral("frmPlay-IsMax")), QStringLiteral("1"));
    EXPECT_EQ(IniRead(store.iniFile, kForm, QStringLiteral("frmPlay")), QStringLiteral("1500;750;4500;3000"));

    QWidget r;
    RestoreWindowPlacement(&r, QStringLiteral("frmPlay"), false, 0, store);
    EXPECT_TRUE(r.windowState() & Qt::WindowMaximized);
}

TEST_F(Placement, OffScreenOrBrokenPlacementsAreCentred) {
    const QString off = QStringLiteral("%1;0;3000;1500").arg(screen.width() * 15 + 1000);
    const QString cases[] = {off,
                             QStringLiteral("-1500;0;3000;1500"),
                             QStringLiteral("0;%1;3000;1500").arg(screen.height() * 15 - 500),
                             QStringLiteral("1500;750;abc;1500"),
                             QStringLiteral("1500;750;3000"),
                             QStringLiteral("1500;750;0;-5"),
                             QStringLiteral("99999999999999999999;0;3000;1500")};
    for (const QString& stored : cases) {
        IniWrite(store.iniFile, kForm, QStringLiteral("frmX"), stored);
        QWidget w;
        w.resize(200, 100);
        w.move(7, 7);
        RestoreWindowPlacement(&w, QStringLiteral("frmX"), false, 0, store);
        EXPECT_EQ(w.pos(), Centred(w.size())) << stored.toStdString();
        EXPECT_GT(w.width(), 0) << stored.toStdString();
    }
}

TEST_F(Placement, EdgeTestIsInTwipsAndPositionOnlyNeedsTwoNumbers) {
    const int limitX = screen.width() * 15 - 1000;  // the last left edge that stays
    struct Case {
        QString stored;
        bool centred;
    };
    const Case cases[] = {{QStringLiteral("%1;0;3000;1500").arg(limitX), false},
                          {QStringLiteral("%1;0;3000;1500").arg(limitX + 5), true},  // less than a pixel past
                          {QStringLiteral("-10;0;3000;1500"), true},  // less than a pixel left of 0
                          {QStringLiteral("0;-14;3000;1500"), true}};
    for (const Case& c : cases) {
        IniWrite(store.iniFile, kForm, QStringLiteral("frmX"), c.stored);
        QWidget w;
        w.resize(200, 100);
        RestoreWindowPlacement(&w, QStringLiteral("frmX"), false, 0, store);
        EXPECT_EQ(w.pos() == Centred(w.size()), c.centred) << c.stored.toStdString();
    }
    IniWrite(store.iniFile, kForm, QStringLiteral("frmX"), QStringLiteral("150;300"));
    QWidget p;
    p.resize(200, 100);
    RestoreWindowPlacement(&p, QStringLiteral("frmX"), true, 0, store);
    EXPECT_EQ(p.pos(), QPoint(10, 20));
    EXPECT_EQ(p.size(), QSize(200, 100));
}

TEST_F(Placement, WithoutAStoredPlacementTakesPercentOfTheScreenCentred) {
    QWidget w;
    RestoreWindowPlacement(&w, QStringLiteral("frmRemote"), false, 90, store);
    EXPECT_EQ(w.size(), QSize(screen.width() * 90 / 100, screen.height() * 90 / 100));
    EXPECT_EQ(w.pos(), Centred(w.size()));

    QWidget keep;
    keep.resize(210, 90);
    RestoreWindowPlacement(&keep, QStringLiteral("frmPlay"), false, 0, store);
    EXPECT_EQ(keep.size(), QSize(210, 90));
    EXPECT_EQ(keep.pos(), Centred(keep.size()));
}

TEST(PushHistoryItem, MovesTheTextToTheTopWithoutRepeats) {
    QComboBox list;
    list.addItems({QStringLiteral("X"), QStringLiteral("ABC"), QStringLiteral("Y")});
    list.setCurrentIndex(2);
    EXPECT_TRUE(PushHistoryItem(&list, QStringLiteral("abc")));
    QStringList items;
    for (int i = 0; i < list.count(); ++i) items << list.itemText(i);
    EXPECT_EQ(items, (QStringList{QStringLiteral("abc"), QStringLiteral("X"), QStringLiteral("Y")}));
    EXPECT_EQ(list.currentIndex(), 0);

    // The list's own text, new to the list: inserted without changing the selection.
    list.setEditable(true);
    list.setCurrentIndex(2);
    list.setEditText(QStringLiteral("new"));
    EXPECT_TRUE(PushHistoryItem(&list));
    EXPECT_EQ(list.itemText(0), QStringLiteral("new"));
    EXPECT_EQ(list.count(), 4);
    EXPECT_FALSE(PushHistoryItem(&list, QString()));
    EXPECT_EQ(list.count(), 4);
}

TEST(ToggleListSort, FlipsTheOrderOnEveryClick) {
    QTreeWidget list;
    list.setColumnCount(2);
    for (const char* row : {"b|2", "a|3", "c|1"}) {
        const QStringList cells = QString::fromLatin1(row).split(u'|');
        list.addTopLevelItem(new QTreeWidgetItem(cells));
    }
    auto column = [&list](int c) {
        QString s;
        for (int i = 0; i < list.topLevelItemCount(); ++i) s += list.topLevelItem(i)->text(c);
        return s;
    };
    ToggleListSort(&list, 0);
    EXPECT_EQ(column(0), QStringLiteral("cba"));
    ToggleListSort(&list, 1);
    EXPECT_EQ(column(1), QStringLiteral("123"));
    ToggleListSort(&list, 1);
    EXPECT_EQ(column(1), QStringLiteral("321"));
    EXPECT_TRUE(list.isSortingEnabled());
}

TEST(SelectAllText, SelectsAfterThePendingEventsWithoutRunningThemItself) {
    QLineEdit box(QStringLiteral("010-1234-5678"));
    box.setCursorPosition(3);
    // A pending event that places the cursor (as the click that gave the focus) runs first, from the
    // event loop: the call itself runs no events (it is called from focus handlers).
    bool ran = false;
    QTimer::singleShot(0, &box, [&] {
        ran = true;
        box.setCursorPosition(5);
    });
    SelectAllText(&box);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(WaitFor([&] { return box.selectedText() == box.text(); }));
}

// A dialog finished while it is being shown (typed-ahead keys handled during show) still ends the
// wait; QDialog::exec would wait for ever on a loop that the early finish never reached.
TEST(WindowRoutines, RunModalReturnsForADialogFinishedWhileShown) {
    class FinishesOnShow : public QDialog {
      protected:
        void showEvent(QShowEvent* event) override {
            QDialog::showEvent(event);
            done(QDialog::Accepted);
        }
    };
    FinishesOnShow early;
    EXPECT_EQ(RunModal(early), int(QDialog::Accepted));
    QDialog later;
    QTimer::singleShot(0, &later, [&later] { later.done(7); });
    EXPECT_EQ(RunModal(later), 7);
}
