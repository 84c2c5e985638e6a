// The chat lines beside a recording: read from transcripts as the chat window writes them, and the
// transcript of a recording's session found by time when the file numbers disagree.
#include "history/SessionLines.h"
#include "support/ScriptedMessageBoxes.h"
#include "transfer/AgentHtml.h"
#include "transfer/ChatHtml.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>

using namespace pelio;
using namespace pelio::history;
using test::TempFolder;

namespace {

qint64 At(int hour, int minute, int second, QDate day = QDate(2026, 12, 7)) {
    return QDateTime(day, QTime(hour, minute, second)).toMSecsSinceEpoch();
}

// A transcript file as the chat window leaves it, with the customer's lines at the given times.
void WriteTranscript(const QString& path, const std::vector<qint64>& times) {
    QString body = QStringLiteral("<body><br>");
    for (qint64 t : times)
        body += transfer::ChatLineHtml(QStringLiteral("홍길동"), QStringLiteral("010-1234-5678"),
                                       QDateTime::fromMSecsSinceEpoch(t), QStringLiteral("말"));
    test::WriteFileBytes(
        path, "\xEF\xBB\xBF" + transfer::TranscriptFromBody(body + QStringLiteral("</body>")).toUtf8());
}

}  // namespace

TEST(SessionLines, TranscriptLinesAreReadAsTheChatWindowWritesThem) {
    const QDateTime customerTime(QDate(2026, 12, 7), QTime(0, 5, 9));  // "오전 12:05:09"
    QString body = QStringLiteral("<body><br>");
    body += transfer::ChatLineHtml(QStringLiteral("홍<길동>"), QStringLiteral("010-1234-5678"), customerTime,
                                   transfer::GetHtml(QStringLiteral("화면이\r\n멈췄어요 & 안 움직여요"), {}));
    body += transfer::MarkedNoticeHtml(
        QStringLiteral("\r\n<br><font size=2 color=gray>상담원에게 다음 파일을 전송합니다.</font><br>\r\n"));
    // An agent's program writes its own header; the line comes through the allow-list.
    body +=
        transfer::SanitizeAgentHtml(QStringLiteral("<br><FONT SIZE=2 COLOR=blue>김상담 (2026-12-07 오후 "
                                                   "4:05:30)</FONT>:<br>확인해 &lt;드리겠&gt;습니다.<br>"));
    // A header whose date is no real one gives no line, and ends the line before it.
    body += QStringLiteral("<br><font size=2>위조 (2026-13-07 오후 4:05:31)</font>:<br>x<br>");
    const std::vector<TranscriptLine> lines =
        ReadTranscriptLines(transfer::TranscriptFromBody(body + QStringLiteral("</body>")));

    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].whenMs, customerTime.toMSecsSinceEpoch());
    EXPECT_EQ(lines[0].name, QStringLiteral("홍<길동>"));
    EXPECT_EQ(lines[0].text, QStringLiteral("화면이 멈췄어요 & 안 움직여요"));
    EXPECT_EQ(lines[1].whenMs, At(16, 5, 30));
    EXPECT_EQ(lines[1].name, QStringLiteral("김상담"));
    EXPECT_EQ(lines[1].text, QStringLiteral("확인해 <드리겠>습니다."));
}

TEST(SessionLines, ARecordingPairsWithItsSessionsTranscriptByTimeWhateverTheNumbers) {
    TempFolder tmp;
    const QString folder = tmp.path() + u'/';
    // The first try (0) failed after 3 s and left only a recording; the session that followed has
    // the transcript (0) and the recording (1). A later session has both as (2).
    WriteTranscript(folder + QStringLiteral("2026-12-07(0).htm"), {At(10, 5, 0), At(10, 20, 0)});
    WriteTranscript(folder + QStringLiteral("2026-12-07(2).htm"), {At(11, 0, 1)});
    WriteTranscript(folder + QStringLiteral("2026-12-09(1).htm"), {At(10, 6, 0)});  // another day
    WriteTranscript(folder + QStringLiteral("2026-12-07(3).htm"), {});              // notices only

    const auto pair = [&](const QString& recording, qint64 start, qint64 length) {
        std::vector<TranscriptCandidate> candidates;
        for (const QString& path : CandidateTranscriptPaths(folder + recording)) {
            TranscriptCandidate candidate{path, {}};
            for (const TranscriptLine& line : ReadTranscriptFileLines(path))
                candidate.lineTimes.push_back(line.whenMs);
            candidates.push_back(candidate);
        }
        return QFileInfo(PairTranscript(folder + recording, start, length, candidates)).fileName();
    };
    EXPECT_EQ(pair(QStringLiteral("2026-12-07(1).srf"), At(10, 4, 30), 26 * 60000),
              QStringLiteral("2026-12-07(0).htm"));
    EXPECT_EQ(pair(QStringLiteral("2026-12-07(0).srf"), At(10, 0, 0), 3000), QString());
    // A line said in the first second counts: its time is cut to the second.
    EXPECT_EQ(pair(QStringLiteral("2026-12-07(2).srf"), At(11, 0, 1) + 900, 60000),
              QStringLiteral("2026-12-07(2).htm"));
    // Without times the numbers decide; a transcript without timed lines goes by its number too.
    EXPECT_EQ(pair(QStringLiteral("2026-12-07(0).srf"), -1, 3000), QStringLiteral("2026-12-07(0).htm"));
    EXPECT_EQ(pair(QStringLiteral("2026-12-07(3).srf"), At(12, 0, 0), 60000),
              QStringLiteral("2026-12-07(3).htm"));

    // Where a line moves the recording: inside it, or nowhere when its start is unknown.
    EXPECT_EQ(LinePosition(At(10, 5, 0), At(10, 4, 30), 60000), 30000);
    EXPECT_EQ(LinePosition(At(10, 4, 29), At(10, 4, 30), 60000), 0);
    EXPECT_EQ(LinePosition(At(10, 6, 0), At(10, 4, 30), 60000), 60000);
    EXPECT_EQ(LinePosition(At(10, 5, 0), -1, 60000), std::nullopt);
}
