#include "FirstWindow.h"

#include <QLabel>
#include <QVBoxLayout>

namespace pelio {

// Until the agent list window and the history viewer exist, both first windows are plain windows that
// bear the real windows' titles, so that start-up, the single-instance test and the demo can run.
std::unique_ptr<QWidget> CreateFirstWindow(app::AppContext& context, app::FirstWindow kind) {
    auto window = std::make_unique<QWidget>();
    const bool review = kind == app::FirstWindow::History;
    window->setObjectName(review ? QStringLiteral("frmPlay") : QStringLiteral("frmRServer"));
    window->setWindowTitle(review ? app::kReviewWindowTitle : app::ProgramWindowTitle);
    auto* layout = new QVBoxLayout(window.get());
    QString text = review ? app::kReviewWindowTitle
                          : QStringLiteral("%1\n%2 %3\n%4 %5")
                                .arg(app::ProgramWindowTitle, context.DeptCode, context.DeptName,
                                     context.CustomerName, context.CustomerPhone);
    auto* label = new QLabel(text, window.get());
    label->setObjectName(QStringLiteral("lblInfo"));
    layout->addWidget(label);
    window->resize(480, 320);
    return window;
}

}  // namespace pelio
