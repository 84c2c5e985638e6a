#pragma once

#include <QFile>
#include <QString>

namespace pelio::util {

// A file written under a temporary name beside its target ("name.part-XXXXXX") and put in place only
// when Commit says it is whole: until then a file already under the target's name keeps its content,
// and a file that is never committed leaves nothing behind. Unlike QSaveFile it does not force the
// data to disk before the rename (a download does not need to survive a power cut at that moment, and
// the sync would cost a large file much of its speed). Writes are unbuffered.
class PartFile {
  public:
    explicit PartFile(QString target);
    ~PartFile();  // removes the temporary file unless committed
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // Creates the temporary file (permissions as for a new file); false when the folder is not writable.
    bool Open();
    // Writes the bytes; false when they could not all be written.
    bool Write(const char* data, qint64 size);
    // Closes the temporary file and renames it over the target; false (and nothing changed) on failure.
    bool Commit();
    // Removes the temporary file.
    void Cancel();

  private:
    QString m_target;
    QByteArray m_temporary;  // the local path, empty when none exists
    QFile m_file;
};

}  // namespace pelio::util
