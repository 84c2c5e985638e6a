// The customer's offer of files to the agent, without widgets: only an offer the customer made can
// be uploaded, once, and what the agent's answers do in each state.
#include "transfer/FileOffer.h"

#include <gtest/gtest.h>

#include <QHash>

using namespace pelio;
using transfer::FileOffer;
using State = FileOffer::State;

namespace {

constexpr qint64 kMiB = 1048576;

// Records what the offer asks of the window.
class RecordingOutput : public FileOffer::Output {
  public:
    void TellCustomer(const QString& text) override { told << text; }
    void ShowOfferLine(const QString& html) override { lines << html; }
    void SendToAgent(const QString& message) override { sent << message; }
    void StartUpload() override { ++uploads; }
    void Clear() { told.clear(), lines.clear(), sent.clear(); }

    QStringList told, lines, sent;
    int uploads = 0;
};

const QString kBusy = QStringLiteral("파일 전송 중입니다. 전송이 완료 후 추가로 전송할 수 있습니다.");

FileOffer::SizeOf Sizes() {
    return [](const QString& path) {
        return QHash<QString, qint64>{{QStringLiteral("/f/big.iso"), 31 * kMiB}}.value(path, 10);
    };
}

}  // namespace

TEST(FileOffer, AnAgentCanUploadOnlyWhatTheCustomerOfferedAndOnlyOnce) {
    RecordingOutput out;
    FileOffer offer(out, Sizes());

    // Nothing offered: an agent's answer does nothing.
    EXPECT_FALSE(offer.Accept());
    EXPECT_FALSE(offer.Refuse());
    EXPECT_EQ(out.uploads, 0);
    EXPECT_EQ(offer.GetState(), State::Idle);

    ASSERT_TRUE(offer.MayChoose(false, true));
    ASSERT_TRUE(offer.Choose({QStringLiteral("/f/a.txt"), QStringLiteral("/f/b.txt")}));
    EXPECT_EQ(offer.GetState(), State::Offered);
    EXPECT_EQ(out.sent, QStringList{QStringLiteral("filename:\r\na.txt\r\nb.txt")});
    ASSERT_EQ(out.lines.size(), 1);
    EXPECT_TRUE(out.lines[0].contains(QStringLiteral("/f/a.txt<br>")));

    // Accepted twice: one run. A refusal after the acceptance leaves the run alone.
    EXPECT_TRUE(offer.Accept());
    EXPECT_FALSE(offer.Accept());
    EXPECT_FALSE(offer.Refuse());
    EXPECT_EQ(out.uploads, 1);
    EXPECT_EQ(offer.GetState(), State::Uploading);
    EXPECT_EQ(offer.Files(), QStringList({QStringLiteral("/f/a.txt"), QStringLiteral("/f/b.txt")}));

    // While it runs (an acceptance may come while the file dialog is open), nothing new is offered.
    EXPECT_FALSE(offer.MayChoose(false, true));
    EXPECT_FALSE(offer.Choose({QStringLiteral("/f/c.txt")}));
    EXPECT_FALSE(offer.Drop({QStringLiteral("/f/c.txt")}, false, true));
    EXPECT_EQ(out.told, QStringList({kBusy, kBusy, kBusy}));
    EXPECT_EQ(out.sent.size(), 1);
    EXPECT_EQ(offer.Files().size(), 2);

    // After the run, a late acceptance does not send the same files again.
    offer.UploadEnded();
    EXPECT_EQ(offer.GetState(), State::Idle);
    EXPECT_TRUE(offer.Files().isEmpty());
    EXPECT_FALSE(offer.Accept());
    EXPECT_EQ(out.uploads, 1);
}

TEST(FileOffer, ARefusalANewChoiceOrClosingReleasesTheOffer) {
    RecordingOutput out;
    FileOffer offer(out, Sizes());

    // Refused: nothing is left for a late acceptance.
    ASSERT_TRUE(offer.Choose({QStringLiteral("/f/a.txt")}));
    EXPECT_TRUE(offer.Refuse());
    EXPECT_EQ(offer.GetState(), State::Idle);
    EXPECT_FALSE(offer.Accept());

    // A new choice with a file over the limit withdraws the offer waiting, and offers nothing.
    ASSERT_TRUE(offer.Choose({QStringLiteral("/f/a.txt")}));
    out.Clear();
    EXPECT_FALSE(offer.Choose({QStringLiteral("/f/a.txt"), QStringLiteral("/f/big.iso")}));
    ASSERT_EQ(out.told.size(), 1);
    EXPECT_TRUE(out.told[0].contains(QStringLiteral("(31MB)가 너무 큽니다.")));
    EXPECT_TRUE(out.sent.isEmpty());
    EXPECT_EQ(offer.GetState(), State::Idle);
    EXPECT_FALSE(offer.Accept());

    // Drops: refused with a word while a transfer runs (the offer stays), without one when the
    // session is gone (the offer is withdrawn).
    ASSERT_TRUE(offer.Drop({QStringLiteral("/f/a.txt")}, false, true));
    out.Clear();
    EXPECT_FALSE(offer.Drop({QStringLiteral("/f/b.txt")}, true, true));
    EXPECT_EQ(out.told, QStringList{kBusy});
    EXPECT_EQ(offer.GetState(), State::Offered);
    EXPECT_FALSE(offer.Drop({QStringLiteral("/f/b.txt")}, false, false));
    EXPECT_EQ(out.told.size(), 1);
    EXPECT_EQ(offer.GetState(), State::Idle);

    // The send-file tool without a session says why.
    EXPECT_FALSE(offer.MayChoose(false, false));
    EXPECT_EQ(out.told.last(), QStringLiteral("파일 전송은 상담원과 원격지원 중에만 가능합니다."));

    // Closing the window drops an accepted offer whose run had not started yet.
    ASSERT_TRUE(offer.Choose({QStringLiteral("/f/a.txt")}));
    ASSERT_TRUE(offer.Accept());
    offer.Reset();
    EXPECT_EQ(offer.GetState(), State::Idle);
    EXPECT_TRUE(offer.Files().isEmpty());
}
