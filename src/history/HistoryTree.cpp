#include "history/HistoryTree.h"

#include "history/HistoryLog.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace pelio::history {

namespace {

bool EndsWithLower(const QString& name, QLatin1String suffix) {
    return name.right(4).toLower() == suffix;
}

struct Scanner {
    const ScanLimits& limits;
    HistoryScan& scan;
    QSet<QString> entered;  // the folders being scanned above the current one

    // True once a limit is reached; from then on nothing more is read.
    bool Exhausted(bool listingFolder) {
        if (scan.stoppedAtLimit) return true;
        const bool full = listingFolder ? scan.foldersListed >= limits.foldersListed
                                        : scan.entriesExamined >= limits.entriesExamined;
        if (full) scan.stoppedAtLimit = true;
        return full;
    }

    // A link back to a folder being scanned above is listed but not entered again, which ends loops; a
    // folder reached twice by other ways is scanned each time.
    void ScanFolder(const QString& folder, const QString& parentKey) {
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        if (canonical.isEmpty() || entered.contains(canonical) || Exhausted(true)) return;
        ++scan.foldersListed;

        // Read one entry at a time so that a huge folder costs no more than the limit allows; a folder
        // read only in part lists nothing, rather than whichever entries came first.
        struct Entry {
            QString name;
            bool folder;
        };
        std::vector<Entry> entries;
        QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        while (it.hasNext()) {
            if (Exhausted(false)) return;
            it.next();
            ++scan.entriesExamined;
            entries.push_back({it.fileName(), it.fileInfo().isDir()});
        }
        // Name order: Linux file systems list entries in no useful order.
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
            const int order = a.name.compare(b.name, Qt::CaseInsensitive);
            return order != 0 ? order < 0 : a.name < b.name;
        });

        entered.insert(canonical);
        const QString base = folder.endsWith(u'/') ? folder : folder + u'/';
        for (const Entry& entry : entries) {
            if (scan.stoppedAtLimit) break;
            const QString path = base + entry.name;
            if (entry.folder) {
                HistoryNode node{HistoryNode::Kind::Folder, path + u'/', entry.name, parentKey};
                scan.nodes.push_back(node);
                ScanFolder(path, node.key);
            } else if (!parentKey.isEmpty()) {
                if (IsTranscriptName(entry.name))
                    scan.nodes.push_back({HistoryNode::Kind::Transcript, path, entry.name, parentKey});
                else if (IsRecordingName(entry.name))
                    scan.nodes.push_back({HistoryNode::Kind::Recording, path, entry.name, parentKey});
            }
        }
        entered.remove(canonical);
    }
};

}  // namespace

bool IsTranscriptName(const QString& fileName) {
    return EndsWithLower(fileName, QLatin1String(".htm"));
}

bool IsRecordingName(const QString& fileName) {
    return EndsWithLower(fileName, QLatin1String(".srf"));
}

HistoryScan ScanHistoryWithin(const QString& historyFolder, const ScanLimits& limits) {
    HistoryScan scan;
    if (historyFolder.isEmpty()) return scan;
    Scanner{limits, scan, {}}.ScanFolder(historyFolder, QString());
    if (scan.stoppedAtLimit)
        qCWarning(lcHistory) << "history scan stopped at its limit:" << scan.foldersListed << "folders,"
                             << scan.entriesExamined << "entries," << scan.nodes.size() << "nodes";
    return scan;
}

std::vector<HistoryNode> ScanHistory(const QString& historyFolder) {
    return ScanHistoryWithin(historyFolder).nodes;
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
