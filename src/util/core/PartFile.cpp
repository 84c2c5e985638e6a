#include "util/core/PartFile.h"

#include <QRandomGenerator>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace pelio::util {

PartFile::PartFile(QString target) : m_target(std::move(target)) {}

PartFile::~PartFile() {
    Cancel();
}

bool PartFile::Open() {
    Cancel();
    const QByteArray target = QFile::encodeName(m_target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name =
            target + ".part-" +
            QByteArray::number(QRandomGenerator::global()->generate() % 1000000).rightJustified(6, '0');
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return false;
        m_temporary = name;
        if (m_file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
            return true;
        ::close(fd);
        Cancel();
        return false;
    }
    return false;
}

bool PartFile::Write(const char* data, qint64 size) {
    return m_file.isOpen() && m_file.write(data, size) == size;
}

bool PartFile::Commit() {
    if (!m_file.isOpen()) return false;
    m_file.close();
    if (m_file.error() != QFileDevice::NoError) return false;
    if (std::rename(m_temporary.constData(), QFile::encodeName(m_target).constData()) != 0) return false;
    m_temporary.clear();
    return true;
}

void PartFile::Cancel() {
    if (m_file.isOpen()) m_file.close();
    if (!m_temporary.isEmpty()) ::unlink(m_temporary.constData());
    m_temporary.clear();
}

}  // namespace pelio::util
