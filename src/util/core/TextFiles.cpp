#include "util/core/TextFiles.h"

#include "util/core/Ansi.h"

#include <QFile>
#include <QSaveFile>

namespace pelio::util {

namespace {

bool WriteWhole(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace

QString LoadTextFile(const QString& path) {
    if (path.isEmpty()) return QString();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    return DecodeLocalText(file.readAll());
}

bool WriteTextFile(const QString& path, const QString& text, bool append) {
    if (path.isEmpty()) return false;
    if (!append) return WriteWhole(path, text.toUtf8());

    const QByteArray addition = QByteArrayLiteral("\r\n") + text.toUtf8();
    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) return false;
        const QByteArray old = file.readAll();
        file.close();
        if (!IsValidUtf8(old) && !old.startsWith("\xEF\xBB\xBF"))
            return WriteWhole(path, FromAnsi(old).toUtf8() + addition);
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return false;
    const bool ok = file.write(addition) == addition.size();
    file.close();
    return ok && file.error() == QFileDevice::NoError;
}

}  // namespace pelio::util
