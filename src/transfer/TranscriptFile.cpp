#include "transfer/TranscriptFile.h"

#include "util/core/TextFiles.h"

#include <sys/stat.h>

namespace pelio::transfer {

namespace {

const QString kBr = QStringLiteral("<br>");
const QString kCrLf = QStringLiteral("\r\n");
// How every transcript ends: the view's body closes, then the document.
const QByteArray kEnding = QByteArrayLiteral("</body></html>");

}  // namespace

TranscriptFile::TranscriptFile(QString path, std::function<QString()> transcript)
    : m_path(std::move(path)), m_transcript(std::move(transcript)) {}

bool TranscriptFile::Append(const QString& piece) {
    // The piece is converted together with the end of the pieces before it, so that a "<br>" begun
    // there gets its line break as in the whole text; that end itself holds no whole "<br>" and comes
    // back unchanged.
    const qsizetype carried = m_tail.size();
    QString text = m_tail + piece;
    m_tail = text.right(kBr.size() - 1);
    if (m_file.isOpen() && !Removed()) {
        text.replace(kBr, kBr + kCrLf, Qt::CaseInsensitive);
        const QByteArray bytes = text.mid(carried).toUtf8() + kEnding;
        if (m_file.seek(m_endingAt) && m_file.write(bytes) == bytes.size() && m_file.flush()) {
            m_endingAt += bytes.size() - kEnding.size();
            return true;
        }
        // Whatever part of the piece reached the file is replaced by the whole transcript.
        m_file.close();
    }
    return Save();
}

bool TranscriptFile::Save() {
    m_file.close();
    if (!util::WriteTextFile(m_path, QChar(0xFEFF) + m_transcript(), false)) return false;
    // The file was replaced: the pieces that follow go into the new one. Should it not open, the next
    // piece writes the whole transcript again.
    OpenAtEnding();
    return true;
}

bool TranscriptFile::Removed() const {
    // A file removed from its folder while open would take the lines where nobody sees them.
    struct stat st {};
    return ::fstat(m_file.handle(), &st) != 0 || st.st_nlink == 0;
}

bool TranscriptFile::OpenAtEnding() {
    m_file.setFileName(m_path);
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) return false;
    const qint64 at = m_file.size() - kEnding.size();
    if (at < 0 || !m_file.seek(at) || m_file.read(kEnding.size()) != kEnding) {
        m_file.close();
        return false;
    }
    m_endingAt = at;
    return true;
}

}  // namespace pelio::transfer
