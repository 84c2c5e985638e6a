// The FTP client against two real FTP servers started by each test on 127.0.0.1: pyftpdlib (a user
// and a password) and vsftpd (anonymous, names kept byte for byte).
#include "support/FtpServers.h"
#include "support/ScriptedMessageBoxes.h"
#include "transfer/clsFTP.h"
#include "util/core/Ansi.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTcpServer>

#include <unistd.h>
#include <csignal>
#include <memory>
#include <tuple>
#include <vector>

using pelio::test::FtpServer;
using pelio::test::PyFtpServer;
using pelio::test::ReadFileBytes;
using pelio::test::TempFolder;
using pelio::test::VsFtpServer;
using pelio::test::WriteFileBytes;
using pelio::transfer::clsFTP;
using pelio::transfer::FtpLimits;

namespace {

constexpr int kChunk = clsFTP::kChunkBytes;

struct Event {
    qint32 current, total, speed;
};

// Records the progress events of a client.
struct Events {
    explicit Events(clsFTP& ftp) {
        QObject::connect(&ftp, &clsFTP::FileTransferProgress, [this](qint32 c, qint32 t, qint32 s) {
            list.push_back({c, t, s});
        });
    }
    std::vector<std::pair<qint32, qint32>> Counts() const {
        std::vector<std::pair<qint32, qint32>> counts;
        for (const Event& e : list) counts.emplace_back(e.current, e.total);
        return counts;
    }
    std::vector<Event> list;
};

QByteArray Pattern(qint64 size, int seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = 2463534242u + quint32(seed);
    for (char& b : bytes) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        b = char(x);
    }
    return bytes;
}

enum class Server { PyFtpd, VsFtpd, VsFtpdTlsOnly };

std::unique_ptr<FtpServer> StartServer(Server kind) {
    if (kind == Server::VsFtpd) return std::make_unique<VsFtpServer>();
    if (kind == Server::VsFtpdTlsOnly) return std::make_unique<VsFtpServer>(pelio::test::FtpTls{true, true});
    return std::make_unique<PyFtpServer>();
}

}  // namespace

// Every operation, on both servers, in active and in passive mode, and over TLS where the server
// takes nothing else.
class FtpEveryOperation : public ::testing::TestWithParam<std::tuple<Server, bool>> {};

TEST_P(FtpEveryOperation, Works) {
    const auto [kind, active] = GetParam();
    const bool vsftpd = kind != Server::PyFtpd;
    const std::unique_ptr<FtpServer> server = StartServer(kind);
    ASSERT_TRUE(server->ok()) << server->name().toStdString();
    TempFolder local;
    const QByteArray content = Pattern(3 * kChunk + 1000, 1);
    WriteFileBytes(local.file(QStringLiteral("up.bin")), content);

    clsFTP ftp;
    ftp.SetMode(active);
    ASSERT_TRUE(ftp.OpenConnection(server->address(), server->user(), server->password()))
        << ftp.LastErrorMessage().toStdString();
    const QString login = ftp.FTPDirectory();
    EXPECT_FALSE(login.isEmpty());
    EXPECT_EQ(ftp.Encrypted(), kind == Server::VsFtpdTlsOnly);

    // A folder, entered; the current directory is the object's own from then on.
    ASSERT_TRUE(ftp.CreateFTPDirectory(QStringLiteral("drop box"))) << ftp.LastErrorMessage().toStdString();
    EXPECT_EQ(ftp.FTPDirectory(), login);
    ftp.SetLastErrorMessage(QString());
    ftp.SetFTPDirectory(QStringLiteral("drop box"));
    ASSERT_TRUE(ftp.LastErrorMessage().isEmpty()) << ftp.LastErrorMessage().toStdString();
    EXPECT_EQ(ftp.FTPDirectory(), QDir::cleanPath(login + QStringLiteral("/drop box")));
    ftp.SetFTPDirectory(QStringLiteral("no such folder"));
    EXPECT_TRUE(ftp.LastErrorMessage().startsWith(QStringLiteral("FtpSetCurrentDirectory()")) ||
                ftp.LastErrorMessage().startsWith(QStringLiteral("5")))
        << ftp.LastErrorMessage().toStdString();
    EXPECT_EQ(ftp.FTPDirectory(), QDir::cleanPath(login + QStringLiteral("/drop box")));

    // Chunked upload and download with their events.
    Events events(ftp);
    ASSERT_TRUE(ftp.FTPUploadFile(local.file(QStringLiteral("up.bin")), QStringLiteral("up.bin")))
        << ftp.LastErrorMessage().toStdString();
    const qint32 total = qint32(content.size());
    using Counts = std::vector<std::pair<qint32, qint32>>;
    EXPECT_EQ(events.Counts(),
              (Counts{{kChunk, total}, {2 * kChunk, total}, {3 * kChunk, total}, {total, total}}));
    EXPECT_EQ(ftp.GetFTPFileSize(QStringLiteral("up.bin")), total);
    events.list.clear();
    ASSERT_TRUE(ftp.FTPDownloadFile(local.file(QStringLiteral("down.bin")), QStringLiteral("up.bin")))
        << ftp.LastErrorMessage().toStdString();
    EXPECT_EQ(ReadFileBytes(local.file(QStringLiteral("down.bin"))), content);
    EXPECT_EQ(events.Counts(),
              (Counts{{kChunk, total}, {2 * kChunk, total}, {3 * kChunk, total}, {total, total}}));

    // Whole-file transfers, rename, delete, remove the folder.
    events.list.clear();
    ASSERT_TRUE(ftp.SimpleFTPPutFile(local.file(QStringLiteral("up.bin")), QStringLiteral("simple.bin")));
    ASSERT_TRUE(ftp.SimpleFTPGetFile(local.file(QStringLiteral("simple.bin")), QStringLiteral("simple.bin")));
    EXPECT_EQ(ReadFileBytes(local.file(QStringLiteral("simple.bin"))), content);
    EXPECT_TRUE(events.list.empty());
    ASSERT_TRUE(ftp.RenameFTPFile(QStringLiteral("simple.bin"), QStringLiteral("renamed.bin")));
    EXPECT_EQ(ftp.GetFTPFileSize(QStringLiteral("simple.bin")), -1);
    EXPECT_EQ(ftp.GetFTPFileSize(QStringLiteral("renamed.bin")), total);
    ASSERT_TRUE(ftp.DeleteFTPFile(QStringLiteral("renamed.bin")));
    ASSERT_TRUE(ftp.DeleteFTPFile(QStringLiteral("up.bin")));
    EXPECT_FALSE(ftp.DeleteFTPFile(QStringLiteral("up.bin")));  // gone: the server's refusal is the message
    EXPECT_TRUE(ftp.LastErrorMessage().startsWith(QStringLiteral("5")))
        << ftp.LastErrorMessage().toStdString();
    EXPECT_EQ(ftp.LastFailure().kind, pelio::web::NetError::ServerRefused);
    ftp.SetFTPDirectory(QStringLiteral(".."));
    EXPECT_EQ(ftp.FTPDirectory(), login);
    ASSERT_TRUE(ftp.RemoveFTPDirectory(QStringLiteral("drop box"))) << ftp.LastErrorMessage().toStdString();
    EXPECT_FALSE(QFileInfo::exists(server->root() + QStringLiteral("/drop box")));

    // ASCII transfers: the server stores its own line ends, the client gives back the local ones.
    WriteFileBytes(local.file(QStringLiteral("text.txt")), "first\nsecond\n");
    ftp.SetTransferType(clsFTP::kTypeAscii);
    ASSERT_TRUE(ftp.FTPUploadFile(local.file(QStringLiteral("text.txt")), QStringLiteral("text.txt")));
    ASSERT_TRUE(ftp.FTPDownloadFile(local.file(QStringLiteral("back.txt")), QStringLiteral("text.txt")))
        << ftp.LastErrorMessage().toStdString();
    EXPECT_EQ(ReadFileBytes(local.file(QStringLiteral("back.txt"))), "first\nsecond\n");
    // One login for all of it, refused commands included.
    if (!vsftpd) {
        EXPECT_EQ(server->Log().count(QStringLiteral("logged in.")), 1) << server->Log().toStdString();
    }
    ftp.CloseConnection();
    EXPECT_TRUE(ftp.FTPDirectory().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(BothServersBothModes, FtpEveryOperation,
                         ::testing::Combine(::testing::Values(Server::PyFtpd, Server::VsFtpd,
                                                              Server::VsFtpdTlsOnly),
                                            ::testing::Bool()),
                         [](const auto& param) {
                             const Server kind = std::get<0>(param.param);
                             return std::string(kind == Server::PyFtpd   ? "pyftpdlib"
                                                : kind == Server::VsFtpd ? "vsftpd"
                                                                         : "vsftpdTls") +
                                    (std::get<1>(param.param) ? "Active" : "Passive");
                         });

TEST(FtpClient, EdgesOfSizesNamesAndErrors) {
    PyFtpServer server;
    ASSERT_TRUE(server.ok());
    TempFolder local;
    clsFTP ftp;
    Events events(ftp);

    // A wrong password.
    EXPECT_FALSE(ftp.OpenConnection(server.address(), server.user(), QStringLiteral("wrong")));
    EXPECT_TRUE(ftp.LastErrorMessage().startsWith(QStringLiteral("InternetConnect() Error - Code: ")))
        << ftp.LastErrorMessage().toStdString();
    EXPECT_EQ(ftp.LastFailure().kind, pelio::web::NetError::ServerRefused);
    ASSERT_TRUE(ftp.OpenConnection(server.address(), server.user(), server.password()));

    // An empty file: one event (0, 0, 0) and an empty remote file, which cannot be fetched in chunks.
    WriteFileBytes(local.file(QStringLiteral("empty")), QByteArray());
    ASSERT_TRUE(ftp.FTPUploadFile(local.file(QStringLiteral("empty")), QStringLiteral("empty")));
    ASSERT_EQ(events.list.size(), 1u);
    EXPECT_EQ(std::make_tuple(events.list[0].current, events.list[0].total, events.list[0].speed),
              std::make_tuple(0, 0, 0));
    EXPECT_EQ(QFileInfo(server.root() + QStringLiteral("/empty")).size(), 0);
    EXPECT_FALSE(ftp.FTPDownloadFile(local.file(QStringLiteral("got")), QStringLiteral("empty")));
    EXPECT_EQ(ftp.SimpleLastErrorMessage(), QStringLiteral("FTP File Doesn't Exist"));

    // Exactly k chunks: k chunk events, then the last one, equal to the k-th.
    events.list.clear();
    WriteFileBytes(local.file(QStringLiteral("k")), Pattern(2 * kChunk, 2));
    ASSERT_TRUE(ftp.FTPUploadFile(local.file(QStringLiteral("k")), QStringLiteral("k")));
    using Counts = std::vector<std::pair<qint32, qint32>>;
    EXPECT_EQ(events.Counts(),
              (Counts{{kChunk, 2 * kChunk}, {2 * kChunk, 2 * kChunk}, {2 * kChunk, 2 * kChunk}}));

    // Blanks match any one character; a missing file is -1 and leaves the error texts alone.
    WriteFileBytes(server.root() + QStringLiteral("/a b.txt"), "12345");
    EXPECT_EQ(ftp.GetFTPFileSize(QStringLiteral("a b.txt")), 5);
    EXPECT_EQ(ftp.GetFTPFileSize(QStringLiteral("a?b.txt")), 5);
    EXPECT_EQ(ftp.GetFTPFileSize(QStringLiteral("a*")), 5);
    ftp.SetLastErrorMessage(QStringLiteral("as it was"));
    EXPECT_EQ(ftp.GetFTPFileSize(QStringLiteral("missing.txt")), -1);
    EXPECT_EQ(ftp.LastErrorMessage(), QStringLiteral("as it was"));
    EXPECT_FALSE(ftp.FTPDownloadFile(local.file(QStringLiteral("got")), QStringLiteral("missing.txt")));
    EXPECT_EQ(ftp.SimpleLastErrorMessage(), QStringLiteral("FTP File Doesn't Exist"));
    EXPECT_FALSE(QFileInfo::exists(local.file(QStringLiteral("got"))));

    // A 5 GiB file (sparse on the server's disk): the low 32 bits of its size.
    {
        QFile big(server.root() + QStringLiteral("/big.img"));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(5LL << 30));
    }
    EXPECT_EQ(ftp.GetFTPFileSize(QStringLiteral("big.img")), qint32(1 << 30));

    // A name that would end the command line early never reaches the server.
    EXPECT_FALSE(ftp.CreateFTPDirectory(QStringLiteral("x\r\nDELE k")));
    EXPECT_EQ(ftp.GetFTPFileSize(QStringLiteral("k")), 2 * kChunk);
    // Empty names fail without a word.
    ftp.SetLastErrorMessage(QString());
    EXPECT_FALSE(ftp.FTPUploadFile(QStringLiteral(" "), QStringLiteral("x")));
    EXPECT_FALSE(ftp.FTPDownloadFile(local.file(QStringLiteral("x")), QString()));
    EXPECT_TRUE(ftp.LastErrorMessage().isEmpty());
}

TEST(FtpClient, KoreanNamesCrossAsCodePage949) {
    VsFtpServer server;  // keeps the bytes of a name as sent
    ASSERT_TRUE(server.ok());
    TempFolder local;
    const QString name = QStringLiteral("똠방각하 뷁.txt");
    WriteFileBytes(local.file(QStringLiteral("up.txt")), "안녕");
    clsFTP ftp;
    ASSERT_TRUE(ftp.OpenConnection(server.address(), server.user(), server.password()));
    ASSERT_TRUE(ftp.FTPUploadFile(local.file(QStringLiteral("up.txt")), name));
    const QByteArray onDisk = QFile::encodeName(server.root()) + '/' + pelio::util::ToAnsi(name);
    EXPECT_EQ(::access(onDisk.constData(), F_OK), 0);
    EXPECT_EQ(ftp.GetFTPFileSize(name), 6);
    ASSERT_TRUE(ftp.FTPDownloadFile(local.file(QStringLiteral("back.txt")), name));
    EXPECT_EQ(ReadFileBytes(local.file(QStringLiteral("back.txt"))), "안녕");
}

TEST(FtpClient, ServersThatFailMidTransferEndItWithinTheBounds) {
    TempFolder local;
    const QByteArray content = Pattern(24 << 20, 3);
    WriteFileBytes(local.file(QStringLiteral("big.bin")), content);
    const QByteArray digest = QCryptographicHash::hash(content, QCryptographicHash::Sha256);

    // The server dies during an upload: false, the error recorded, the local file untouched.
    {
        PyFtpServer server;
        ASSERT_TRUE(server.ok());
        clsFTP ftp(nullptr, FtpLimits{2000, 2000, nullptr});
        ASSERT_TRUE(ftp.OpenConnection(server.address(), server.user(), server.password()));
        QObject::connect(&ftp, &clsFTP::FileTransferProgress, [&](qint32 current, qint32, qint32) {
            if (current == kChunk) ::kill(pid_t(server.pid()), SIGKILL);
        });
        EXPECT_FALSE(ftp.FTPUploadFile(local.file(QStringLiteral("big.bin")), QStringLiteral("big.bin")));
        EXPECT_FALSE(ftp.LastErrorMessage().isEmpty());
        EXPECT_EQ(QCryptographicHash::hash(ReadFileBytes(local.file(QStringLiteral("big.bin"))),
                                           QCryptographicHash::Sha256),
                  digest);
    }
    // The server stops sending during a download: it fails after the stall limit, and the file that
    // was there keeps its content.
    {
        PyFtpServer server;
        ASSERT_TRUE(server.ok());
        ASSERT_TRUE(
            QFile::copy(local.file(QStringLiteral("big.bin")), server.root() + QStringLiteral("/big.bin")));
        WriteFileBytes(local.file(QStringLiteral("target.bin")), "old content");
        clsFTP ftp(nullptr, FtpLimits{2000, 1000, nullptr});
        ASSERT_TRUE(ftp.OpenConnection(server.address(), server.user(), server.password()));
        QObject::connect(&ftp, &clsFTP::FileTransferProgress, [&](qint32 current, qint32, qint32) {
            if (current == kChunk) ::kill(pid_t(server.pid()), SIGSTOP);
        });
        EXPECT_FALSE(
            ftp.FTPDownloadFile(local.file(QStringLiteral("target.bin")), QStringLiteral("big.bin")));
        EXPECT_EQ(ftp.LastFailure().kind, pelio::web::NetError::TimedOut)
            << ftp.LastErrorMessage().toStdString();
        EXPECT_EQ(ReadFileBytes(local.file(QStringLiteral("target.bin"))), "old content");
        EXPECT_EQ(QDir(local.path()).entryList(QDir::Files).size(), 2);  // no temporary file left
    }
    // A server that takes the connection but never greets: the connection attempt ends.
    {
        QTcpServer mute;
        ASSERT_TRUE(mute.listen(QHostAddress::LocalHost, 0));
        clsFTP ftp(nullptr, FtpLimits{1000, 30000, nullptr});
        EXPECT_FALSE(ftp.OpenConnection(QStringLiteral("127.0.0.1:%1").arg(mute.serverPort()),
                                        QStringLiteral("u"), QStringLiteral("p")));
        EXPECT_EQ(ftp.LastFailure().kind, pelio::web::NetError::TimedOut)
            << ftp.LastErrorMessage().toStdString();
        EXPECT_TRUE(ftp.LastErrorMessage().startsWith(QStringLiteral("InternetConnect() Error - Code: ")));
    }
}

TEST(FtpClient, AProgressHandlerCannotPullTheConnectionAway) {
    PyFtpServer server;
    ASSERT_TRUE(server.ok());
    TempFolder local;
    WriteFileBytes(local.file(QStringLiteral("f")), Pattern(8 * kChunk, 4));
    clsFTP ftp;
    ASSERT_TRUE(ftp.OpenConnection(server.address(), server.user(), server.password()));
    int nested = -1;
    const auto handler =
        QObject::connect(&ftp, &clsFTP::FileTransferProgress, [&](qint32 current, qint32, qint32) {
            if (current != 2 * kChunk) return;
            nested = ftp.GetFTPFileSize(QStringLiteral("f"));  // another operation meanwhile: refused
            ftp.CloseConnection();                             // ends the transfer, then the connection
        });
    EXPECT_FALSE(ftp.FTPUploadFile(local.file(QStringLiteral("f")), QStringLiteral("f")));
    EXPECT_EQ(nested, -2);
    EXPECT_TRUE(ftp.FTPDirectory().isEmpty());  // closed
    QObject::disconnect(handler);
    ASSERT_TRUE(ftp.OpenConnection(server.address(), server.user(), server.password()));
    EXPECT_TRUE(ftp.FTPUploadFile(local.file(QStringLiteral("f")), QStringLiteral("f")))
        << ftp.LastErrorMessage().toStdString();
}
