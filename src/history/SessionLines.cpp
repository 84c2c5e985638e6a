#include "history/SessionLines.h"

#include "history/HistoryTree.h"
#include "util/core/Ansi.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace pelio::history {

namespace {

// The header of a chat line: the name and the date and time in brackets inside a font element, then
// ":". The name holds no tag; blanks around its parts are allowed.
const QRegularExpression& HeaderPattern() {
    static const QRegularExpression pattern(
        QStringLiteral(
            "<font\\b[^>]*>\\s*([^<]{0,300}?)\\s*\\(\\s*(\\d{4})-(\\d{2})-(\\d{2})\\s+(오전|오후)\\s+"
            "(\\d{1,2}):(\\d{2}):(\\d{2})\\s*\\)\\s*</font>\\s*:"),
        QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

// Where one of the program's own notices starts (they carry the notice mark).
const QRegularExpression& NoticePattern() {
    static const QRegularExpression pattern(
        QStringLiteral("<(?:font|span)\\b[^>]*\\bclass\\s*=\\s*[\"']?pelio-notice"),
        QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

QString DecodeEntities(const QString& text) {
    static const QRegularExpression entity(
        QStringLiteral("&(#[0-9]{1,7}|#[xX][0-9a-fA-F]{1,6}|[a-zA-Z]{2,8});"));
    QString out;
    qsizetype at = 0;
    for (QRegularExpressionMatchIterator it = entity.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).mid(at, m.capturedStart() - at);
        at = m.capturedEnd();
        const QString name = m.captured(1);
        char32_t code = 0;
        if (name.startsWith(u'#')) {
            const bool hex = name.size() > 1 && (name[1] == u'x' || name[1] == u'X');
            code = hex ? name.mid(2).toUInt(nullptr, 16) : name.mid(1).toUInt();
        } else {
            const QString lower = name.toLower();
            code = lower == u"lt"     ? U'<'
                   : lower == u"gt"   ? U'>'
                   : lower == u"amp"  ? U'&'
                   : lower == u"quot" ? U'"'
                   : lower == u"apos" ? U'\''
                   : lower == u"nbsp" ? U' '
                                      : 0;
        }
        if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            out += m.captured(0);  // not one we know: as written
        else
            out += QString::fromUcs4(&code, 1);
    }
    out += QStringView(text).mid(at);
    return out;
}

// HTML as the plain text it shows: tags go, references are read, blanks collapse.
QString PlainText(QStringView html) {
    static const QRegularExpression tag(QStringLiteral("<[^>]*>?"));
    QString text = html.toString();
    text.replace(tag, QStringLiteral(" "));
    return DecodeEntities(text).simplified();
}

std::optional<qint64> HeaderTime(const QRegularExpressionMatch& m) {
    const QDate day(m.captured(2).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
    const int hour12 = m.captured(6).toInt();
    if (!day.isValid() || hour12 < 1 || hour12 > 12) return std::nullopt;
    const int hour = hour12 % 12 + (m.captured(5) == u"오후" ? 12 : 0);
    const QTime time(hour, m.captured(7).toInt(), m.captured(8).toInt());
    if (!time.isValid()) return std::nullopt;
    const QDateTime when(day, time);  // local time, as the chat window wrote it
    if (!when.isValid()) return std::nullopt;
    return when.toMSecsSinceEpoch();
}

bool SameSession(const QString& recordingPath, const QString& transcriptPath) {
    const std::optional<HistoryFileNumber> a = ParseHistoryFileName(QFileInfo(recordingPath).fileName());
    const std::optional<HistoryFileNumber> b = ParseHistoryFileName(QFileInfo(transcriptPath).fileName());
    if (a && b) return a->day == b->day && a->number == b->number;
    if (a || b) return false;
    return QFileInfo(recordingPath).completeBaseName() == QFileInfo(transcriptPath).completeBaseName();
}

}  // namespace

std::vector<TranscriptLine> ReadTranscriptLines(const QString& html) {
    std::vector<TranscriptLine> lines;
    struct Header {
        qsizetype start, end;
        std::optional<qint64> when;
        QString name;
    };
    std::vector<Header> headers;
    for (QRegularExpressionMatchIterator it = HeaderPattern().globalMatch(html);
         it.hasNext() && headers.size() < std::size_t(kMaxTranscriptLines);) {
        const QRegularExpressionMatch m = it.next();
        headers.push_back({m.capturedStart(), m.capturedEnd(), HeaderTime(m), DecodeEntities(m.captured(1))});
    }
    for (std::size_t i = 0; i < headers.size(); ++i) {
        const Header& h = headers[i];
        if (!h.when) continue;
        qsizetype end = i + 1 < headers.size() ? headers[i + 1].start : html.size();
        const QRegularExpressionMatch notice = NoticePattern().match(html, h.end);
        if (notice.hasMatch() && notice.capturedStart() < end) end = notice.capturedStart();
        TranscriptLine line;
        line.whenMs = *h.when;
        line.name = h.name.section(QStringLiteral(" / "), 0, 0).simplified().left(kLineTextMax);
        line.text = PlainText(QStringView(html).mid(h.end, end - h.end)).left(kLineTextMax);
        lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<TranscriptLine> ReadTranscriptFileLines(const QString& path, qint64 maxBytes) {
    QFile file(path);
    if (maxBytes <= 0 || !file.open(QIODevice::ReadOnly)) return {};
    return ReadTranscriptLines(util::DecodeLocalText(file.read(qMin(maxBytes, kMaxTranscriptBytes))));
}

std::optional<HistoryFileNumber> ParseHistoryFileName(const QString& fileName) {
    static const QRegularExpression name(
        QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})\\((\\d{1,9})\\)\\.(htm|srf)$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = name.match(fileName);
    if (!m.hasMatch()) return std::nullopt;
    const QDate day = QDate::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd"));
    if (!day.isValid()) return std::nullopt;
    return HistoryFileNumber{day, m.captured(2).toInt()};
}

QStringList CandidateTranscriptPaths(const QString& recordingPath) {
    const QFileInfo recording(recordingPath);
    const std::optional<HistoryFileNumber> own = ParseHistoryFileName(recording.fileName());
    QStringList names = recording.dir().entryList(QDir::Files, QDir::Name);
    QStringList paths;
    for (const QString& name : names) {
        if (!IsTranscriptName(name)) continue;
        const std::optional<HistoryFileNumber> number = ParseHistoryFileName(name);
        const bool near = own ? number && std::abs(number->day.daysTo(own->day)) <= 1
                              : QFileInfo(name).completeBaseName() == recording.completeBaseName();
        if (!near) continue;
        paths << recording.dir().filePath(name);
        if (paths.size() >= 500) break;
    }
    return paths;
}

QString PairTranscript(const QString& recordingPath, qint64 startMs, qint64 lengthMs,
                       const std::vector<TranscriptCandidate>& candidates) {
    const auto inside = [&](qint64 t) {
        return startMs >= 0 && t >= startMs - kPairingSlackMs && t <= startMs + lengthMs + kPairingSlackMs;
    };
    const TranscriptCandidate* best = nullptr;
    qsizetype bestCount = 0;
    const TranscriptCandidate* sameNumber = nullptr;
    for (const TranscriptCandidate& candidate : candidates) {
        const bool same = SameSession(recordingPath, candidate.path);
        if (same && !sameNumber) sameNumber = &candidate;
        const qsizetype count = std::count_if(candidate.lineTimes.begin(), candidate.lineTimes.end(), inside);
        if (count > bestCount || (count > 0 && count == bestCount && same)) {
            best = &candidate;
            bestCount = count;
        }
    }
    if (best) return best->path;
    if (!sameNumber) return QString();
    // No line inside: the numbers decide, unless the times tell that the transcript is another session's.
    if (startMs >= 0 && !sameNumber->lineTimes.empty()) return QString();
    return sameNumber->path;
}

std::optional<qint64> LinePosition(qint64 lineMs, qint64 startMs, qint64 lengthMs) {
    if (startMs < 0) return std::nullopt;
    return std::clamp<qint64>(lineMs - startMs, 0, qMax<qint64>(0, lengthMs));
}

}  // namespace pelio::history
