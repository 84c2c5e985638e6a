// The program's windows as a screen reader finds them over the accessibility bus during a session.
#include "SessionOnDesktop.h"

#include <gtest/gtest.h>

using namespace pelio::test;

namespace {

using ScreenReader = SessionOnDesktop;

// Each top-level window is a frame or a dialog named by its title; nothing unnamed or anonymous (a
// "filler", a browser control's offscreen window) is listed beside them.
TEST_F(ScreenReader, FindsEveryWindowAsANamedFrameOrDialog) {
    QProcess& program = StartAndConnectOnDesktop();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData() << Messages().toStdString();
    agent->Send(QStringLiteral("\\chat 안녕하세요"));  // the chat window with its browser control
    ASSERT_TRUE(WaitLog(program, "agent chat 안녕하세요\n")) << log.constData();

    QStringList topLevels;
    ASSERT_TRUE(WaitFor(
        [&] {
            topLevels = AccessibleTopLevels(QStringLiteral("pelio"));
            return !topLevels.filter(QStringLiteral(" 상담원과 대화하기")).isEmpty();
        },
        kWindowWaitMs))
        << topLevels.join(u'\n').toStdString();
    SCOPED_TRACE(topLevels.join(u'\n').toStdString());
    for (const QString& window : topLevels) {
        const QString role = window.section(u' ', 0, 0);
        if (role.isEmpty()) continue;  // closed while it was asked about (the connected notice)
        EXPECT_TRUE(role == QLatin1String("frame") || role == QLatin1String("dialog"))
            << window.toStdString();
        EXPECT_FALSE(window.section(u' ', 1).trimmed().isEmpty()) << "unnamed: " << window.toStdString();
        EXPECT_FALSE(window.contains(QLatin1String("Offscreen"))) << window.toStdString();
    }
}

}  // namespace
