#include "support/ScriptedMessageBoxes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace pelio::test {

util::MsgAnswer DefaultAnswer(const util::MessageBoxRequest& box) {
    switch (box.buttons) {
        case util::MsgButtons::YesNo: return util::MsgAnswer::No;
        case util::MsgButtons::OkCancel: return util::MsgAnswer::Cancel;
        case util::MsgButtons::Ok: break;
    }
    return util::MsgAnswer::Ok;
}

ScriptedMessageBoxes::ScriptedMessageBoxes() {
    m_previous = util::MessageBoxes::SetResponder([this](const util::MessageBoxRequest& box) {
        m_boxes.push_back(box);
        if (m_answers.empty()) {
            ADD_FAILURE() << "message box with no scripted answer: " << box.text.toStdString();
            return DefaultAnswer(box);
        }
        util::MsgAnswer a = m_answers.front();
        m_answers.pop_front();
        return a;
    });
}

ScriptedMessageBoxes::~ScriptedMessageBoxes() { util::MessageBoxes::SetResponder(std::move(m_previous)); }

ScriptedMessageBoxes& ScriptedMessageBoxes::Answer(util::MsgAnswer answer) {
    m_answers.push_back(answer);
    return *this;
}

void InstallUnexpectedBoxGuard() {
    util::MessageBoxes::SetResponder([](const util::MessageBoxRequest& box) {
        ADD_FAILURE() << "unexpected message box: " << box.text.toStdString();
        return DefaultAnswer(box);
    });
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
