#include "transfer/clsFTP.h"

#include "platform/Clock.h"
#include "transfer/TransferLog.h"
#include "util/core/Ansi.h"
#include "util/core/PartFile.h"
#include "web/HttpTransport.h"

#include <QFile>

#include <curl/curl.h>

#include <algorithm>
#include <limits>

namespace pelio::transfer {

namespace {

// What the progress event carries: a 32-bit count, held at its largest value beyond that.
qint32 EventValue(qint64 value) {
    return qint32(std::clamp<qint64>(value, 0, std::numeric_limits<qint32>::max()));
}

// "?" matches any one character, "*" any run of characters; everything else itself.
bool WildcardMatch(QStringView pattern, QStringView text) {
    qsizetype p = 0, t = 0, starP = -1, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starT = t;
        } else if (starP >= 0) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

// A name that would end a command line early could smuggle commands to the server.
bool SafeName(const QByteArray& name) {
    return !name.contains('\r') && !name.contains('\n') && !name.contains('\0');
}

const QString kUnsafeName = QStringLiteral("The name holds a line break or a NUL character");

}  // namespace

// Marks the object busy for one operation; a close asked for meanwhile happens at its end.
struct clsFTP::Streaming {
    explicit Streaming(clsFTP& ftp) : f(ftp) { f.m_busy = true; }
    ~Streaming() {
        f.m_busy = false;
        if (f.m_closeRequested) {
            f.m_closeRequested = false;
            f.CloseConnection();
        }
    }
    clsFTP& f;
};

clsFTP::clsFTP(QObject* parent, const FtpLimits& limits) : QObject(parent), m_limits(limits) {}

clsFTP::~clsFTP() {
    m_closeRequested = false;
    m_session.Close();
}

bool clsFTP::Begin() {
    if (!m_busy) return true;
    RecordError(-1, QStringLiteral("clsFTP"), QStringLiteral("Another FTP operation is running"));
    return false;
}

void clsFTP::RecordError(int code, const QString& operation, const QString& ownText,
                         const QString& serverReply) {
    QString text = ownText;
    if (const qsizetype nul = text.indexOf(QChar(0)); nul >= 0) text.truncate(nul);
    text.remove(QStringLiteral("\r\n"));
    text = text.trimmed();
    m_lastError = operation + QStringLiteral("() Error - Code: ") + QString::number(code) +
                  QStringLiteral(" Message: ") + text;
    m_simpleError = text;
    if (!serverReply.isEmpty()) m_lastError = serverReply.left(2048);
    m_failure = code == -1 ? web::NetFailure{web::NetError::Other, text} : web::CurlFailure(code, text);
    qCDebug(lcTransfer) << m_lastError;
}

void clsFTP::RecordResult(const FtpSession::Result& result, const QString& operation) {
    // The server's own reply says best what it refused, except for a refused login, which keeps the
    // client's wording.
    const bool refusedByServer = web::NetErrorOfCurlCode(result.code) == web::NetError::ServerRefused &&
                                 result.code != CURLE_LOGIN_DENIED && result.replyCode >= 400;
    RecordError(result.code, operation, result.text, refusedByServer ? result.reply : QString());
}

QByteArray clsFTP::RemotePath(const QString& name) const {
    return ResolveFtpPath(m_directory.isEmpty() ? QByteArray("/") : m_directory, util::ToAnsi(name));
}

qint32 clsFTP::Speed(qint64 bytes, qint64 startMs) const {
    const platform::Clock& clock = m_limits.clock ? *m_limits.clock : platform::DefaultClock();
    const double seconds = double(clock.NowMs() - startMs + 1) / 1000.0;
    return EventValue(qRound64(double(bytes) / 1024.0 / seconds));
}

bool clsFTP::OpenConnection(const QString& sServer, const QString& sUser, const QString& sPassword) {
    if (!Begin()) return false;
    CloseConnection();
    Streaming busy(*this);
    const FtpSession::Result result =
        m_session.Open(sServer, util::ToAnsi(sUser), util::ToAnsi(sPassword), m_active, m_limits, m_tls);
    if (!result.ok()) {
        RecordResult(result, result.code == CURLE_FAILED_INIT ? QStringLiteral("InternetOpen")
                                                              : QStringLiteral("InternetConnect"));
        return false;
    }
    m_directory = m_session.EntryPath();
    return true;
}

void clsFTP::CloseConnection() {
    if (m_busy) {
        m_closeRequested = true;  // the running transfer ends at its next step, then the connection
        return;
    }
    m_session.Close();
    m_directory.clear();
}

bool clsFTP::RunCommand(const QByteArray& command, const QString& operation, const QList<QString>& names) {
    if (!Begin()) return false;
    Streaming busy(*this);
    FtpSession::Request request;
    request.path = "/";
    request.nobody = true;
    // Absolute paths: libcurl sends the commands before it changes directory.
    QList<QByteArray> paths;
    for (const QString& name : names) {
        paths << RemotePath(name);
        if (!SafeName(util::ToAnsi(name))) {
            RecordError(-1, operation, kUnsafeName);
            return false;
        }
    }
    if (command == "RNFR")
        request.commands = {"RNFR " + paths.value(0), "RNTO " + paths.value(1)};
    else
        request.commands = {command + ' ' + paths.value(0)};
    const FtpSession::Result result = m_session.Perform(request);
    if (!result.ok()) RecordResult(result, operation);
    return result.ok();
}

bool clsFTP::RenameFTPFile(const QString& sExisting, const QString& sNewName) {
    return RunCommand("RNFR", QStringLiteral("RenameFTPFile"), {sExisting, sNewName});
}

bool clsFTP::CreateFTPDirectory(const QString& sDirectory) {
    return RunCommand("MKD", QStringLiteral("CreateFTPDirectory"), {sDirectory});
}

bool clsFTP::RemoveFTPDirectory(const QString& sDirectory) {
    return RunCommand("RMD", QStringLiteral("RemoveFTPDirectory"), {sDirectory});
}

bool clsFTP::DeleteFTPFile(const QString& sRemote) {
    return RunCommand("DELE", QStringLiteral("DeleteFTPFile"), {sRemote});
}

QString clsFTP::FTPDirectory() {
    if (!m_session.IsOpen()) {
        RecordError(CURLE_FAILED_INIT, QStringLiteral("FtpGetCurrentDirectory"),
                    QStringLiteral("No connection is open"));
        return QString();
    }
    return util::FromAnsi(m_directory);
}

void clsFTP::SetFTPDirectory(const QString& sDir) {
    if (!Begin()) return;
    Streaming busy(*this);
    const QByteArray path = RemotePath(sDir);
    FtpSession::Request request;
    request.path = path == "/" ? path : path + '/';
    request.nobody = true;
    const FtpSession::Result result = m_session.Perform(request);
    if (result.ok())
        m_directory = path;
    else
        RecordResult(result, QStringLiteral("FtpSetCurrentDirectory"));
}

qint64 clsFTP::StoredFileSize(const QString& sRemote) {
    const QByteArray name = util::ToAnsi(sRemote);
    if (sRemote.isEmpty() || !SafeName(name) || !Begin()) return -1;
    Streaming busy(*this);
    FtpSession::Request size;
    size.path = RemotePath(sRemote);
    size.nobody = true;
    const FtpSession::Result sized = m_session.Perform(size);
    return sized.ok() ? sized.size : -1;
}

qint32 clsFTP::GetFTPFileSize(const QString& sFile) {
    if (!Begin()) return -2;
    Streaming busy(*this);
    QString pattern = sFile;
    pattern.replace(u' ', u'?');
    QByteArray folder = m_directory.isEmpty() ? QByteArray("/") : m_directory;
    if (const qsizetype slash = pattern.lastIndexOf(u'/'); slash >= 0) {
        folder = RemotePath(pattern.left(slash + 1));
        pattern = pattern.mid(slash + 1);
    }
    // A name without wildcards matches only itself: its size is asked for straight away, and only a
    // refusal (no such file, or a directory) needs the listing.
    if (!pattern.contains(u'?') && !pattern.contains(u'*') && SafeName(util::ToAnsi(pattern))) {
        FtpSession::Request size;
        size.path = ResolveFtpPath(folder, util::ToAnsi(pattern));
        size.nobody = true;
        const FtpSession::Result sized = m_session.Perform(size);
        if (sized.ok()) return qint32(quint32(quint64(std::max<qint64>(sized.size, 0)) & 0xFFFFFFFFu));
        if (sized.stalled || sized.aborted || sized.replyCode < 500) {
            RecordResult(sized, QStringLiteral("FtpFindFirstFile"));
            return -2;
        }
    }
    FtpSession::Request list;
    list.path = folder == "/" ? folder : folder + '/';
    list.listNames = true;
    QByteArray names;
    list.write = [&](const char* data, qint64 size) {
        names.append(data, qsizetype(size));
        return names.size() <= (16 << 20);  // a listing larger than this is no drop box
    };
    const FtpSession::Result listed = m_session.Perform(list);
    if (!listed.ok()) {
        // Servers answer a listing of an empty or missing folder with "no files" (450, 550).
        if (!listed.stalled && !listed.aborted && (listed.replyCode == 450 || listed.replyCode == 550))
            return -1;
        RecordResult(listed, QStringLiteral("FtpFindFirstFile"));
        return -2;
    }
    for (QByteArray entry : names.split('\n')) {
        if (entry.endsWith('\r')) entry.chop(1);
        entry = entry.mid(entry.lastIndexOf('/') + 1);  // some servers list "folder/name"
        if (entry.isEmpty() || !WildcardMatch(pattern, util::FromAnsi(entry))) continue;
        FtpSession::Request size;
        size.path = ResolveFtpPath(folder, entry);
        size.nobody = true;  // binary: some servers refuse SIZE in ASCII mode
        const FtpSession::Result sized = m_session.Perform(size);
        if (!sized.ok()) {
            if (sized.replyCode >= 500 && !sized.stalled) return 0;  // a directory has no size
            RecordResult(sized, QStringLiteral("FtpFindFirstFile"));
            return -2;
        }
        return qint32(quint32(quint64(std::max<qint64>(sized.size, 0)) & 0xFFFFFFFFu));
    }
    return -1;
}

void clsFTP::SetTransferType(int vType) {
    m_transferType = vType;
}

void clsFTP::SetMode(bool bActive) {
    m_active = bActive;
}

bool clsFTP::FTPUploadFile(const QString& sLocal, const QString& sRemote) {
    if (sLocal.trimmed().isEmpty() || sRemote.trimmed().isEmpty()) return false;
    return Upload(sLocal.trimmed(), sRemote.trimmed(), true, QString());
}

bool clsFTP::SimpleFTPPutFile(const QString& sLocal, const QString& sRemote) {
    return Upload(sLocal, sRemote, false, QStringLiteral("SimpleFtpPutFile"));
}

bool clsFTP::FTPDownloadFile(const QString& sLocal, const QString& sRemote) {
    if (sLocal.trimmed().isEmpty() || sRemote.trimmed().isEmpty()) return false;
    return Download(sLocal.trimmed(), sRemote.trimmed(), true, QString());
}

bool clsFTP::SimpleFTPGetFile(const QString& sLocal, const QString& sRemote) {
    return Download(sLocal, sRemote, false, QStringLiteral("SimpleFtpGetFile"));
}

bool clsFTP::Upload(const QString& sLocal, const QString& sRemote, bool withEvents,
                    const QString& simpleName) {
    if (!Begin()) return false;
    const QString failName = withEvents ? QStringLiteral("FTPUploadFile") : simpleName;
    QFile local(sLocal);
    if (!SafeName(util::ToAnsi(sRemote))) {
        RecordError(-1, failName, kUnsafeName);
        return false;
    }
    if (!local.open(QIODevice::ReadOnly)) {
        RecordError(-1, failName, QStringLiteral("The local file cannot be read: ") + sLocal);
        return false;
    }
    Streaming busy(*this);
    const qint64 total = local.size();
    const qint64 fullChunks = total / kChunkBytes;
    const platform::Clock& clock = m_limits.clock ? *m_limits.clock : platform::DefaultClock();
    const qint64 start = clock.NowMs();
    qint64 reported = 0, moved = 0;
    qint32 speed = 0;
    const auto reportChunksUpTo = [&](qint64 bytes) {
        while (reported < fullChunks && (reported + 1) * kChunkBytes <= bytes) {
            ++reported;
            speed = Speed(reported * kChunkBytes, start);
            emit FileTransferProgress(EventValue(reported * kChunkBytes), EventValue(total), speed);
        }
    };

    FtpSession::Request request;
    request.path = RemotePath(sRemote);
    request.ascii = m_transferType == kTypeAscii;
    request.upload = true;
    request.uploadSize = total;
    request.uploadBufferBytes = kChunkBytes;
    request.read = [&](char* buffer, qint64 max) { return local.read(buffer, max); };
    request.progress = [&](qint64 sent) {
        moved = sent;
        if (withEvents) reportChunksUpTo(sent);
        return !m_closeRequested;
    };
    const FtpSession::Result result = m_session.Perform(request);
    if (!result.ok()) {
        const QString operation =
            !withEvents                                ? simpleName
            : moved == 0 && result.replyCode >= 400    ? QStringLiteral("FtpOpenFile:PutFile")
            : moved < fullChunks * qint64(kChunkBytes) ? QStringLiteral("InternetWriteFile")
                                                       : QStringLiteral("InternetWriteFile2");
        RecordResult(result, operation);
        return false;
    }
    if (withEvents) {
        reportChunksUpTo(total);
        if (total % kChunkBytes != 0 || total == 0) speed = Speed(total, start);
        emit FileTransferProgress(EventValue(total), EventValue(total), speed);
    }
    return true;
}

bool clsFTP::Download(const QString& sLocal, const QString& sRemote, bool withEvents,
                      const QString& simpleName) {
    if (!Begin()) return false;
    const QString failName = withEvents ? QStringLiteral("FTPDownloadFile") : simpleName;
    if (!SafeName(util::ToAnsi(sRemote))) {
        RecordError(-1, failName, kUnsafeName);
        return false;
    }
    qint64 size = 0;
    if (withEvents) {
        size = GetFTPFileSize(sRemote);
        if (size < 1) {
            RecordError(-1, failName, QStringLiteral("FTP File Doesn't Exist"));
            return false;
        }
    }
    Streaming busy(*this);
    // The file appears under its name only when whole; an old file stays as it was until then.
    util::PartFile out(sLocal);
    if (!out.Open()) {
        RecordError(-1, failName, QStringLiteral("The local file cannot be written: ") + sLocal);
        return false;
    }
    const qint64 fullChunks = size / kChunkBytes;
    const platform::Clock& clock = m_limits.clock ? *m_limits.clock : platform::DefaultClock();
    const qint64 start = clock.NowMs();
    qint64 received = 0;
    qint32 speed = 0;
    bool localFailed = false;
    QByteArray chunk;
    chunk.reserve(kChunkBytes);

    FtpSession::Request request;
    request.path = RemotePath(sRemote);
    request.ascii = m_transferType == kTypeAscii;
    request.receiveBufferBytes = 4 * kChunkBytes;
    request.write = [&](const char* data, qint64 n) {
        if (!withEvents) {
            received += n;
            localFailed = !out.Write(data, n);
            return !localFailed && !m_closeRequested;
        }
        // A piece completes the chunk that gathers; whole chunks go to the file straight from the
        // library's buffer, several in one write; the rest gathers. One event per chunk.
        qint64 chunks = 0;
        if (!chunk.isEmpty()) {
            const qint64 take = std::min<qint64>(n, kChunkBytes - chunk.size());
            chunk.append(data, qsizetype(take));
            data += take;
            n -= take;
            if (chunk.size() < kChunkBytes) return !m_closeRequested;
            if (!out.Write(chunk.constData(), kChunkBytes)) return !(localFailed = true);
            chunk.clear();
            chunks = 1;
        }
        const qint64 whole = n / kChunkBytes * kChunkBytes;
        if (whole > 0 && !out.Write(data, whole)) return !(localFailed = true);
        chunk.append(data + whole, qsizetype(n - whole));
        chunks += whole / kChunkBytes;
        for (qint64 i = 0; i < chunks; ++i) {
            received += kChunkBytes;
            web::PumpPendingEvents();
            if (m_closeRequested) return false;
            speed = Speed(received, start);
            emit FileTransferProgress(EventValue(received), EventValue(size), speed);
        }
        return !m_closeRequested;
    };
    request.progress = [&](qint64) { return !m_closeRequested; };
    const FtpSession::Result result = m_session.Perform(request);
    const auto fail = [&](int code, const QString& operation, const QString& text) {
        out.Cancel();
        RecordError(code, operation, text);
        return false;
    };
    if (localFailed) return fail(-1, failName, QStringLiteral("The local file cannot be written: ") + sLocal);
    if (!result.ok()) {
        out.Cancel();
        const QString operation =
            !withEvents                                   ? simpleName
            : received == 0 && result.replyCode >= 400    ? QStringLiteral("FtpOpenFile:GetFile")
            : received < fullChunks * qint64(kChunkBytes) ? QStringLiteral("InternetReadFile")
                                                          : QStringLiteral("InternetReadFile2");
        RecordResult(result, operation);
        return false;
    }
    if (!chunk.isEmpty()) {
        if (!out.Write(chunk.constData(), chunk.size()))
            return fail(-1, failName, QStringLiteral("The local file cannot be written: ") + sLocal);
        received += chunk.size();
    }
    // In binary mode the file must be whole; an ASCII transfer changes line ends on the way.
    if (withEvents && m_transferType != kTypeAscii && received != size)
        return fail(-1, QStringLiteral("InternetReadFile2"),
                    QStringLiteral("The transfer ended after %1 of %2 bytes").arg(received).arg(size));
    if (!out.Commit())
        return fail(-1, failName, QStringLiteral("The local file cannot be written: ") + sLocal);
    if (withEvents) {
        if (size % kChunkBytes != 0) speed = Speed(size, start);
        emit FileTransferProgress(EventValue(size), EventValue(size), speed);
    }
    return true;
}

}  // namespace pelio::transfer
