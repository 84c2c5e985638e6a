#include "support/Wait.h"
#include "util/gui/MessageBoxes.h"
#include "util/gui/WindowLifetime.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

using namespace pelio::util;
using pelio::test::WaitFor;

namespace {

void RunDeferredDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The window's deletion waits for the last loop that runs for it, then happens; its other children
// (a timer here) are left as they were meanwhile.
TEST(WindowLifetime, DeletionWaitsForTheLastLoopOfTheWindow) {
    QPointer<QWidget> window = new QWidget;
    QPointer<QTimer> timer = new QTimer(window);
    timer->setInterval(1234);
    {
        const NestedLoopScope outer(window);
        {
            const NestedLoopScope inner(window);
            window->deleteLater();
            RunDeferredDeletes();
            ASSERT_TRUE(window);
            EXPECT_TRUE(DeletionPending(window));
        }
        RunDeferredDeletes();
        ASSERT_TRUE(window);
        EXPECT_EQ(timer->interval(), 1234);
        EXPECT_FALSE(DeletionPending(timer));
    }
    EXPECT_TRUE(WaitFor([&] { return window.isNull(); }));
}

// A box on screen whose owner is deleted from inside the box's own loop (as a message handled while
// it waits may do) is closed with its default answer; the owner goes once the box has returned.
TEST(WindowLifetime, ABoxWhoseOwnerGoesIsClosedWithItsDefaultAnswer) {
    QPointer<QWidget> owner = new QWidget;
    owner->show();
    QTimer::singleShot(0, owner, [&] { owner->deleteLater(); });
    const MessageBoxRequest question{QStringLiteral("전송 받으시겠습니까?"), kAppTitle, MsgIcon::Question,
                                     MsgButtons::YesNo, owner};
    EXPECT_EQ(MessageBoxes::ShowOnScreen(question), MsgAnswer::No);
    ASSERT_TRUE(owner);  // not under the box's feet
    EXPECT_TRUE(WaitFor([&] { return owner.isNull(); }));
}

// The same notice asked for again while it is on screen is not stacked on top of it.
TEST(WindowLifetime, ANoticeAlreadyOnScreenIsNotShownAgain) {
    QWidget owner;
    owner.show();
    const MessageBoxRequest notice{QStringLiteral("상담원이 파일 전송을 거절하여 취소되었습니다."), kAppTitle,
                                   MsgIcon::Information, MsgButtons::Ok, &owner};
    int inner = 0;
    QTimer::singleShot(0, &owner, [&] {
        for (int i = 0; i < 3; ++i)
            if (MessageBoxes::ShowOnScreen(notice) == MsgAnswer::Ok) ++inner;
        MessageBoxes::CloseBoxesOf(&owner);
    });
    EXPECT_EQ(MessageBoxes::ShowOnScreen(notice), MsgAnswer::Ok);
    EXPECT_EQ(inner, 3);
}

}  // namespace
