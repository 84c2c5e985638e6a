#include "util/core/KoreanTranslations.h"

#include "util/core/Diagnostics.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace pelio::util {

namespace {

// Qt 6 names the file types of its file dialog ("Folder", "Drive", "File") under the context
// QAbstractFileIconProvider, while the Korean translations still keep them under QFileDialog, where
// Qt 5 asked for them: this translator answers the new context from the old one.
class FileTypeTranslator : public QTranslator {
  public:
    FileTypeTranslator(const QTranslator& qtTexts, QObject* parent)
        : QTranslator(parent), m_qtTexts(qtTexts) {}

    bool isEmpty() const override { return false; }

    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0) return QString();
        return m_qtTexts.translate("QFileDialog", sourceText, disambiguation, n);
    }

  private:
    const QTranslator& m_qtTexts;
};

}  // namespace

bool InstallKoreanTranslations(QCoreApplication& application) {
    // Dates, numbers and the names of file types (the desktop's MIME comments) in Korean too.
    QLocale::setDefault(QLocale(QLocale::Korean, QLocale::SouthKorea));
    auto* translator = new QTranslator(&application);
    if (!translator->load(QStringLiteral("qtbase_ko"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        qCWarning(lcUtil) << "Qt's Korean translations were not found";
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(new FileTypeTranslator(*translator, &application));
    return QCoreApplication::installTranslator(translator);
}

}  // namespace pelio::util
