#pragma once

#include "util/gui/Dialogs.h"

#include <deque>
#include <vector>

namespace pelio::test {

// Replaces the program's file, colour and font dialogs for the lifetime of the object: each request
// is recorded and answered with the next scripted answer of its kind. A dialog with no answer left
// fails the test and is answered as cancelled.
class ScriptedDialogs : public util::DialogProvider {
  public:
    ScriptedDialogs();
    ~ScriptedDialogs() override;
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    std::deque<util::OpenFilesAnswer> fileAnswers;
    std::deque<util::SaveFileAnswer> saveAnswers;
    std::deque<std::optional<util::OleColor>> colorAnswers;
    std::deque<std::optional<QFont>> fontAnswers;

    std::vector<util::OpenFilesRequest> fileRequests;
    std::vector<util::SaveFileRequest> saveRequests;
    std::vector<util::ColorRequest> colorRequests;
    std::vector<util::FontRequest> fontRequests;

    util::OpenFilesAnswer OpenFiles(const util::OpenFilesRequest& request) override;
    util::SaveFileAnswer SaveFile(const util::SaveFileRequest& request) override;
    std::optional<util::OleColor> PickColor(const util::ColorRequest& request) override;
    std::optional<QFont> PickFont(const util::FontRequest& request) override;

  private:
    util::DialogProvider* m_previous = nullptr;
};

// Installs the provider used outside ScriptedDialogs: any dialog fails the running test.
void InstallUnexpectedDialogGuard();

}  // namespace pelio::test
