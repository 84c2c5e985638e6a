#include "FirstWindow.h"
#include "app/ProgramOptions.h"
#include "app/Startup.h"
#include "app/UserSettings.h"
#include "platform/Services.h"
#include "util/core/Diagnostics.h"
#include "util/core/KoreanTranslations.h"
#include "util/gui/BrowserEngine.h"
#include "util/gui/Dialogs.h"
#include "util/gui/MessageBoxes.h"
#include "util/gui/WindowAccessibility.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QScreen>
#include <QStandardPaths>
#include <QStringList>

#include <cstdio>

namespace {

// With PELIO_MESSAGE_LOG set (unattended runs: demos, end-to-end tests), message boxes are not shown:
// each is appended to that file as one line "icon<TAB>title<TAB>text" and answered with its default.
// PELIO_MESSAGE_ANSWERS ("yes,no,...") answers the questions in turn instead, until the list runs out.
// With PELIO_MESSAGE_SHOW=1 each box is logged and then shown as usual, for whoever is at the screen
// (a person, or a test driving the display) to answer.
class MessageLog : public pelio::util::MessageBoxProvider {
  public:
    MessageLog(QString path, QStringList answers, bool show)
        : m_path(std::move(path)), m_answers(std::move(answers)), m_show(show) {}
    pelio::util::MsgAnswer ShowMessage(const pelio::util::MessageBoxRequest& box) override {
        {
            QFile log(m_path);
            if (log.open(QIODevice::Append)) {
                QString text = box.text;
                text.replace(u'\n', QStringLiteral("\\n"));
                log.write(QStringLiteral("%1\t%2\t%3\n")
                              .arg(static_cast<int>(box.icon))
                              .arg(box.title, text)
                              .toUtf8());
            }
        }  // on disk before the box waits
        if (m_show) return pelio::util::MessageBoxes::ShowOnScreen(box);
        if (box.buttons == pelio::util::MsgButtons::YesNo && !m_answers.isEmpty())
            return m_answers.takeFirst().trimmed().compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0
                       ? pelio::util::MsgAnswer::Yes
                       : pelio::util::MsgAnswer::No;
        return pelio::util::DefaultAnswer(box);
    }

  private:
    QString m_path;
    QStringList m_answers;
    bool m_show = false;
};

void UseMessageLogIfAsked() {
    const QString path = qEnvironmentVariable("PELIO_MESSAGE_LOG");
    if (path.isEmpty()) return;
    static MessageLog log(path, qEnvironmentVariable("PELIO_MESSAGE_ANSWERS").split(u',', Qt::SkipEmptyParts),
                          qEnvironmentVariableIntValue("PELIO_MESSAGE_SHOW") == 1);
    pelio::util::MessageBoxes::SetProvider(&log);
}

// Handles --help, --version and unknown options; returns the exit status, or -1 to start normally.
int HandleProgramOption(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    const pelio::app::OptionChoice choice = pelio::app::FindProgramOption(args);
    const QString program = QFileInfo(QString::fromLocal8Bit(argv[0])).fileName();
    switch (choice.option) {
        case pelio::app::ProgramOption::None:
            return -1;
        case pelio::app::ProgramOption::Help:
            std::fputs(pelio::app::UsageText(program).toUtf8().constData(), stdout);
            return 0;
        case pelio::app::ProgramOption::Version:
            std::printf("%s %s\n", "pelio", PELIO_VERSION);
            return 0;
        case pelio::app::ProgramOption::Unknown:
            std::fprintf(stderr, "%s: 알 수 없는 옵션 %s\n%s", program.toUtf8().constData(),
                         choice.argument.toUtf8().constData(),
                         pelio::app::UsageText(program).toUtf8().constData());
            return 2;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    pelio::util::KeepConsoleQuiet();
    if (const int status = HandleProgramOption(argc, argv); status >= 0) return status;

    pelio::util::PrepareBrowserEngine();
    // The browser controls share OpenGL contexts with the windows; this must be set before the
    // application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    pelio::util::ChooseDesktopFileChooser();
    QApplication application(argc, argv);  // takes Qt's own options out of argv
    pelio::util::ForgetChosenTheme();
    pelio::util::InstallWindowAccessibility();
    pelio::util::InstallKoreanTranslations(application);
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
