#include "FirstWindow.h"

#include "history/HistoryViewer.h"
#include "history/frmPlay.h"
#include "platform/Services.h"
#include "request/frmConfirm.h"
#include "request/frmRServer.h"
#include "session/ProgramSession.h"
#include "transfer/ChatWindowHost.h"
#include "transfer/DownloadWindows.h"
#include "util/gui/WindowRoutines.h"

#include <QCoreApplication>

namespace pelio {

std::unique_ptr<QWidget> CreateFirstWindow(app::AppContext& context, app::FirstWindow kind) {
    if (kind == app::FirstWindow::History) {
        // "review": the history viewer is the only window, and closing it ends the program.
        std::unique_ptr<history::frmPlay> window = history::CreateHistoryViewer(context, *context.Platform);
        QObject::connect(window.get(), &QDialog::finished, qApp, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        return window;
    }

    // The agent list window is the main window: closing it ends the program. It opens the customer
    // entry window when the customer's details are missing.
    request::EntryOpener openEntry = [&context](QWidget* parent) {
        request::frmConfirm entry(context, *context.Platform, parent);
        util::RunModal(entry);
        return request::EntryOutcome{entry.IsChanged, entry.ConnectNow, entry.ServerIP, entry.ServerPort};
    };
    const request::frmRServer::SessionFactory makeSession = [&context](session::SessionView& view) {
        // The download windows belong to the agent list window, which hosts the session.
        QWidget* owner = dynamic_cast<QWidget*>(&view);
        return session::CreateProgramSession(
            context, *context.Platform, view,
            [&context](session::ChatLink& link) {
                return std::make_unique<transfer::ChatWindowHost>(context, *context.Platform, link);
            },
            [&context, owner](session::ChatPeer& chat) {
                return std::make_unique<transfer::DownloadWindows>(
                    context, [owner] { return owner; },
                    [&chat](const QString& html) { chat.AppendLine(html); },
                    [&chat](const QString& text, int colour) { chat.DisplayCommonMsg(text, colour); });
            });
    };
    auto window =
        std::make_unique<request::frmRServer>(context, *context.Platform, makeSession, std::move(openEntry));
    QObject::connect(window.get(), &request::frmRServer::closed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    return window;
}

}  // namespace pelio
