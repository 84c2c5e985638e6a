#include "util/core/Paths.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace pelio::util {

namespace {

constexpr qsizetype kMaxNameBytes = 255;

// Replaces the characters that cannot stand in a file name on Windows or Linux.
QString ReplaceUnsafe(const QString& text) {
    QString s;
    s.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        switch (c.unicode()) {
            case u'\\':
            case u'/':
            case u':':
            case u'*':
            case u'?':
            case u'"':
            case u'<':
            case u'>':
            case u'|':
                s += u'_';
                break;
            case u'\t':
                s += u' ';
                break;
            case u'\r':
            case u'\n':
                break;  // line breaks are deleted
            default:
                s += (c.unicode() < 0x20 || c.unicode() == 0x7F) ? QChar(u'_') : c;
        }
    }
    return s;
}

// The longest head of text whose UTF-8 form fits maxBytes, never splitting a surrogate pair.
QString CutToUtf8Bytes(const QString& text, qsizetype maxBytes) {
    qsizetype bytes = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const qsizetype len = pair ? 2 : 1;
        const qsizetype size = text.mid(i, len).toUtf8().size();
        if (bytes + size > maxBytes) break;
        bytes += size;
        i += len;
    }
    return text.left(i);
}

QString DateTimeName() {
    QString s = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    s.remove(u':');
    s.remove(u'/');
    return s;
}

}  // namespace

QString SafeFileName(const QString& text, const QString& extension) {
    const QString ext = ReplaceUnsafe(extension);
    QString stem = text.isEmpty() ? DateTimeName() : ReplaceUnsafe(text);
    if (stem.isEmpty() && ext.isEmpty()) stem = DateTimeName();
    const bool addExt = !ext.isEmpty() && !stem.endsWith(ext, Qt::CaseInsensitive);
    const QString tail = addExt ? ext : QString();
    QString name = stem + tail;
    if (name.toUtf8().size() > kMaxNameBytes) {
        const qsizetype tailBytes = tail.toUtf8().size();
        name = tailBytes >= kMaxNameBytes ? CutToUtf8Bytes(name, kMaxNameBytes)
                                          : CutToUtf8Bytes(stem, kMaxNameBytes - tailBytes) + tail;
    }
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name.fill(u'_', qMax<qsizetype>(name.size(), 1));
    return name;
}

QString HistoryCompanyFolderName(const QString& deptCode, const QString& deptName) {
    QString name = SafeFileName(deptName, QString());
    name.remove(u'.');
    name.remove(u' ');
    return CutToUtf8Bytes(ReplaceUnsafe(deptCode) + u'-' + name, kMaxNameBytes);
}

namespace {

// The company folder's path + "/" + the day: the start of every history file name of that day. Creates
// the history and company folders when missing.
QString HistoryBaseName(const QString& historyFolder, const QString& deptCode, const QString& deptName,
                        const QDate& today) {
    QString root = historyFolder;
    while (root.size() > 1 && root.endsWith(u'/')) root.chop(1);
    QDir().mkpath(root);
    const QString folder = root + u'/' + HistoryCompanyFolderName(deptCode, deptName);
    QDir().mkpath(folder);
    return folder + u'/' + today.toString(QStringLiteral("yyyy-MM-dd"));
}

// The bound only guards against a file system that reports every name as taken.
constexpr int kMaxHistoryNumber = 1000000;

QString Numbered(const QString& base, int n, const QString& ext) {
    return base + QStringLiteral("(%1)").arg(n) + ext;
}

const QString kTranscriptExt = QStringLiteral(".htm");
const QString kRecordingExt = QStringLiteral(".srf");

}  // namespace

QString NewHistoryFilePath(bool isTranscript, const QString& historyFolder, const QString& deptCode,
                           const QString& deptName, const QDate& today) {
    if (historyFolder.isEmpty()) return QString();
    const QString base = HistoryBaseName(historyFolder, deptCode, deptName, today);
    const QString& ext = isTranscript ? kTranscriptExt : kRecordingExt;
    QString candidate;
    for (int n = 0; n < kMaxHistoryNumber; ++n) {
        candidate = Numbered(base, n, ext);
        if (!QFileInfo::exists(candidate)) break;
    }
    return candidate;
}

HistorySessionPaths NewHistorySessionPaths(const QString& historyFolder, const QString& deptCode,
                                           const QString& deptName, const QDate& today) {
    if (historyFolder.isEmpty()) return {};
    const QString base = HistoryBaseName(historyFolder, deptCode, deptName, today);
    HistorySessionPaths paths;
    for (int n = 0; n < kMaxHistoryNumber; ++n) {
        paths = {Numbered(base, n, kTranscriptExt), Numbered(base, n, kRecordingExt)};
        if (!QFileInfo::exists(paths.transcript) && !QFileInfo::exists(paths.recording)) break;
    }
    return paths;
}

QString FolderOfPath(const QString& path) {
    if (path.isEmpty()) return QString();
    if (QFileInfo(path).isDir()) return path.endsWith(u'/') ? path : path + u'/';
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? QString() : path.left(slash + 1);
}

QString ShownFolderPath(const QString& folder) {
    return ShownFolderPath(folder, QDir::homePath());
}

QString ShownFolderPath(const QString& folder, const QString& home) {
    const QString path = QDir::cleanPath(folder);
    const QString base = QDir::cleanPath(home);
    if (base.isEmpty() || base == u'/') return path;
    if (path == base) return QStringLiteral("~");
    if (path.startsWith(base + u'/')) return QStringLiteral("~/") + path.mid(base.size() + 1);
    return path;
}

QString FileNameOfPath(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString FileNameOfUrl(const QString& url) {
    const qsizetype query = url.indexOf(u'?');
    const QString head = query < 0 ? url : url.left(query);
    return head.mid(head.lastIndexOf(u'/') + 1);
}

}  // namespace pelio::util
