#include "support/ScriptedDialogs.h"

#include <gtest/gtest.h>

namespace pelio::test {

namespace {

template <typename T>
T Next(std::deque<T>& answers, const char* kind, T cancelled) {
    if (answers.empty()) {
        ADD_FAILURE() << "unscripted " << kind << " dialog";
        return cancelled;
    }
    T answer = std::move(answers.front());
    answers.pop_front();
    return answer;
}

util::OpenFilesAnswer Cancelled() {
    util::OpenFilesAnswer answer;
    answer.error = util::kDialogCancelled;
    return answer;
}

class UnexpectedDialogs : public util::DialogProvider {
  public:
    util::OpenFilesAnswer OpenFiles(const util::OpenFilesRequest& request) override {
        ADD_FAILURE() << "unexpected file dialog: " << request.title.toStdString();
        return Cancelled();
    }
    util::SaveFileAnswer SaveFile(const util::SaveFileRequest& request) override {
        ADD_FAILURE() << "unexpected save dialog: " << request.title.toStdString();
        return {};
    }
    std::optional<util::OleColor> PickColor(const util::ColorRequest&) override {
        ADD_FAILURE() << "unexpected colour dialog";
        return std::nullopt;
    }
    std::optional<QFont> PickFont(const util::FontRequest&) override {
        ADD_FAILURE() << "unexpected font dialog";
        return std::nullopt;
    }
};

}  // namespace

ScriptedDialogs::ScriptedDialogs() {
    m_previous = util::Dialogs::SetProvider(this);
}

ScriptedDialogs::~ScriptedDialogs() {
    util::Dialogs::SetProvider(m_previous);
}

util::OpenFilesAnswer ScriptedDialogs::OpenFiles(const util::OpenFilesRequest& request) {
    fileRequests.push_back(request);
    return Next(fileAnswers, "file", Cancelled());
}

util::SaveFileAnswer ScriptedDialogs::SaveFile(const util::SaveFileRequest& request) {
    saveRequests.push_back(request);
    return Next(saveAnswers, "save", util::SaveFileAnswer{});
}

std::optional<util::OleColor> ScriptedDialogs::PickColor(const util::ColorRequest& request) {
    colorRequests.push_back(request);
    return Next(colorAnswers, "colour", std::optional<util::OleColor>());
}

std::optional<QFont> ScriptedDialogs::PickFont(const util::FontRequest& request) {
    fontRequests.push_back(request);
    return Next(fontAnswers, "font", std::optional<QFont>());
}

void InstallUnexpectedDialogGuard() {
    static UnexpectedDialogs guard;
    util::Dialogs::SetProvider(&guard);
}

}  // namespace pelio::test
