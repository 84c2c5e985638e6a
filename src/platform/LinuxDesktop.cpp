#include "platform/LinuxDesktop.h"

#include "platform/LinuxDesktopX11.h"
#include "platform/PlatformLog.h"

#include <QAudioDevice>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMediaDevices>
#include <QProcess>
#include <QSoundEffect>
#include <QUrl>
#include <QWindow>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>

namespace pelio::platform {

namespace {

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

// A startup id of the startup-notification convention: unique, and ending in "_TIME" and the X
// server's time of the request, which window managers compare with the user's last input.
QString StartupId(unsigned long serverTime) {
    static std::atomic<int> counter{0};
    return QStringLiteral("pelio-%1-%2_TIME%3").arg(getpid()).arg(++counter).arg(serverTime);
}

}  // namespace

LinuxDesktop::LinuxDesktop() : m_context(std::make_unique<QObject>()) {
    if (QGuiApplication::platformName() == QStringLiteral("xcb")) m_x = DesktopX11::Open(QString());
}

LinuxDesktop::LinuxDesktop(const QString& displayName)
    : m_x(DesktopX11::Open(displayName)), m_context(std::make_unique<QObject>()) {}

LinuxDesktop::~LinuxDesktop() = default;

std::optional<QStringList> LinuxDesktop::SplitCommandLine(const QString& commandLine) {
    QStringList words;
    QString word;
    bool inWord = false;  // a word has begun, even an empty one ("")
    enum { Plain, Single, Double } quote = Plain;
    for (qsizetype i = 0; i < commandLine.size(); ++i) {
        const QChar c = commandLine[i];
        if (quote == Single) {
            if (c == u'\'')
                quote = Plain;
            else
                word += c;
        } else if (quote == Double) {
            if (c == u'"') {
                quote = Plain;
            } else if (c == u'\\' && i + 1 < commandLine.size() &&
                       QStringView(u"\"\\$`\n").contains(commandLine[i + 1])) {
                if (commandLine[++i] != u'\n') word += commandLine[i];
            } else {
                word += c;
            }
        } else if (IsBlank(c)) {
            if (inWord) words << word;
            word.clear();
            inWord = false;
        } else if (c == u'\\') {
            if (++i == commandLine.size()) return std::nullopt;
            if (commandLine[i] != u'\n') {
                word += commandLine[i];
                inWord = true;
            }
        } else {
            inWord = true;
            if (c == u'\'')
                quote = Single;
            else if (c == u'"')
                quote = Double;
            else
                word += c;
        }
    }
    if (quote != Plain) return std::nullopt;
    if (inWord) words << word;
    return words;
}

bool LinuxDesktop::RunCommandLine(const QString& commandLine) {
    const std::optional<QStringList> words = SplitCommandLine(commandLine);
    if (!words || words->isEmpty() || words->front().isEmpty()) {
        qCDebug(lcPlatform) << "no program in the command line" << commandLine;
        return false;
    }
    QProcess process;
    process.setProgram(words->front());
    process.setArguments(words->mid(1));
    process.setWorkingDirectory(QDir::homePath());
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DESKTOP_STARTUP_ID"));  // never one handed to this program
    if (m_x) {
        env.insert(QStringLiteral("DISPLAY"), m_x->Name());
        env.insert(QStringLiteral("DESKTOP_STARTUP_ID"), StartupId(m_x->ServerTime()));
    }
    process.setProcessEnvironment(env);
    if (!process.startDetached()) {
        qCDebug(lcPlatform) << "could not start" << words->front() << process.errorString();
        return false;
    }
    return true;
}

bool LinuxDesktop::ToggleShowDesktop() {
    return m_x && m_x->ToggleShowingDesktop();
}

bool LinuxDesktop::PressHangulKey() {
    return m_x && m_x->PressHangulKey();
}

void LinuxDesktop::PlaySound(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).isFile()) return;
    if (QMediaDevices::audioOutputs().isEmpty()) return;
    m_sound.reset();  // stops what is playing
    m_sound = std::make_unique<QSoundEffect>();
    m_sound->setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    m_sound->play();  // starts once the file is loaded; a file it cannot decode stays silent
}

void LinuxDesktop::FlashWindow(QWindow* window) {
    if (!window) return;
    while (window->parent()) window = window->parent();
    if (!window->handle()) return;  // never shown: nothing to flash, and no window to create
    if (!m_x || QGuiApplication::platformName() != QStringLiteral("xcb")) {
        window->alert(0);
        return;
    }
    const auto id = static_cast<unsigned long>(window->winId());
    m_x->DemandAttention(id);
    m_x->SetUrgency(id, true);
    // The window manager ends the attention state when the window becomes active; the urgency hint is
    // ours to end. One connection per window, however often it flashes.
    std::erase_if(m_flashing, [](const QPointer<QWindow>& w) { return w.isNull(); });
    if (std::find(m_flashing.begin(), m_flashing.end(), window) != m_flashing.end()) return;
    m_flashing.emplace_back(window);
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection =
        QObject::connect(window, &QWindow::activeChanged, m_context.get(), [this, window, connection] {
            if (!window->isActive()) return;
            QObject::disconnect(*connection);
            std::erase(m_flashing, window);
            m_x->SetUrgency(static_cast<unsigned long>(window->winId()), false);
        });
}

}  // namespace pelio::platform
