#include "util/gui/Dialogs.h"

#include "util/gui/WindowLifetime.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QRegularExpression>

namespace pelio::util {

namespace {

DialogProvider*& Provider() {
    static DialogProvider* provider = nullptr;
    return provider;
}

QWidget* OwnerWindow(QWidget* parent) {
    return parent ? parent->window() : nullptr;
}

class QtDialogs : public DialogProvider {
  public:
    // Each dialog waits with its owner's deletion held back (see WindowLifetime.h); an owner that goes
    // meanwhile closes it as cancelled.
    OpenFilesAnswer OpenFiles(const OpenFilesRequest& request) override {
        const NestedLoopScope scope(OwnerWindow(request.parent));
        OpenFilesAnswer answer;
        const QString filter = ToQtFileFilter(request.filter);
        if (request.multiple) {
            answer.files =
                QFileDialog::getOpenFileNames(request.parent, request.title, request.initialFolder, filter);
        } else {
            const QString file =
                QFileDialog::getOpenFileName(request.parent, request.title, request.initialFolder, filter);
            if (!file.isEmpty()) answer.files << file;
        }
        if (answer.files.isEmpty()) answer.error = kDialogCancelled;
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
