// The built pelio-agent's value commands, run as a separate program.
#include "app/Scramble.h"
#include "app/ValueCipher.h"
#include "secure/Pin.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace {

struct AgentRun {
    int exitCode = -1;
    QString out;
    QByteArray err;
};

AgentRun RunAgent(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(PELIO_AGENT_EXECUTABLE), args);
    AgentRun r;
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit) {
        p.kill();
        p.waitForFinished(5000);
        return r;
    }
    r.exitCode = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = p.readAllStandardError();
    return r;
}

}  // namespace

TEST(AgentTool, EncryptThenDecryptThroughTheProgram) {
    const QString texts[] = {
        QStringLiteral("chat:Hello"),
        QStringLiteral("customer:EXK4U96B482/홍길동/010-1234-5678/"),
        QStringLiteral("안녕하세요 똠방각하 뷁"),
    };
    for (const QString& text : texts) {
        SCOPED_TRACE(text.toStdString());
        const AgentRun enc = RunAgent({QStringLiteral("encrypt"), text});
        ASSERT_EQ(enc.exitCode, 0) << enc.err.constData();
        ASSERT_TRUE(enc.out.endsWith(u'\n'));
        const QString cipher = enc.out.chopped(1);
        EXPECT_EQ(cipher, pelio::app::EncryptValue(text));  // the same wire text as the program's own

        const AgentRun dec = RunAgent({QStringLiteral("decrypt"), cipher});
        ASSERT_EQ(dec.exitCode, 0) << dec.err.constData();
        EXPECT_EQ(dec.out, text + u'\n');
    }
    // Decrypts what the program encrypted, too (a fixed known value).
    EXPECT_EQ(RunAgent({QStringLiteral("decrypt"), QStringLiteral("535800024A06680371096E0C")}).out,
              QStringLiteral("1234567\n"));
}

TEST(AgentTool, BadInputAndBadUsage) {
    // Text that is no cipher text, and Base64 blocks that were never an encrypted value, are refused;
    // the empty text is the cipher text of the empty value.
    EXPECT_TRUE(pelio::app::EncryptValue(QString()).isEmpty());
    const QString notValues[] = {
        QStringLiteral("not a cipher text"),
        pelio::app::ScrambleHex(QStringLiteral("eHh4eHh4eHg="), pelio::app::ValueKey),
    };
    for (const QString& text : notValues) {
        const AgentRun r = RunAgent({QStringLiteral("decrypt"), text});
        EXPECT_EQ(r.exitCode, 1) << text.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.startsWith("pelio-agent: ") && r.err.count('\n') == 1) << r.err.constData();
    }
    // A drop box setting scrambled on the command line reads back as the program reads it.
    const AgentRun scrambled = RunAgent({QStringLiteral("scramble"), QStringLiteral("127.0.0.1:2121")});
    EXPECT_EQ(pelio::app::UnscrambleHex(scrambled.out.trimmed(), pelio::app::ValueKey),
              QStringLiteral("127.0.0.1:2121"));
    const AgentRun empty = RunAgent({QStringLiteral("decrypt"), QString()});
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(empty.out, QStringLiteral("\n"));

    for (const QStringList& args : {QStringList{}, QStringList{QStringLiteral("encrypt")},
                                    QStringList{QStringLiteral("shuffle"), QStringLiteral("x")}}) {
        const AgentRun r = RunAgent(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.startsWith("usage:"));
    }
    // Asked for, the usage goes to standard output and the program succeeds, for every subcommand.
    for (const QStringList& args : {QStringList{QStringLiteral("--help")},
                                    QStringList{QStringLiteral("console"), QStringLiteral("--help")},
                                    QStringList{QStringLiteral("listen"), QStringLiteral("-h")},
                                    QStringList{QStringLiteral("keygen"), QStringLiteral("--help")}}) {
        const AgentRun r = RunAgent(args);
        EXPECT_EQ(r.exitCode, 0) << args.join(u' ').toStdString();
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("usage:")) &&
                    r.out.contains(QStringLiteral("console PORT")));
        EXPECT_TRUE(r.err.isEmpty());
    }
}

TEST(AgentTool, KeygenWritesAKeyFileForItsOwnerOnceAndPrintsItsPin) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("agent.key"));
    const AgentRun made = RunAgent({QStringLiteral("keygen"), path});
    ASSERT_EQ(made.exitCode, 0) << made.err.constData();
    ASSERT_TRUE(made.out.endsWith(u'\n'));
    EXPECT_TRUE(pelio::components::secure::ParsePin(made.out.chopped(1))) << made.out.toStdString();
    EXPECT_EQ(QFileInfo(path).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
              QFile::ReadOwner | QFile::WriteOwner);

    // The key is never replaced: the customers' programs hold its pin.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    const AgentRun again = RunAgent({QStringLiteral("keygen"), path});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(again.out.isEmpty());
    EXPECT_TRUE(again.err.startsWith("pelio-agent: ")) << again.err.constData();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);

    // A file that holds no key is refused before the agent listens.
    const AgentRun bad = RunAgent({QStringLiteral("listen"), QStringLiteral("0"), QStringLiteral("--key"),
                                   dir.filePath(QStringLiteral("missing.key"))});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_FALSE(bad.out.contains(QStringLiteral("listening")));
    EXPECT_TRUE(bad.err.startsWith("pelio-agent: ")) << bad.err.constData();
}
