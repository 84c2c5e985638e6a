#pragma once

#include "util/gui/MessageBoxes.h"

#include <QTemporaryDir>

#include <deque>
#include <vector>

namespace pelio::test {

// Replaces the program's message boxes for the lifetime of the object: each box is recorded and
// answered with the next scripted answer. A box with no answer left fails the test and is answered
// with its default (OK, No or Cancel).
class ScriptedMessageBoxes : public util::MessageBoxProvider {
  public:
    ScriptedMessageBoxes();
    ~ScriptedMessageBoxes() override;
    ScriptedMessageBoxes(const ScriptedMessageBoxes&) = delete;
    ScriptedMessageBoxes& operator=(const ScriptedMessageBoxes&) = delete;

    // Queues the answer to the next box.
    ScriptedMessageBoxes& Answer(util::MsgAnswer answer);

    const std::vector<util::MessageBoxRequest>& boxes() const { return m_boxes; }
    size_t unansweredScript() const { return m_answers.size(); }

    util::MsgAnswer ShowMessage(const util::MessageBoxRequest& box) override;

  private:
    std::deque<util::MsgAnswer> m_answers;
    std::vector<util::MessageBoxRequest> m_boxes;
    util::MessageBoxProvider* m_previous = nullptr;
};

// Installs the provider used outside ScriptedMessageBoxes: any box fails the running test.
void InstallUnexpectedBoxGuard();

// A temp folder fixture: a fresh folder per test, removed afterwards.
class TempFolder {
  public:
    TempFolder();
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }

  private:
    QTemporaryDir m_dir;
};

// The whole content of a file; empty when it cannot be read.
QByteArray ReadFileBytes(const QString& path);

// Replaces the file's content; fails the test when the file cannot be written.
void WriteFileBytes(const QString& path, const QByteArray& bytes);

}  // namespace pelio::test
