#include "history/HistoryTree.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

#include <cmath>

namespace pelio::history {

namespace {

bool EndsWithLower(const QString& name, QLatin1String suffix) {
    return name.right(4).toLower() == suffix;
}

// More entries than any history holds: links that fan out (folders linked to each other many times
// over) stop here instead of filling memory.
constexpr size_t kMaxNodes = 100000;

// `entered` holds the folders being scanned above this one: a link back to one of them is listed but
// not entered again, which ends loops; a folder reached twice by other ways is scanned each time.
void ScanFolder(const QString& folder, const QString& parentKey, QSet<QString>& entered,
                std::vector<HistoryNode>& nodes) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || entered.contains(canonical)) return;
    entered.insert(canonical);

    // Name order: Linux file systems list entries in no useful order.
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);

    const QString base = folder.endsWith(u'/') ? folder : folder + u'/';
    for (const QFileInfo& entry : entries) {
        if (nodes.size() >= kMaxNodes) break;
        const QString name = entry.fileName();
        const QString path = base + name;
        if (entry.isDir()) {
            HistoryNode node{HistoryNode::Kind::Folder, path + u'/', name, parentKey};
            nodes.push_back(node);
            ScanFolder(path, node.key, entered, nodes);
        } else if (!parentKey.isEmpty()) {
            if (IsTranscriptName(name))
                nodes.push_back({HistoryNode::Kind::Transcript, path, name, parentKey});
            else if (IsRecordingName(name))
                nodes.push_back({HistoryNode::Kind::Recording, path, name, parentKey});
        }
    }
    entered.remove(canonical);
}

}  // namespace

bool IsTranscriptName(const QString& fileName) {
    return EndsWithLower(fileName, QLatin1String(".htm"));
}

bool IsRecordingName(const QString& fileName) {
    return EndsWithLower(fileName, QLatin1String(".srf"));
}

std::vector<HistoryNode> ScanHistory(const QString& historyFolder) {
    std::vector<HistoryNode> nodes;
    if (historyFolder.isEmpty()) return nodes;
    QSet<QString> entered;
    ScanFolder(historyFolder, QString(), entered, nodes);
    return nodes;
}

std::optional<QString> ExplorerLinkPath(const QString& address) {
    const qsizetype split = address.indexOf(QLatin1String("::"));
    if (split < 0) return std::nullopt;
    if (address.left(split).compare(QLatin1String("explorer"), Qt::CaseInsensitive) != 0) return std::nullopt;
    QString rest = address.mid(split + 2);
    // A second "::" ends the path, as splitting the whole address at "::" would.
    const qsizetype end = rest.indexOf(QLatin1String("::"));
    if (end >= 0) rest.truncate(end);
    return QUrl::fromPercentEncoding(rest.toUtf8());
}

int SliderLargeStep(int length) {
    return static_cast<int>(std::nearbyint(static_cast<double>(length) / 10.0));
}

bool IsTranscriptWebAddress(const QString& address) {
    const QUrl url(address);
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ||
            url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0);
}

}  // namespace pelio::history
