#include "transfer/FileOffer.h"

#include "session/SessionMessages.h"
#include "transfer/FileSend.h"
#include "transfer/TransferLog.h"

#include <QFileInfo>

namespace pelio::transfer {

namespace {

const QString kBusy = QStringLiteral("파일 전송 중입니다. 전송이 완료 후 추가로 전송할 수 있습니다.");
const QString kNotConnected = QStringLiteral("파일 전송은 상담원과 원격지원 중에만 가능합니다.");

}  // namespace

FileOffer::FileOffer(Output& output, SizeOf sizeOf) : m_output(output), m_sizeOf(std::move(sizeOf)) {
    if (!m_sizeOf) m_sizeOf = [](const QString& path) { return QFileInfo(path).size(); };
}

bool FileOffer::MayChoose(bool busy, bool connected) {
    if (Busy(busy)) {
        m_output.TellCustomer(kBusy);
        return false;
    }
    if (!connected) {
        m_output.TellCustomer(kNotConnected);
        return false;
    }
    return true;
}

bool FileOffer::Choose(const QStringList& paths) {
    // An upload accepted while the file dialog was open keeps its files.
    if (m_state == State::Uploading) {
        m_output.TellCustomer(kBusy);
        return false;
    }
    Withdraw();
    const SendChoice choice = CheckFilesToSend(paths, m_sizeOf);
    if (!choice.tooLarge.isEmpty()) {
        m_output.TellCustomer(TooLargeMessage(choice.tooLarge, choice.tooLargeMiB));
        return false;
    }
    if (choice.queue.isEmpty()) return false;
    m_state = State::Offered;
    m_files = choice.queue;
    qCInfo(lcTransfer) << "files offered:" << m_files.size();
    m_output.ShowOfferLine(AnnounceHtml(choice.pathList));
    m_output.SendToAgent(session::FileOfferMessage(choice.names));
    return true;
}

bool FileOffer::Drop(const QStringList& paths, bool busy, bool connected) {
    if (Busy(busy)) {
        m_output.TellCustomer(kBusy);
        return false;
    }
    Withdraw();
    if (!connected) return false;
    return Choose(paths);
}

bool FileOffer::Accept() {
    if (m_state != State::Offered) {
        qCInfo(lcTransfer) << "acceptance ignored: no offer waits for it";
        return false;
    }
    m_state = State::Uploading;
    m_output.StartUpload();
    return true;
}

bool FileOffer::Refuse() {
    if (m_state != State::Offered) {
        qCInfo(lcTransfer) << "refusal ignored: no offer waits for it";
        return false;
    }
    Withdraw();
    return true;
}

void FileOffer::UploadEnded() {
    if (m_state != State::Uploading) return;
    m_state = State::Idle;
    m_files.clear();
}

void FileOffer::Reset() {
    m_state = State::Idle;
    m_files.clear();
}

void FileOffer::Withdraw() {
    if (m_state != State::Offered) return;
    m_state = State::Idle;
    m_files.clear();
}

}  // namespace pelio::transfer
