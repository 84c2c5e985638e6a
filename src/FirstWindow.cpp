#include "FirstWindow.h"

#include "history/frmPlay.h"
#include "platform/Services.h"
#include "playback/SrfPlaybackWidget.h"

#include <QCoreApplication>
#include <QLabel>
#include <QVBoxLayout>

namespace pelio {

std::unique_ptr<QWidget> CreateFirstWindow(app::AppContext& context, app::FirstWindow kind) {
    if (kind == app::FirstWindow::History) {
        // "review": the history viewer is the only window, and closing it ends the program.
        // Playback positions run on the program's clock.
        auto playback = std::make_unique<components::SrfPlaybackWidget>();
        playback->SetTimeSource([clock = context.Platform->clock.get()] { return clock->NowMs(); });
        auto window =
            std::make_unique<history::frmPlay>(context, *context.Platform->files, std::move(playback));
        QObject::connect(window.get(), &QDialog::finished, qApp, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        return window;
    }

    // Until the agent list window exists, the main window is a plain window that bears its title, so
    // that start-up, the single-instance test and the demo can run.
    auto window = std::make_unique<QWidget>();
    window->setObjectName(QStringLiteral("frmRServer"));
    window->setWindowTitle(app::ProgramWindowTitle);
    auto* layout = new QVBoxLayout(window.get());
    auto* label = new QLabel(QStringLiteral("%1\n%2 %3\n%4 %5")
                                 .arg(app::ProgramWindowTitle, context.DeptCode, context.DeptName,
                                      context.CustomerName, context.CustomerPhone),
                             window.get());
    label->setObjectName(QStringLiteral("lblInfo"));
    layout->addWidget(label);
    window->resize(480, 320);
    return window;
}

}  // namespace pelio
