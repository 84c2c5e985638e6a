// The agent's key file, its pin and the TLS tunnel on their own, without the RFB libraries.
#include "secure/AgentKey.h"
#include "secure/Pin.h"
#include "secure/TlsTunnel.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

using pelio::components::secure::AgentKey;
using pelio::components::secure::ParsePin;
using pelio::components::secure::Pin;
using pelio::components::secure::TlsTunnel;

namespace {

// Two ends of a TCP connection on 127.0.0.1.
bool LoopbackPair(int& client, int& server) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool ok = bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                    listen(listener, 1) == 0 &&
                    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) == 0 &&
                    connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    server = ok ? accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    close(listener);
    return server >= 0;
}

std::vector<char> Pattern(std::size_t size, int seed) {
    std::vector<char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = char((i * 7 + std::size_t(seed)) % 251);
    return bytes;
}

bool WriteAll(int fd, const std::vector<char>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += std::size_t(n);
    }
    return true;
}

// Up to `size` bytes, fewer when the stream ends or nothing comes for `ms`.
std::vector<char> Read(int fd, std::size_t size, int ms = 20000) {
    std::vector<char> bytes(size);
    std::size_t done = 0;
    while (done < size) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0) break;
        const ssize_t n = recv(fd, bytes.data() + done, size - done, 0);
        if (n <= 0) break;
        done += std::size_t(n);
    }
    bytes.resize(done);
    return bytes;
}

// A client and a server tunnel over one loopback connection; false when either failed.
bool Tunnels(const AgentKey& key, const Pin& pin, std::unique_ptr<TlsTunnel>& client,
             std::unique_ptr<TlsTunnel>& server, TlsTunnel::Failure& clientFailure,
             TlsTunnel::Failure& serverFailure) {
    int c = -1, s = -1;
    if (!LoopbackPair(c, s)) return false;
    std::thread accepting([&] { server = TlsTunnel::Accept(s, key, {}, &serverFailure); });
    client = TlsTunnel::Connect(c, pin, {}, &clientFailure);
    accepting.join();
    return client && server;
}

}  // namespace

TEST(SecurePin, TakesOnlyTheExactFormAndWritesItBack) {
    Pin zero;
    EXPECT_EQ(zero.ToString(), QStringLiteral("sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="));
    Pin pin;
    for (std::size_t i = 0; i < pin.sha256.size(); ++i) pin.sha256[i] = std::uint8_t(0xf0 + i * 37);
    const QString text = pin.ToString();
    ASSERT_EQ(ParsePin(text), pin);
    EXPECT_EQ(ParsePin(text.toStdString()), pin);

    const QString body = text.mid(8);
    const QStringList wrong{
        QString(),
        QStringLiteral("sha256//"),
        QStringLiteral("SHA256//") + body,
        QStringLiteral("sha256/") + body,
        QStringLiteral(" ") + text,
        text + QStringLiteral("\n"),
        text + QStringLiteral(";") + text,                                      // one pin only
        text.left(text.size() - 1),                                             // no padding
        text.left(text.size() - 2) + QStringLiteral("=="),                      // 31 bytes
        QStringLiteral("sha256//") + QString(42, u'A') + QStringLiteral("B="),  // a bit beyond 32 bytes
        QString(text).replace(u'/', u'_').replace(u'+', u'-'),                  // the URL alphabet
        QStringLiteral("sha256//") + QString(42, u'A') + QChar(0xff21) + u'=',  // a wide "A"
    };
    for (const QString& w : wrong) EXPECT_FALSE(ParsePin(w)) << w.toStdString();
    EXPECT_FALSE(ParsePin(std::string_view("sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\0A=", 52)));
}

TEST(SecureKeyFile, IsWrittenOnceForItsOwnerAndReadBackWithItsPin) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("agent.key"));
    QString error;
    const AgentKey key = AgentKey::Generate(&error);
    ASSERT_TRUE(key.IsValid()) << error.toStdString();
    ASSERT_TRUE(key.Save(path, &error)) << error.toStdString();
    EXPECT_EQ(QFileInfo(path).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
              QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(AgentKey::Load(path).GetPin(), key.GetPin());

    // An existing key file is never replaced.
    EXPECT_FALSE(AgentKey::Generate().Save(path, &error));
    EXPECT_EQ(AgentKey::Load(path).GetPin(), key.GetPin());

    // A key with the certificate of another key is no key file.
    const QString otherPath = dir.filePath(QStringLiteral("other.key"));
    ASSERT_TRUE(AgentKey::Generate().Save(otherPath));
    QFile own(path), other(otherPath);
    ASSERT_TRUE(own.open(QIODevice::ReadOnly) && other.open(QIODevice::ReadOnly));
    const QByteArray marker = "-----BEGIN CERTIFICATE-----";
    const QByteArray ownText = own.readAll(), otherText = other.readAll();
    QFile mixed(dir.filePath(QStringLiteral("mixed.key")));
    ASSERT_TRUE(mixed.open(QIODevice::WriteOnly));
    mixed.write(ownText.left(ownText.indexOf(marker)) + otherText.mid(otherText.indexOf(marker)));
    mixed.close();
    EXPECT_FALSE(AgentKey::Load(mixed.fileName(), &error).IsValid());
    EXPECT_FALSE(AgentKey::Load(dir.filePath(QStringLiteral("missing.key"))).IsValid());
}

TEST(TlsTunnel, RelaysLargeStreamsWholeBothWaysAndEndsAfterTheLastByte) {
    const AgentKey key = AgentKey::Generate();
    std::unique_ptr<TlsTunnel> client, server;
    TlsTunnel::Failure clientFailure{}, serverFailure{};
    ASSERT_TRUE(Tunnels(key, key.GetPin(), client, server, clientFailure, serverFailure));
    EXPECT_EQ(client->CheckCode(), server->CheckCode());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{3} \\d{3}$")).match(client->CheckCode()).hasMatch());
    const int a = client->TakePlainFd(), b = server->TakePlainFd();

    // Both ways at once, more than any buffer on the way holds.
    const std::vector<char> up = Pattern(12 << 20, 1), down = Pattern(12 << 20, 2);
    std::vector<char> gotUp, gotDown;
    std::thread writer([&] { EXPECT_TRUE(WriteAll(b, down)); });
    std::thread readerA([&] { gotDown = Read(a, down.size()); });
    std::thread readerB([&] { gotUp = Read(b, up.size()); });
    EXPECT_TRUE(WriteAll(a, up));
    writer.join();
    readerA.join();
    readerB.join();
    EXPECT_TRUE(gotUp == up);
    EXPECT_TRUE(gotDown == down);

    // What was written just before the close still arrives, then the end of the stream.
    const std::vector<char> last = Pattern(300000, 3);
    EXPECT_TRUE(WriteAll(a, last));
    close(a);
    EXPECT_TRUE(Read(b, last.size() + 1) == last);
    EXPECT_TRUE(client->WaitFinished(10000));
    EXPECT_TRUE(server->WaitFinished(10000));
    close(b);

    // Another session: another check code (a chance of one in a million to fail falsely).
    std::unique_ptr<TlsTunnel> client2, server2;
    ASSERT_TRUE(Tunnels(key, key.GetPin(), client2, server2, clientFailure, serverFailure));
    EXPECT_NE(client2->CheckCode(), client->CheckCode());
}
