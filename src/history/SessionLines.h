#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>
#include <vector>

// The chat lines of a session beside its recording, without widgets: the timed lines of a transcript,
// which transcript belongs to the session of a recording, and where in the recording a line was said.
namespace pelio::history {

// One chat line of a transcript.
struct TranscriptLine {
    qint64 whenMs = 0;  // the time of its header (local time, to the second), ms since 1970-01-01 UTC
    QString name;       // who wrote it; for the customer without the phone number
    QString text;       // its text as plain text, blanks collapsed, at most kLineTextMax characters
};

inline constexpr int kLineTextMax = 200;
inline constexpr int kMaxTranscriptLines = 10000;
inline constexpr qint64 kMaxTranscriptBytes = 8 * 1024 * 1024;

// The chat lines of a transcript, in the order they stand. A line starts with a header as the chat
// window writes it: a font element holding the name and, in brackets, the date and time in the general
// format ("홍길동 / 010-1234-5678 (2026-12-07 오후 4:05:09)"), then ":"; its text runs to the next
// header or the next of the program's notices (an agent's line that comes without a header of its own
// reads as part of the line before). Notices, and headers whose date or time is no real one,
// give no line. The transcript holds lines of the other side: whatever it says, the result is at most
// kMaxTranscriptLines lines of at most kLineTextMax characters.
std::vector<TranscriptLine> ReadTranscriptLines(const QString& html);

// The same from a transcript file (UTF-8, or code page 949 when made on Windows), of which the first
// maxBytes are read; nothing when the file cannot be read.
std::vector<TranscriptLine> ReadTranscriptFileLines(const QString& path,
                                                    qint64 maxBytes = kMaxTranscriptBytes);

// The most the viewer reads of all the transcripts it looks at for one recording, so that opening a
// recording stays quick whatever the folder holds; transcripts beyond it count as holding no line.
inline constexpr qint64 kMaxCandidateBytes = 32 * 1024 * 1024;

// The day and the number of a history file named "yyyy-MM-dd(n).htm" or "yyyy-MM-dd(n).srf" (the
// extension in any case); nothing for any other name.
struct HistoryFileNumber {
    QDate day;
    int number = 0;
};
std::optional<HistoryFileNumber> ParseHistoryFileName(const QString& fileName);

// The transcripts in a recording's folder that may belong to its session: those named for the
// recording's day or the day before or after (a session may cross midnight, and each file is named
// when it is made), or, for a recording whose name carries no day, the one with its base name. In name
// order, at most 500.
QStringList CandidateTranscriptPaths(const QString& recordingPath);

// A transcript that may belong to a recording, with the times of its lines.
struct TranscriptCandidate {
    QString path;
    std::vector<qint64> lineTimes;  // ms since 1970-01-01 UTC
};

// How far outside a recording's time a line still counts as said during it: line times are cut to the
// second, and the recording starts a moment after the link.
inline constexpr qint64 kPairingSlackMs = 2000;

// The transcript of the session a recording belongs to, or empty text. startMs: when the recording
// started (-1 when unknown); lengthMs: its length. The transcript with the most lines inside the
// recording's time (kPairingSlackMs either side) belongs to it, whatever the numbers of their names
// say: after a failed first try the session's recording is numbered one higher than its transcript;
// between equals the one with the recording's number wins. When no transcript has a line inside, or the
// start is unknown, the transcript with the recording's day and number (or its base name) belongs to
// it, unless its lines are known to lie outside the recording (then it is another session's).
QString PairTranscript(const QString& recordingPath, qint64 startMs, qint64 lengthMs,
                       const std::vector<TranscriptCandidate>& candidates);

// Where in a recording a line was said: its time from the recording's start, kept inside 0..lengthMs;
// nothing when the recording's start is unknown.
std::optional<qint64> LinePosition(qint64 lineMs, qint64 startMs, qint64 lengthMs);

}  // namespace pelio::history
