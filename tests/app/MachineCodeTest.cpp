#include "app/MachineCode.h"
#include "app/Scramble.h"
#include "app/UserSettings.h"
#include "platform/FakeServices.h"
#include "support/ScriptedMessageBoxes.h"

#include <gtest/gtest.h>

#include <QFileInfo>

using namespace pelio::app;
using pelio::platform::FakeSystemIdentity;
using pelio::test::TempFolder;

namespace {

const QString kApp = QStringLiteral("PelioRS");
const QString kSection = QStringLiteral("Settings");
const QString kKey = QStringLiteral("MyC");

}  // namespace

TEST(MachineCode, WorkedExampleAdapterAndVolume) {
    FakeSystemIdentity id;
    id.adapter = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    id.serial = 0x12345678;
    EXPECT_EQ(AdapterAddressText(id), QStringLiteral("00 1A 2B 3C 4D 5E"));
    EXPECT_EQ(AdapterCode(id), QStringLiteral("EXK4U"));
    EXPECT_EQ(VolumeCode(id, QStringLiteral("C:")), QStringLiteral("1284B692"));

    TempFolder config;
    UserSettings user(config.path());
    EXPECT_EQ(GetMachineCode(id, user), QStringLiteral("EXK4U96B482"));
    // Stored scrambled: two hexadecimal digits a character.
    const QString stored = user.Get(kApp, kSection, kKey);
    EXPECT_EQ(stored, ScrambleHex(QStringLiteral("EXK4U96B482"), ValueKey));
    EXPECT_EQ(stored.size(), 22);
}

TEST(MachineCode, DriveNamesAreCompletedBeforeTheQuery) {
    FakeSystemIdentity id;
    VolumeCode(id, QStringLiteral("C"));
    VolumeCode(id, QStringLiteral("C:"));
    VolumeCode(id, QStringLiteral("C:\\"));
    EXPECT_EQ(id.volumeQueries,
              (QStringList{QStringLiteral("C:\\"), QStringLiteral("C:\\"), QStringLiteral("C:\\")}));
}

TEST(MachineCode, VolumeCodeOverflowAndFailureRules) {
    EXPECT_EQ(VolumeCodeOfSerial(0), QStringLiteral("50601A"));             // failed query
    EXPECT_EQ(VolumeCodeOfSerial(2142216165), QStringLiteral("7FFFFFFF"));  // the largest that is adjusted
    EXPECT_EQ(VolumeCodeOfSerial(2142216166), QStringLiteral("7FAF9FE6"));  // used unchanged
    EXPECT_EQ(VolumeCodeOfSerial(-1), QStringLiteral("506019"));  // negative serials are adjusted too
    EXPECT_EQ(VolumeCodeOfSerial(-2000000000), QStringLiteral("891ACC1A"));  // still negative: 8 digits
}

TEST(MachineCode, WithoutAdapterTheVolumeCodeStandsIn) {
    FakeSystemIdentity id;  // adapter answers six zero bytes
    id.serial = 0x12345678;
    EXPECT_EQ(AdapterAddressText(id), QStringLiteral("00 00 00 00 00 00"));
    // "1284B692" reversed "296B4821", substituted: 2->P, 1->Q.
    EXPECT_EQ(AdapterCode(id), QStringLiteral("P96G4"));
    id.serial = 0;  // not even a volume: "50601A" -> "A10605" -> "WQRXRX"
    EXPECT_EQ(AdapterCode(id), QStringLiteral("WQR6R"));
    TempFolder config;
    EXPECT_EQ(GetMachineCode(id, UserSettings(config.path())), QStringLiteral("WQR6RA1060"));
}

TEST(MachineCode, StoredCodeWinsWhenLongerThanTenCharacters) {
    FakeSystemIdentity id;
    id.adapter = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    id.serial = 0x12345678;
    TempFolder config;
    UserSettings user(config.path());
    const QString storedCode = ScrambleHex(QStringLiteral("ABCDE123456"), ValueKey);
    ASSERT_TRUE(user.Save(kApp, kSection, kKey, storedCode));
    const QString file = user.FileOf(kApp);
    const auto modified = QFileInfo(file).lastModified();
    EXPECT_EQ(GetMachineCode(id, user), QStringLiteral("ABCDE123456"));
    EXPECT_EQ(user.Get(kApp, kSection, kKey), storedCode);  // nothing written
    EXPECT_EQ(QFileInfo(file).lastModified(), modified);
    EXPECT_TRUE(id.volumeQueries.isEmpty());  // the hardware is not even asked

    // Ten characters or fewer: a new code is made and replaces it.
    ASSERT_TRUE(user.Save(kApp, kSection, kKey, QStringLiteral("0123456789")));
    EXPECT_EQ(GetMachineCode(id, user), QStringLiteral("EXK4U96B482"));
    EXPECT_EQ(UnscrambleHex(user.Get(kApp, kSection, kKey), ValueKey), QStringLiteral("EXK4U96B482"));
}

TEST(MachineCode, ANewCodeIsStableAcrossRuns) {
    FakeSystemIdentity id;
    id.adapter = {0x02, 0x42, 0xAC, 0x11, 0x00, 0x02};
    id.serial = -559038737;
    TempFolder config;
    const QString first = GetMachineCode(id, UserSettings(config.path()));
    id.adapter = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60};  // the hardware changed
    EXPECT_EQ(GetMachineCode(id, UserSettings(config.path())), first);
}

TEST(Scramble, KeyStreamAndKnownValues) {
    EXPECT_EQ(ScrambleKeyStream(QStringLiteral("A")), QStringLiteral("65"));
    EXPECT_EQ(ScrambleKeyStream(QStringLiteral("qz")), QStringLiteral("113122"));
    EXPECT_TRUE(ScrambleKeyStream(ValueKey).startsWith(QStringLiteral("113122108")));
    // 'A' (0x41) ^ '6' (0x36) = 0x77; 'B' (0x42) ^ '5' (0x35) = 0x77; 'C' ^ '6' = 0x75.
    EXPECT_EQ(ScrambleHex(QStringLiteral("ABC"), QStringLiteral("A")), QStringLiteral("777775"));
    // A result below 16 gets a leading zero: '6' ^ '6' = 0.
    EXPECT_EQ(ScrambleHex(QStringLiteral("6"), QStringLiteral("A")), QStringLiteral("00"));
    EXPECT_EQ(ScrambleHex(QString(), ValueKey), QString());
    EXPECT_EQ(UnscrambleHex(QString(), ValueKey), QString());
}

TEST(Scramble, RoundTripsAsciiOfAnyLength) {
    QString all;
    for (int c = 1; c < 128; ++c) all += QChar(c);
    for (int len : {1, 2, 40, 41, 127}) {
        const QString t = all.left(len);
        const QString hex = ScrambleHex(t, ValueKey);
        EXPECT_EQ(hex.size(), 2 * len);
        EXPECT_EQ(hex, hex.toUpper());
        EXPECT_EQ(UnscrambleHex(hex, ValueKey), t);
    }
}

TEST(Scramble, DoubleByteCharactersGiveFourDigits) {
    // 가 is B0 A1 in code page 949: -20319 as a signed code; XOR '1' (0x31) of the key stream "113..."
    EXPECT_EQ(ScrambleHex(QStringLiteral("가"), ValueKey), QStringLiteral("B090"));
}

TEST(Scramble, BadHexReadsItsValidLeadingDigit) {
    const QString stream = ScrambleKeyStream(ValueKey);  // "113122..."
    // "G1" reads 0, "1G" reads 1, a final single "F" reads 15.
    EXPECT_EQ(UnscrambleHex(QStringLiteral("G1"), ValueKey), QString(QChar(0 ^ '1')));
    EXPECT_EQ(UnscrambleHex(QStringLiteral("1G"), ValueKey), QString(QChar(1 ^ '1')));
    EXPECT_EQ(UnscrambleHex(QStringLiteral("0000F"), ValueKey),
              QString(QChar('1')) + QChar('1') + QChar(15 ^ '3'));
}
