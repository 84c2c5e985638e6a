#include "support/ScriptedMessageBoxes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace pelio::test {

namespace {

class UnexpectedBoxes : public util::MessageBoxProvider {
  public:
    util::MsgAnswer ShowMessage(const util::MessageBoxRequest& box) override {
        ADD_FAILURE() << "unexpected message box: " << box.text.toStdString();
        return util::DefaultAnswer(box);
    }
};

}  // namespace

ScriptedMessageBoxes::ScriptedMessageBoxes() {
    m_previous = util::MessageBoxes::SetProvider(this);
}

ScriptedMessageBoxes::~ScriptedMessageBoxes() {
    util::MessageBoxes::SetProvider(m_previous);
}

util::MsgAnswer ScriptedMessageBoxes::ShowMessage(const util::MessageBoxRequest& box) {
    m_boxes.push_back(box);
    if (m_answers.empty()) {
        ADD_FAILURE() << "message box with no scripted answer: " << box.text.toStdString();
        return util::DefaultAnswer(box);
    }
    const util::MsgAnswer a = m_answers.front();
    m_answers.pop_front();
    return a;
}

ScriptedMessageBoxes& ScriptedMessageBoxes::Answer(util::MsgAnswer answer) {
    m_answers.push_back(answer);
    return *this;
}

void InstallUnexpectedBoxGuard() {
    static UnexpectedBoxes guard;
    util::MessageBoxes::SetProvider(&guard);
}

QByteArray ReadFileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFileBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

TempFolder::TempFolder() : m_dir(QDir::tempPath() + QStringLiteral("/pelio-XXXXXX")) {}

}  // namespace pelio::test
