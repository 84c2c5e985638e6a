#include "app/Base64.h"
#include "app/Blowfish.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <cstdint>
#include <vector>

using namespace pelio::app;

namespace {

std::vector<std::uint8_t> Bytes(const char* hex) {
    const QByteArray b = QByteArray::fromHex(hex);
    return {b.begin(), b.end()};
}

std::uint64_t Encrypt(const Blowfish& bf, std::uint64_t block) {
    auto l = static_cast<std::uint32_t>(block >> 32);
    auto r = static_cast<std::uint32_t>(block);
    bf.EncryptWords(l, r);
    return (std::uint64_t{l} << 32) | r;
}

struct Vector {
    const char* key;
    std::uint64_t plain;
    std::uint64_t cipher;
};

// The published test vectors of the algorithm (8-byte keys, one block each).
const Vector kVectors[] = {
    {"0000000000000000", 0x0000000000000000, 0x4EF997456198DD78},
    {"FFFFFFFFFFFFFFFF", 0xFFFFFFFFFFFFFFFF, 0x51866FD5B85ECB8A},
    {"3000000000000000", 0x1000000000000001, 0x7D856F9A613063F2},
    {"1111111111111111", 0x1111111111111111, 0x2466DD878B963C9D},
    {"0123456789ABCDEF", 0x1111111111111111, 0x61F9C3802281B096},
    {"1111111111111111", 0x0123456789ABCDEF, 0x7D0CC630AFDA1EC7},
    {"FEDCBA9876543210", 0x0123456789ABCDEF, 0x0ACEAB0FC6A0A28D},
    {"7CA110454A1A6E57", 0x01A1D6D039776742, 0x59C68245EB05282B},
    {"0131D9619DC1376E", 0x5CD54CA83DEF57DA, 0xB1B8CC0B250F09A0},
    {"07A1133E4A0B2686", 0x0248D43806F67172, 0x1730E5778BEA1DA4},
    {"3849674C2602319E", 0x51454B582DDF440A, 0xA25E7856CF2651EB},
    {"04B915BA43FEB5B6", 0x42FD443059577FA2, 0x353882B109CE8F1A},
    {"0113B970FD34F2CE", 0x059B5E0851CF143A, 0x48F4D0884C379918},
    {"0170F175468FB5E6", 0x0756D8E0774761D2, 0x432193B78951FC98},
    {"43297FAD38E373FE", 0x762514B829BF486A, 0x13F04154D69D1AE5},
    {"07A7137045DA2A16", 0x3BDD119049372802, 0x2EEDDA93FFD39C79},
    {"04689104C2FD3B2F", 0x26955F6835AF609A, 0xD887E0393C2DA6E3},
    {"37D06BB516CB7546", 0x164D5E404F275232, 0x5F99D04F5B163969},
    {"1F08260D1AC2465E", 0x6B056E18759F5CCA, 0x4A057A3B24D3977B},
    {"584023641ABA6176", 0x004BD6EF09176062, 0x452031C1E4FADA8E},
    {"025816164629B007", 0x480D39006EE762F2, 0x7555AE39F59B87BD},
    {"49793EBC79B3258F", 0x437540C8698F3CFA, 0x53C55F9CB49FC019},
    {"4FB05E1515AB73A7", 0x072D43A077075292, 0x7A8E7BFA937E89A3},
    {"49E95D6D4CA229BF", 0x02FE55778117F12A, 0xCF9C5D7A4986ADB5},
    {"018310DC409B26D6", 0x1D9D5C5018F728C2, 0xD1ABB290658BC778},
    {"1C587F1C13924FEF", 0x305532286D6F295A, 0x55CB3774D13EF201},
    {"0101010101010101", 0x0123456789ABCDEF, 0xFA34EC4847B268B2},
    {"1F1F1F1F0E0E0E0E", 0x0123456789ABCDEF, 0xA790795108EA3CAE},
    {"E0FEE0FEF1FEF1FE", 0x0123456789ABCDEF, 0xC39E072D9FAC631D},
    {"0000000000000000", 0xFFFFFFFFFFFFFFFF, 0x014933E0CDAFF6E4},
    {"FFFFFFFFFFFFFFFF", 0x0000000000000000, 0xF21E9A77B71C49BC},
    {"0123456789ABCDEF", 0x0000000000000000, 0x245946885754369A},
    {"FEDCBA9876543210", 0xFFFFFFFFFFFFFFFF, 0x6B5C5A9C5D9E0A5A},
};

// The published variable-key-length vectors: the first 1..24 bytes of this key on one block.
const char* const kLongKey = "F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677";
const std::uint64_t kLongKeyPlain = 0xFEDCBA9876543210;
const std::uint64_t kLongKeyCipher[24] = {
    0xF9AD597C49DB005E, 0xE91D21C1D961A6D6, 0xE9C2B70A1BC65CF3, 0xBE1E639408640F05, 0xB39E44481BDB1E6E,
    0x9457AA83B1928C0D, 0x8BB77032F960629D, 0xE87A244E2CC85E82, 0x15750E7A4F4EC577, 0x122BA70B3AB64AE0,
    0x3A833C9AFFC537F6, 0x9409DA87A90F6BF2, 0x884F80625060B8B4, 0x1F85031C19E11968, 0x79D9373A714CA34F,
    0x93142887EE3BE15C, 0x03429E838CE2D14B, 0xA4299E27469FF67B, 0xAFD5AED1C1BC96A8, 0x10851C0E3858DA9F,
    0xE6F51ED79B9DB21F, 0x64A6E14AFD36B46F, 0x80C7D7D45A5479AD, 0x05044B62FA52D080,
};

}  // namespace

TEST(Blowfish, PublishedVectorsEncryptAndDecrypt) {
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(v.key);
        Blowfish bf;
        ASSERT_TRUE(bf.SetKey(Bytes(v.key)));
        EXPECT_EQ(Encrypt(bf, v.plain), v.cipher);
        auto l = static_cast<std::uint32_t>(v.cipher >> 32);
        auto r = static_cast<std::uint32_t>(v.cipher);
        bf.DecryptWords(l, r);
        EXPECT_EQ((std::uint64_t{l} << 32) | r, v.plain);
    }
}

TEST(Blowfish, PublishedVariableKeyLengthVectors) {
    const std::vector<std::uint8_t> key = Bytes(kLongKey);
    for (std::size_t n = 1; n <= 24; ++n) {
        SCOPED_TRACE(n);
        Blowfish bf;
        ASSERT_TRUE(bf.SetKey({key.data(), n}));
        EXPECT_EQ(Encrypt(bf, kLongKeyPlain), kLongKeyCipher[n - 1]);
    }
}

TEST(Blowfish, BlockBytesAreBigEndianWords) {
    Blowfish bf;
    ASSERT_TRUE(bf.SetKey(Bytes("FEDCBA9876543210")));
    QByteArray block = QByteArray::fromHex("0123456789ABCDEF");
    auto* data = reinterpret_cast<std::uint8_t*>(block.data());
    bf.EncryptBlock(data);
    EXPECT_EQ(block.toHex().toUpper(), QByteArray("0ACEAB0FC6A0A28D"));
    bf.DecryptBlock(data);
    EXPECT_EQ(block.toHex().toUpper(), QByteArray("0123456789ABCDEF"));
}

TEST(Blowfish, KeyLengthLimits) {
    // 56 bytes is the longest key; the value was computed with OpenSSL's Blowfish.
    std::vector<std::uint8_t> key56(56);
    for (std::size_t i = 0; i < key56.size(); ++i) key56[i] = static_cast<std::uint8_t>(i + 1);
    Blowfish bf;
    ASSERT_TRUE(bf.SetKey(key56));
    EXPECT_EQ(Encrypt(bf, 0x0123456789ABCDEF), 0xD08F329BFCFD1564u);

    // A longer key is refused and the schedule made before stays.
    std::vector<std::uint8_t> key57(57, 0x5A);
    EXPECT_FALSE(bf.SetKey(key57));
    EXPECT_EQ(Encrypt(bf, 0x0123456789ABCDEF), 0xD08F329BFCFD1564u);

    // An empty key XORs nothing into the P-array: the same schedule as a key of zero bytes.
    Blowfish empty;
    ASSERT_TRUE(empty.SetKey({}));
    EXPECT_EQ(Encrypt(empty, 0), 0x4EF997456198DD78u);
}

TEST(Base64, PublishedVectorsAndPadding) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : cases) {
        EXPECT_EQ(Base64Encode(QByteArray(plain)), QLatin1String(encoded));
        EXPECT_EQ(Base64Decode(QString::fromLatin1(encoded)), QByteArray(plain));
    }
    // Both ends of the alphabet, and every byte value through a round trip.
    EXPECT_EQ(Base64Encode(QByteArray("\xFB\xFF\xBF", 3)), QStringLiteral("+/+/"));
    QByteArray all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    const QString text = Base64Encode(all);
    EXPECT_FALSE(text.contains(u'\n'));
    EXPECT_EQ(Base64Decode(text), all);
}

TEST(Base64, DecodingOfIrregularText) {
    EXPECT_EQ(Base64Decode(u"Zm8"), QByteArray("fo"));     // padding left out
    EXPECT_EQ(Base64Decode(u"Zm9vY"), QByteArray("foo"));  // a lone last character holds no byte
    EXPECT_EQ(Base64Decode(u"Zg=="), QByteArray("f"));
    EXPECT_EQ(Base64Decode(u"Zg="), QByteArray("f"));
    EXPECT_FALSE(Base64Decode(u"Zm9v\nYmFy").has_value());  // no line breaks
    EXPECT_FALSE(Base64Decode(u"Zm9v!").has_value());
    EXPECT_FALSE(Base64Decode(u"Zg==Zg==").has_value());  // data after the padding
    EXPECT_FALSE(Base64Decode(u"Zm9v가").has_value());
    EXPECT_FALSE(Base64Decode(QString(QChar(0x0100 + 'A'))).has_value());  // not read as "A"
}
