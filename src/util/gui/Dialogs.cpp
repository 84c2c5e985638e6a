#include "util/gui/Dialogs.h"

#include "util/gui/WindowLifetime.h"

#include <QColorDialog>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontDialog>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLibraryInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QScreen>
#include <QSplitter>
#include <QStandardPaths>
#include <QTreeView>
#include <QUrl>

namespace pelio::util {

namespace {

DialogProvider*& Provider() {
    static DialogProvider* provider = nullptr;
    return provider;
}

QWidget* OwnerWindow(QWidget* parent) {
    return parent ? parent->window() : nullptr;
}

constexpr char kThemeVariable[] = "QT_QPA_PLATFORMTHEME";
constexpr char kPortalTheme[] = "xdgdesktopportal";

// The platform theme that Qt loaded, as far as it decides about file dialogs.
enum class ThemeChoice {
    Own,     // none with a file chooser of its own: Qt's dialog
    Portal,  // the desktop portal's file chooser, while the portal answers
    Other,   // a theme the user chose (gtk3, kde, ...): its own dialogs
};

struct ThemeState {
    ThemeChoice choice = ThemeChoice::Own;
    bool setHere = false;  // the variable was set by ChooseDesktopFileChooser
};

ThemeState& Theme() {
    static ThemeState state;
    return state;
}

bool SessionBusReachable() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

// Whether the session bus answers for the portal's file chooser. Asked once, at the first dialog; the
// bus may start the portal then, hence the generous limit.
bool PortalFileChooserAnswers() {
    static const bool answers = [] {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return false;
        QDBusMessage get = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
                                                          QStringLiteral("/org/freedesktop/portal/desktop"),
                                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Get"));
        get << QStringLiteral("org.freedesktop.portal.FileChooser") << QStringLiteral("version");
        return bus.call(get, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
    }();
    return answers;
}

bool UseDesktopFileChooser() {
    switch (Theme().choice) {
        case ThemeChoice::Own:
            return false;
        case ThemeChoice::Portal:
            return PortalFileChooserAnswers();
        case ThemeChoice::Other:
            return true;
    }
    return false;
}

// The file list of Qt's own dialog with dates and sizes as a Korean system writes them: the list
// formats both with the system's locale, which follows the environment, not the program's language.
class KoreanFileList : public QIdentityProxyModel {
  public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role != Qt::DisplayRole || !files || !index.isValid())
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        if (index.column() == kSizeColumn && !files->isDir(source))
            return m_korean.formattedDataSize(files->size(source), 1, QLocale::DataSizeTraditionalFormat);
        if (index.column() == kDateColumn) {
            const QDateTime when = files->lastModified(source);
            return when.isValid() ? m_korean.toString(when, QStringLiteral("yyyy-MM-dd AP h:mm")) : QString();
        }
        return QIdentityProxyModel::data(index, role);
    }

  private:
    static constexpr int kSizeColumn = 1;
    static constexpr int kDateColumn = 3;
    const QLocale m_korean{QLocale::Korean, QLocale::SouthKorea};
};

// Qt's own dialog in Korean and wide enough for its name, size, type and date columns.
void PrepareOwnDialog(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setProxyModel(new KoreanFileList(&dialog));
    dialog.setViewMode(QFileDialog::Detail);
    QSize size(900, 560);
    const QScreen* screen = dialog.parentWidget() ? dialog.parentWidget()->screen() : dialog.screen();
    if (screen) size = size.boundedTo(screen->availableSize());
    dialog.resize(size);
    // The places beside the list: the computer, the home and documents folders, wide enough for their
    // names.
    QList<QUrl> places{QUrl(QStringLiteral("file:")), QUrl::fromLocalFile(QDir::homePath())};
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (QFileInfo(documents).isDir()) places << QUrl::fromLocalFile(documents);
    dialog.setSidebarUrls(places);
    if (auto* splitter = dialog.findChild<QSplitter*>(QStringLiteral("splitter")))
        splitter->setSizes({160, size.width() - 160});
    if (auto* list = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = list->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
}

class QtDialogs : public DialogProvider {
  public:
    // Each dialog waits with its owner's deletion held back (see WindowLifetime.h); an owner that goes
    // meanwhile closes it as cancelled.
    OpenFilesAnswer OpenFiles(const OpenFilesRequest& request) override {
        const NestedLoopScope scope(OwnerWindow(request.parent));
        const QString start = DialogStartFolder(
            request.initialFolder, QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
            QDir::homePath());
        QFileDialog dialog(request.parent, request.title, start, ToQtFileFilter(request.filter));
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(request.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
        if (!UseDesktopFileChooser()) PrepareOwnDialog(dialog);
        OpenFilesAnswer answer;
        if (dialog.exec() == QDialog::Accepted) answer.files = dialog.selectedFiles();
        if (answer.files.isEmpty()) answer.error = kDialogCancelled;
        return answer;
    }

    SaveFileAnswer SaveFile(const SaveFileRequest& request) override {
        const NestedLoopScope scope(OwnerWindow(request.parent));
        QFileDialog dialog(request.parent, request.title, request.suggested,
                           request.filters.join(QStringLiteral(";;")));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        if (!request.chosenFilter.isEmpty()) dialog.selectNameFilter(request.chosenFilter);
        if (!UseDesktopFileChooser()) PrepareOwnDialog(dialog);
        SaveFileAnswer answer;
        // The dialog asks before it replaces an existing file.
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            answer.file = dialog.selectedFiles().first();
        answer.chosenFilter = dialog.selectedNameFilter();
        return answer;
    }

    std::optional<OleColor> PickColor(const ColorRequest& request) override {
        const NestedLoopScope scope(OwnerWindow(request.parent));
        const ColorParts p = ColorChannels(request.initial);
        const QColor color = QColorDialog::getColor(QColor(p.red, p.green, p.blue), request.parent);
        if (!color.isValid()) return std::nullopt;
        return ColorFromChannels(color.red(), color.green(), color.blue());
    }

    std::optional<QFont> PickFont(const FontRequest& request) override {
        const NestedLoopScope scope(OwnerWindow(request.parent));
        bool ok = false;
        const QFont font = QFontDialog::getFont(&ok, request.initial, request.parent);
        if (!ok) return std::nullopt;
        return font;
    }
};

DialogProvider& Current() {
    static QtDialogs real;
    return Provider() ? *Provider() : real;
}

}  // namespace

OpenFilesAnswer Dialogs::OpenFiles(const OpenFilesRequest& request) {
    return Current().OpenFiles(request);
}

SaveFileAnswer Dialogs::SaveFile(const SaveFileRequest& request) {
    return Current().SaveFile(request);
}

std::optional<OleColor> Dialogs::PickColor(const ColorRequest& request) {
    return Current().PickColor(request);
}

std::optional<QFont> Dialogs::PickFont(const FontRequest& request) {
    return Current().PickFont(request);
}

DialogProvider* Dialogs::SetProvider(DialogProvider* provider) {
    DialogProvider* old = Provider();
    Provider() = provider;
    return old;
}

QString DialogStartFolder(const QString& requested, const QString& documents, const QString& home) {
    if (!requested.isEmpty() && QFileInfo(requested).isDir()) return requested;
    if (!documents.isEmpty() && QFileInfo(documents).isDir()) return documents;
    return home;
}

void ChooseDesktopFileChooser() {
    ThemeState& theme = Theme();
    const QByteArray chosen = qgetenv(kThemeVariable);
    if (!chosen.isEmpty()) {
        theme.choice = chosen.split(':').contains(kPortalTheme) ? ThemeChoice::Portal : ThemeChoice::Other;
        return;
    }
    const QString plugin = QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                           QStringLiteral("/platformthemes/libqxdgdesktopportal.so");
    if (!SessionBusReachable() || !QFileInfo::exists(plugin)) return;
    qputenv(kThemeVariable, kPortalTheme);
    theme.choice = ThemeChoice::Portal;
    theme.setHere = true;
}

void ForgetChosenTheme() {
    if (Theme().setHere) qunsetenv(kThemeVariable);
    Theme().setHere = false;
}

QString ToQtFileFilter(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        // Qt reads the patterns from a trailing "(...)": put ours there instead of the original's.
        description.remove(QRegularExpression(QStringLiteral("\\s*\\([^()]*\\)$")));
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(u';', Qt::SkipEmptyParts)) {
            const QString pattern = p.trimmed();
            if (!pattern.isEmpty())
                patterns << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
        }
        if (patterns.isEmpty()) patterns << QStringLiteral("*");
        filters << description + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return filters.join(QStringLiteral(";;"));
}

}  // namespace pelio::util
