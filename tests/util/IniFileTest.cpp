#include "support/ScriptedMessageBoxes.h"
#include "util/core/Ansi.h"
#include "util/core/IniFile.h"
#include "util/gui/WindowRoutines.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <random>

#include <unistd.h>

using namespace pelio::util;
using pelio::test::ReadFileBytes;
using pelio::test::TempFolder;
using pelio::test::WriteFileBytes;

namespace {

class IniFileTest : public ::testing::Test {
  protected:
    TempFolder dir;
    QString ini = dir.file(QStringLiteral("PelioRS.ini"));
};

}  // namespace

TEST_F(IniFileTest, FirstWriteCreatesTheFileAndReadsBack) {
    EXPECT_FALSE(QFileInfo::exists(ini));
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("MyName"), QStringLiteral("dflt")),
              QStringLiteral("dflt"));
    EXPECT_FALSE(QFileInfo::exists(ini));  // reading creates nothing
    IniWrite(ini, QStringLiteral("Settings"), QStringLiteral("MyName"), QStringLiteral("홍길동"));
    EXPECT_TRUE(QFileInfo::exists(ini));
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("MyName")), QStringLiteral("홍길동"));
    // Sections and keys without regard to case; a second write replaces the entry in place.
    IniWrite(ini, QStringLiteral("SETTINGS"), QStringLiteral("myname"), QStringLiteral("김철수"));
    EXPECT_EQ(IniRead(ini, QStringLiteral("settings"), QStringLiteral("MYNAME")), QStringLiteral("김철수"));
    EXPECT_EQ(ReadFileBytes(ini).count("[Settings]"), 1);
    EXPECT_EQ(ReadFileBytes(ini).count("="), 1);
}

TEST_F(IniFileTest, EmptySectionReadsDefaultAndWritesNothing) {
    IniWrite(ini, QString(), QStringLiteral("k"), QStringLiteral("v"));
    EXPECT_FALSE(QFileInfo::exists(ini));
    EXPECT_EQ(IniRead(ini, QString(), QStringLiteral("k"), QStringLiteral("d")), QStringLiteral("d"));
}

TEST_F(IniFileTest, PresentButEmptyValueReadsAsDefault) {
    WriteFileBytes(ini, "[Settings]\r\nMyName=\r\nMyPhone=   \r\n");
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("MyName"), QStringLiteral("d")),
              QStringLiteral("d"));
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("MyPhone"), QStringLiteral("d")),
              QStringLiteral("d"));
    EXPECT_EQ(IniReadInt(ini, QStringLiteral("Chat"), QStringLiteral("BackColor"), 16777215), 16777215);
}

TEST_F(IniFileTest, TwoLineValueIsStoredAsOneLineWithMarker) {
    IniWrite(ini, QStringLiteral("S"), QStringLiteral("Text"), QStringLiteral("첫 줄\r\n둘째 줄"));
    EXPECT_TRUE(ReadFileBytes(ini).contains(QStringLiteral("Text=첫 줄\\n\\r둘째 줄\n").toUtf8()));
    EXPECT_EQ(IniRead(ini, QStringLiteral("S"), QStringLiteral("Text")), QStringLiteral("첫 줄\r\n둘째 줄"));
    // The marker is recognised in any case.
    WriteFileBytes(ini, "[S]\nText=a\\N\\Rb\n");
    EXPECT_EQ(IniRead(ini, QStringLiteral("S"), QStringLiteral("Text")), QStringLiteral("a\r\nb"));
}

TEST_F(IniFileTest, BlanksAndQuotesFollowThePrivateProfileRules) {
    WriteFileBytes(
        ini, "  [ Settings ]  \n  LastIP  =  10.0.0.1  \nQuoted=\"  spaced  \"\n; comment=x\nNoEquals\n");
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("LastIP")), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("Quoted")), QStringLiteral("spaced"));
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("Quoted"), QString(), true),
              QStringLiteral("  spaced  "));
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("; comment"), QStringLiteral("d")),
              QStringLiteral("d"));
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("NoEquals"), QStringLiteral("d")),
              QStringLiteral("d"));
}

TEST_F(IniFileTest, ValuesAreCutAt1499CodePageBytesOnACharacterBoundary) {
    IniWrite(ini, QStringLiteral("S"), QStringLiteral("Long"), QString(3000, u'x'));
    EXPECT_EQ(IniRead(ini, QStringLiteral("S"), QStringLiteral("Long")).size(), 1499);
    // Korean syllables are two bytes each: 749 of them fill 1,498 bytes; the 750th would not fit.
    IniWrite(ini, QStringLiteral("S"), QStringLiteral("Korean"), QString(1000, QChar(0xAC00)));
    EXPECT_EQ(IniRead(ini, QStringLiteral("S"), QStringLiteral("Korean")), QString(749, QChar(0xAC00)));
    IniWrite(ini, QStringLiteral("S"), QStringLiteral("Mixed"), u'a' + QString(1000, QChar(0xAC00)));
    EXPECT_EQ(IniRead(ini, QStringLiteral("S"), QStringLiteral("Mixed")), u'a' + QString(749, QChar(0xAC00)));
}

TEST_F(IniFileTest, NewKeysGoIntoTheirSectionAndOtherLinesStay) {
    WriteFileBytes(ini, "; kept comment\n[Settings]\nLastIP=1.2.3.4\n\n[Chat]\nFontName=돋움\n");
    IniWrite(ini, QStringLiteral("settings"), QStringLiteral("LastPort"), QStringLiteral("5500"));
    IniWrite(ini, QStringLiteral("Form"), QStringLiteral("frmPlay"), QStringLiteral("1;2;3;4"));
    EXPECT_EQ(
        ReadFileBytes(ini),
        QStringLiteral("; kept comment\n[Settings]\nLastIP=1.2.3.4\nLastPort=5500\n\n[Chat]\nFontName=돋움\n"
                       "[Form]\nfrmPlay=1;2;3;4\n")
            .toUtf8());
}

TEST_F(IniFileTest, HostileKeysAndValuesCannotCorruptOtherEntries) {
    IniWrite(ini, QStringLiteral("Settings"), QStringLiteral("MyName"), QStringLiteral("safe"));
    // Values: line breaks of any kind, "=", a leading "[" and a NUL stay inside their own entry.
    IniWrite(ini, QStringLiteral("Settings"), QStringLiteral("A"),
             QStringLiteral("x\n[Settings]\nMyName=evil"));
    IniWrite(ini, QStringLiteral("Settings"), QStringLiteral("B"), QStringLiteral("[Chat]"));
    IniWrite(ini, QStringLiteral("Settings"), QStringLiteral("C"), QStringLiteral("k=v\rMyName=evil"));
    IniWrite(ini, QStringLiteral("Settings"), QStringLiteral("D"),
             QString(QStringLiteral("cut")) + QChar(0) + u'x');
    // Keys and sections that could not be read back as themselves are not written.
    IniWrite(ini, QStringLiteral("DeptInfo"), QStringLiteral("a=b"), QStringLiteral("c"));
    IniWrite(ini, QStringLiteral("DeptInfo"), QStringLiteral("[Settings]"), QStringLiteral("c"));
    IniWrite(ini, QStringLiteral("DeptInfo"), QStringLiteral("x\nMyName=evil"), QStringLiteral("c"));
    IniWrite(ini, QStringLiteral("Sec]tion"), QStringLiteral("k"), QStringLiteral("c"));
    IniWrite(ini, QStringLiteral("Sec\nMyName=evil"), QStringLiteral("k"), QStringLiteral("c"));

    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("MyName")), QStringLiteral("safe"));
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("A")),
              QStringLiteral("x\r\n[Settings]\r\nMyName=evil"));
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("B")), QStringLiteral("[Chat]"));
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("C")),
              QStringLiteral("k=v\r\nMyName=evil"));
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("D")), QStringLiteral("cut"));
    EXPECT_EQ(IniRead(ini, QStringLiteral("DeptInfo"), QStringLiteral("a"), QStringLiteral("none")),
              QStringLiteral("none"));
    EXPECT_FALSE(ReadFileBytes(ini).contains("DeptInfo"));
    // Every line of the file is a section or a well-formed entry of a known key.
    const QList<QByteArray> lines = ReadFileBytes(ini).split('\n');
    for (const QByteArray& line : lines) {
        if (line.isEmpty() || line.startsWith('[')) continue;
        EXPECT_TRUE(line.startsWith("MyName=") || line.startsWith("A=") || line.startsWith("B=") ||
                    line.startsWith("C=") || line.startsWith("D="))
            << line.toStdString();
    }
}

TEST_F(IniFileTest, GarbageFilesReadWithoutCrashAndKeepTheRules) {
    // Binary garbage with a valid entry inside.
    std::mt19937 rng(7);
    QByteArray garbage;
    for (int i = 0; i < 20000; ++i) garbage.append(static_cast<char>(rng() & 0xFF));
    WriteFileBytes(ini, garbage + "\n[Settings]\nLastIP=9.9.9.9\n" + garbage);
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("LastIP")), QStringLiteral("9.9.9.9"));
    for (int i = 0; i < 50; ++i) IniRead(ini, QStringLiteral("S%1").arg(i), QStringLiteral("K"));

    // A very long line: the value is cut, the next entry still reads.
    WriteFileBytes(ini, "[S]\nLong=" + QByteArray(1 << 20, 'y') + "\nNext=ok\n");
    EXPECT_EQ(IniRead(ini, QStringLiteral("S"), QStringLiteral("Long")).size(), 1499);
    EXPECT_EQ(IniRead(ini, QStringLiteral("S"), QStringLiteral("Next")), QStringLiteral("ok"));

    // No sections at all: nothing is found.
    WriteFileBytes(ini, "LastIP=1.1.1.1\nMyName=x\n");
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("LastIP"), QStringLiteral("d")),
              QStringLiteral("d"));

    // A file written on Windows in code page 949 reads, and a write keeps its other entries.
    WriteFileBytes(ini, pelio::util::ToAnsi(QStringLiteral(
                            "[DeptInfo]\r\n1234=펠리오 상사\r\n[Settings]\r\nMyName=똠방\r\n")));
    EXPECT_EQ(IniRead(ini, QStringLiteral("DeptInfo"), QStringLiteral("1234")),
              QStringLiteral("펠리오 상사"));
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("MyName")), QStringLiteral("똠방"));
    IniWrite(ini, QStringLiteral("Settings"), QStringLiteral("MyPhone"), QStringLiteral("010"));
    EXPECT_EQ(IniRead(ini, QStringLiteral("DeptInfo"), QStringLiteral("1234")),
              QStringLiteral("펠리오 상사"));
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("MyName")), QStringLiteral("똠방"));
}

TEST_F(IniFileTest, AWriteLeavesTheLinesItDoesNotTouchAsTheyWere) {
    // UTF-8 throughout but for one stray byte in a comment, and one line in code page 949: each line
    // reads in its own encoding, and a write gives every other line back byte for byte.
    const QByteArray stray = "; \xFF\r\n";
    const QByteArray ansiLine = "Old=" + pelio::util::ToAnsi(QStringLiteral("똠방각하")) + "\r\n";
    const QByteArray before = "[Settings]\r\n" + stray + QStringLiteral("MyName=홍길동\r\n").toUtf8() +
                              ansiLine + QStringLiteral("[DeptInfo]\r\n1234=펠리오 상사\r\n").toUtf8();
    WriteFileBytes(ini, before);
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("MyName")), QStringLiteral("홍길동"));
    EXPECT_EQ(IniRead(ini, QStringLiteral("Settings"), QStringLiteral("Old")), QStringLiteral("똠방각하"));
    IniWrite(ini, QStringLiteral("Settings"), QStringLiteral("MyPhone"), QStringLiteral("010-1234"));
    const QByteArray after = ReadFileBytes(ini);
    EXPECT_EQ(after, "[Settings]\r\n" + stray + QStringLiteral("MyName=홍길동\r\n").toUtf8() + ansiLine +
                         "MyPhone=010-1234\r\n" +
                         QStringLiteral("[DeptInfo]\r\n1234=펠리오 상사\r\n").toUtf8());
    EXPECT_EQ(IniRead(ini, QStringLiteral("DeptInfo"), QStringLiteral("1234")),
              QStringLiteral("펠리오 상사"));

    // A file over 16 MiB is no settings file: it reads as empty and is never replaced.
    const QByteArray huge = "[S]\nK=v\n" + QByteArray(16 * 1024 * 1024, ';');
    WriteFileBytes(ini, huge);
    EXPECT_EQ(IniRead(ini, QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("default")),
              QStringLiteral("default"));
    IniWrite(ini, QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("new"));
    EXPECT_EQ(ReadFileBytes(ini).size(), huge.size());
}

TEST_F(IniFileTest, FailedWriteLeavesTheOldFileWhole) {
    IniWrite(ini, QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("old"));
    const QByteArray before = ReadFileBytes(ini);
    // A folder that does not exist: nothing is written anywhere, no error is raised.
    IniWrite(dir.file(QStringLiteral("missing/PelioRS.ini")), QStringLiteral("S"), QStringLiteral("K"),
             QStringLiteral("v"));
    EXPECT_FALSE(QFileInfo::exists(dir.file(QStringLiteral("missing"))));
    // A file that cannot be read whole is not replaced.
    if (getuid() != 0) {
        QFile::setPermissions(ini, QFileDevice::WriteOwner);
        IniWrite(ini, QStringLiteral("S"), QStringLiteral("K2"), QStringLiteral("new"));
        QFile::setPermissions(ini, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    EXPECT_EQ(ReadFileBytes(ini), before);
    // No temporary files are left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

TEST_F(IniFileTest, NumbersAndFlagsRoundTrip) {
    IniWrite(ini, QStringLiteral("Chat"), QStringLiteral("FontSize"), QString::number(9.75));
    EXPECT_TRUE(ReadFileBytes(ini).contains("FontSize=9.75"));
    EXPECT_DOUBLE_EQ(IniReadDouble(ini, QStringLiteral("Chat"), QStringLiteral("FontSize"), 11), 9.75);
    IniWrite(ini, QStringLiteral("Chat"), QStringLiteral("FontBold"), QStringLiteral("True"));
    EXPECT_TRUE(IniReadBool(ini, QStringLiteral("Chat"), QStringLiteral("FontBold"), false));
    IniWrite(ini, QStringLiteral("Chat"), QStringLiteral("FontBold"), QStringLiteral("nonsense"));
    EXPECT_TRUE(IniReadBool(ini, QStringLiteral("Chat"), QStringLiteral("FontBold"), true));
    EXPECT_EQ(IniReadInt(ini, QStringLiteral("Chat"), QStringLiteral("FontBold"), 5), 5);
}

TEST_F(IniFileTest, CodeHistoryListRules) {
    QComboBox list;
    WriteFileBytes(ini, "[ListBox]\nCodeHistory=1234#;#5678#;#\n");
    ListLoad(ini, QStringLiteral("CodeHistory"), &list, QStringLiteral("#;#"));
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.itemText(0), QStringLiteral("1234"));
    EXPECT_EQ(list.itemText(1), QStringLiteral("5678"));

    WriteFileBytes(ini, "[ListBox]\nCodeHistory=#;##;#\n");
    ListLoad(ini, QStringLiteral("CodeHistory"), &list, QStringLiteral("#;#"));
    EXPECT_EQ(list.count(), 0);

    list.clear();
    for (int i = 1; i <= 12; ++i) list.addItem(QStringLiteral("c%1").arg(i));
    ListSave(ini, QStringLiteral("CodeHistory"), &list, QStringLiteral("#;#"), 10);
    EXPECT_EQ(IniRead(ini, QStringLiteral("ListBox"), QStringLiteral("CodeHistory")),
              QStringLiteral("c1#;#c2#;#c3#;#c4#;#c5#;#c6#;#c7#;#c8#;#c9#;#c10#;#"));

    // A blank key does nothing, neither load nor save.
    list.clear();
    list.addItem(QStringLiteral("stay"));
    ListLoad(ini, QStringLiteral("  "), &list, QStringLiteral("#;#"));
    EXPECT_EQ(list.count(), 1);
    ListSave(ini, QStringLiteral(" "), &list, QStringLiteral("#;#"), 10);
    EXPECT_FALSE(ReadFileBytes(ini).contains("stay"));

    // An empty list writes an empty value, which reads as the default.
    list.clear();
    ListSave(ini, QStringLiteral("CodeHistory"), &list, QStringLiteral("#;#"), 10);
    EXPECT_TRUE(ReadFileBytes(ini).contains("CodeHistory=\n"));
}
