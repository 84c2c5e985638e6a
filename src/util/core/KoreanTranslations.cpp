#include "util/core/KoreanTranslations.h"

#include "util/core/Diagnostics.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace pelio::util {

bool InstallKoreanTranslations(QCoreApplication& application) {
    auto* translator = new QTranslator(&application);
    if (!translator->load(QStringLiteral("qtbase_ko"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        qCWarning(lcUtil) << "Qt's Korean translations were not found";
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace pelio::util
