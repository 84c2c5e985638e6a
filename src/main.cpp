#include "FirstWindow.h"
#include "app/Startup.h"
#include "app/UserSettings.h"
#include "platform/Services.h"
#include "util/gui/MessageBoxes.h"

#include <QApplication>
#include <QFile>
#include <QScreen>
#include <QStandardPaths>
#include <QStringList>

namespace {

// With PELIO_MESSAGE_LOG set (unattended runs: demos, end-to-end tests), message boxes are not shown:
// each is appended to that file as one line "icon<TAB>title<TAB>text" and answered with its default.
class MessageLog : public pelio::util::MessageBoxProvider {
  public:
    explicit MessageLog(QString path) : m_path(std::move(path)) {}
    pelio::util::MsgAnswer ShowMessage(const pelio::util::MessageBoxRequest& box) override {
        QFile log(m_path);
        if (log.open(QIODevice::Append)) {
            QString text = box.text;
            text.replace(u'\n', QStringLiteral("\\n"));
            log.write(
                QStringLiteral("%1\t%2\t%3\n").arg(static_cast<int>(box.icon)).arg(box.title, text).toUtf8());
        }
        return pelio::util::DefaultAnswer(box);
    }

  private:
    QString m_path;
};

void UseMessageLogIfAsked() {
    const QString path = qEnvironmentVariable("PELIO_MESSAGE_LOG");
    if (path.isEmpty()) return;
    static MessageLog log(path);
    pelio::util::MessageBoxes::SetProvider(&log);
}

}  // namespace

int main(int argc, char** argv) {
    // The browser controls share OpenGL contexts with the windows; this must be set before the
    // application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);  // takes Qt's own options out of argv
    UseMessageLogIfAsked();

    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);

    pelio::app::StartupInput input;
    input.rawCommandLine = args.join(u' ');
    input.executableFolder = QCoreApplication::applicationDirPath();
    input.userDataFolder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/PelioRS");
    input.userConfigFolder = pelio::app::UserSettings::DefaultBaseFolder();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        input.logicalDpiX = screen->logicalDotsPerInchX();
        input.logicalDpiY = screen->logicalDotsPerInchY();
    }

    auto services = pelio::platform::CreateLinuxServices();
    pelio::app::AppContext context;
    context.Platform = services.get();

    const pelio::app::FirstWindow first = pelio::app::RunStartup(input, *services, context);
    if (first == pelio::app::FirstWindow::None) {
        pelio::util::MessageBoxes::Inform(nullptr, pelio::app::kAlreadyRunningText);
        return 0;
    }

    std::unique_ptr<QWidget> window = pelio::CreateFirstWindow(context, first);
    window->show();
    return application.exec();
}
