#include "support/ScriptedMessageBoxes.h"
#include "util/gui/MessageBoxes.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QRegularExpression>

using namespace pelio::util;
using pelio::test::ScriptedMessageBoxes;

TEST(MessageBoxes, ScriptedResponderRecordsAndAnswersInOrder) {
    ScriptedMessageBoxes boxes;
    boxes.Answer(MsgAnswer::Yes).Answer(MsgAnswer::No);
    EXPECT_TRUE(MessageBoxes::AskYesNo(nullptr, QStringLiteral("첫 질문")));
    EXPECT_FALSE(MessageBoxes::AskYesNo(nullptr, QStringLiteral("둘째 질문")));
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].text, QStringLiteral("첫 질문"));
    EXPECT_EQ(boxes.boxes()[0].title, QStringLiteral("Pelio원격"));
    EXPECT_EQ(boxes.boxes()[0].icon, MsgIcon::Question);
    EXPECT_EQ(boxes.boxes()[1].buttons, MsgButtons::YesNo);
    EXPECT_EQ(boxes.unansweredScript(), 0u);
}

TEST(MessageBoxes, RestoresThePreviousProvider) {
    ScriptedMessageBoxes outer;
    outer.Answer(MsgAnswer::Ok);
    {
        ScriptedMessageBoxes inner;
        inner.Answer(MsgAnswer::Ok);
        MessageBoxes::Inform(nullptr, QStringLiteral("inner"));
        EXPECT_EQ(inner.boxes().size(), 1u);
    }
    MessageBoxes::Inform(nullptr, QStringLiteral("outer"));
    ASSERT_EQ(outer.boxes().size(), 1u);
    EXPECT_EQ(outer.boxes()[0].text, QStringLiteral("outer"));
}

TEST(MessageBoxes, QtButtonsReadKorean) {
    // Qt's translations are installed at start-up (the test main does the same as the program).
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    // The caption as shown: a keyboard mnemonic such as "(&N)" reads as an underlined letter.
    const auto shown = [&](QMessageBox::StandardButton b) {
        return box.button(b)->text().remove(QRegularExpression(QStringLiteral(R"(\(&\w\)$)")));
    };
    EXPECT_EQ(shown(QMessageBox::Ok), QStringLiteral("확인"));
    EXPECT_EQ(shown(QMessageBox::Yes), QStringLiteral("예"));
    EXPECT_EQ(shown(QMessageBox::No), QStringLiteral("아니요"));
    EXPECT_EQ(shown(QMessageBox::Cancel), QStringLiteral("취소"));
}
