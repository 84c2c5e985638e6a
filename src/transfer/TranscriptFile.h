// The transcript file of a chat, kept whole on disk while the conversation grows, so that a crash or a
// kill of the program loses at most the piece being written.
//
// The file always holds a UTF-8 byte-order mark and then exactly the conversation's transcript
// (ChatConversation::Transcript): "<html>", every piece added to the view with CR LF after each "<br>"
// (any case), then "</body></html>". A piece is written in place of that ending, followed by the
// ending again, so that a line costs what it writes and not the whole file. A "<br>" split across two
// pieces is found as in the whole text.
//
// The file is made at the first piece (or the first Save), never before. A failed write throws nothing
// and loses nothing in memory: the next piece, or the next Save, writes the whole transcript again, as
// does the next piece after the file was removed. Not thread-safe; the owner calls it from one thread.
#pragma once

#include <QFile>
#include <QString>

#include <functional>

namespace pelio::transfer {

class TranscriptFile {
  public:
    // path: the transcript file. transcript: the conversation's whole transcript as it is now, without
    // the byte-order mark; read only when the file is written whole.
    TranscriptFile(QString path, std::function<QString()> transcript);
    TranscriptFile(const TranscriptFile&) = delete;
    TranscriptFile& operator=(const TranscriptFile&) = delete;

    // One piece of HTML that the conversation has just added (transcript() already holds it). False
    // when the file could not be brought up to date.
    bool Append(const QString& piece);
    // Writes the whole transcript at once, replacing the file atomically (a failed write keeps the
    // file there was); the pieces that follow continue the new file. False when the write failed.
    bool Save();

  private:
    // Opens the file just written whole and finds its ending; false (and closed) when it is not there.
    bool OpenAtEnding();
    // The open file is no longer in any folder.
    bool Removed() const;

    QString m_path;
    std::function<QString()> m_transcript;
    QFile m_file;
    // Where the ending starts in the open file; the file is in step with the conversation while open.
    qint64 m_endingAt = 0;
    // The last characters of the pieces so far: the start of a "<br>" the next piece may complete.
    QString m_tail;
};

}  // namespace pelio::transfer
