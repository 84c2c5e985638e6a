// The customer's side of the session soak: answering boxes early, late or never, asking for support
// again after a session, closing windows, typing and clicking in the chat, and bringing the windows
// back after the agent showed the desktop.
#include "ScreenPixels.h"
#include "SessionSoak.h"

#include <set>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace pelio::test {

void SessionSoak::TendBoxes() {
    std::set<unsigned long> shown;
    for (const TitledWindow& window : TitledWindows()) {
        if (window.title != kBoxTitle || !window.managed) continue;
        shown.insert(window.id);
        if (boxes.count(window.id)) continue;
        ++boxesSeen;
        BoxPlan plan;
        if (connectAsked && Messages().trimmed().endsWith(kConnectQuestion)) {
            connectAsked = false;
            plan = {Now() + 300, QStringLiteral("y")};
        } else {
            const int when = Between(0, 99);
            plan.answerAt = when < 62   ? Now() + Between(200, 3000)
                            : when < 87 ? Now() + Between(5000, 25000)
                                        : -1;
            plan.key = BoxKey();
        }
        boxes[window.id] = plan;
    }
    std::erase_if(boxes, [&](const auto& box) { return !shown.count(box.first); });
    // One box a turn; one that is still there afterwards is tried again a little later.
    for (auto& [window, plan] : boxes) {
        if (plan.answerAt < 0 || Now() < plan.answerAt) continue;
        if (plan.key == u"close") {
            AskWindowToClose(window);
            ++boxesAnswered;
            Note(QStringLiteral("customer: closes a box"));
        } else if (KeysInActiveWindow(window, {plan.key}, 1500)) {
            ++boxesAnswered;
            Note(QStringLiteral("customer: %1 in a box").arg(plan.key));
        }
        plan = {Now() + Between(1000, 4000), BoxKey()};
        break;
    }
}

QString SessionSoak::BoxKey() {
    const int key = Between(0, 99);
    return key < 35   ? QStringLiteral("Return")
           : key < 60 ? QStringLiteral("Escape")
           : key < 75 ? QStringLiteral("y")
           : key < 90 ? QStringLiteral("n")
                      : QStringLiteral("close");
}

void SessionSoak::Reconnect() {
    if (current || Now() < nextRequestAt) return;
    if (!boxes.empty()) {
        // The main window waits behind the boxes: the customer answers even those left open.
        if (Now() - downSince > 20000)
            for (auto& [window, plan] : boxes)
                if (plan.answerAt < 0) plan.answerAt = Now();
        return;
    }
    for (const auto& a : agents)
        if (a->Connected() && !a->Gone()) return;  // a link is being made
    const QString messages = Messages();
    const qsizetype asked = messages.count(kConnectQuestion) + messages.count(kChooseAgentNotice);
    if (askedAtPress >= 0 && asked == askedAtPress) {
        // The button was enabled, yet the last press asked nothing: the customer cannot get support
        // any more. The program is started again, so that the run goes on.
        Report(QStringLiteral("지원요청 was enabled and pressed, yet the program asked nothing within 15 s"),
               "standard error:\n" + log.right(3000));
        ++stuck;
        program->kill();
        program->waitForFinished(5000);
        log += program->readAllStandardError();
        Launch();
        return;
    }
    ++requests;
    connectAsked = RequestFirstAgent();
    askedAtPress = connectAsked ? asked : -1;
    Note(connectAsked ? QStringLiteral("customer: 지원요청")
                      : QStringLiteral("customer: 지원요청 is not there to press"));
    nextRequestAt = Now() + 15000;
}

void SessionSoak::CustomerStep() {
    std::vector<TitledWindow> others;  // every window of the program but the main one
    std::optional<TitledWindow> chat;
    for (const TitledWindow& window : TitledWindows()) {
        if (!window.managed || window.title.startsWith(kMainTitle)) continue;
        others.push_back(window);
        if (window.title == kChatTitle) chat = window;
    }
    const int what = Between(0, 9);
    if (what < 3 && !others.empty()) {
        const TitledWindow& window = OneOf(others);
        Note(QStringLiteral("customer: closes \"%1\"").arg(window.title));
        AskWindowToClose(window.id);
        ++windowsClosed;
    } else if (what < 6 && chat) {
        const QString text =
            OneOf(std::vector<QString>{QStringLiteral("네 알겠습니다"), QStringLiteral("printer?"),
                                       QStringLiteral("화면이안보여요"), QStringLiteral("ok")});
        if (KeysInActiveWindow(chat->id, {}, 1500)) {
            Note(QStringLiteral("customer: types \"%1\" in the chat").arg(text));
            Xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), text});
            Xdo({QStringLiteral("key"), QStringLiteral("Return")});
            ++chatsTyped;
        }
    } else if (what < 9 && chat) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(static_cast<Display*>(display.display()), chat->id, &attributes) &&
            attributes.width > 10 && attributes.height > 10) {
            const int x = Between(5, attributes.width - 5), y = Between(5, attributes.height - 5);
            const QString button = Chance(80) ? QStringLiteral("1") : QStringLiteral("3");
            Note(QStringLiteral("customer: clicks %1 at %2,%3 in the chat").arg(button).arg(x).arg(y));
            Xdo({QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(chat->id),
                 QString::number(x), QString::number(y), QStringLiteral("click"), button});
            ++clicks;
        }
    }
}

void SessionSoak::TendDesktop() {
    // The agent's screen changes now and then, so that a live view has something to show.
    if (Now() >= nextPaintAt) {
        FillScreen(agentScreen, random() & 0xffffff);
        nextPaintAt = Now() + Between(1000, 6000);
    }
    // "desktop" hides every window; after a while the customer brings them back.
    auto* d = static_cast<Display*>(display.display());
    const Atom showing = XInternAtom(d, "_NET_SHOWING_DESKTOP", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool shown = false;
    if (XGetWindowProperty(d, DefaultRootWindow(d), showing, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                           &after, &data) == Success &&
        data && count > 0)
        shown = *reinterpret_cast<long*>(data) != 0;
    if (data) XFree(data);
    if (!shown) {
        desktopShownAt = -1;
    } else if (desktopShownAt < 0) {
        desktopShownAt = Now() + Between(2000, 15000);
    } else if (Now() >= desktopShownAt) {
        Note(QStringLiteral("customer: brings the windows back"));
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = DefaultRootWindow(d);
        event.xclient.message_type = showing;
        event.xclient.format = 32;
        XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
        XFlush(d);
        desktopShownAt = -1;
    }
}

}  // namespace pelio::test
