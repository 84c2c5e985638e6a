// Recording doubles of the window and the peers the session talks to.
#pragma once

#include "session/SessionPeers.h"
#include "session/SessionView.h"

#include <QStringList>

#include <deque>

namespace pelio::session::test {

class RecordingView : public SessionView {
  public:
    QStringList calls;         // "inform:TEXT", "ask:TEXT", "status:TEXT", "enable:Connect=1", ...
    std::deque<bool> answers;  // for AskYesNo; Yes when empty
    bool hasSelected = true, selectedGreyed = false;
    QString time;
    std::function<void()> onAsk;  // runs inside the question, as window events would

    void Inform(const QString& text) override { calls << QStringLiteral("inform:") + text; }
    bool AskYesNo(const QString& text) override {
        calls << QStringLiteral("ask:") + text;
        if (onAsk) onAsk();
        if (answers.empty()) return true;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void SetStatus(const QString& text) override { calls << QStringLiteral("status:") + text; }
    void SetWaitCursor(bool) override {}
    void EnableControl(SessionControl c, bool on) override {
        static const char* names[] = {"Connect", "End", "Chat", "Refresh", "List"};
        calls << QStringLiteral("enable:%1=%2").arg(QLatin1String(names[int(c)])).arg(on ? 1 : 0);
    }
    bool HasSelectedAgent() const override { return hasSelected; }
    bool SelectedAgentGreyed() const override { return selectedGreyed; }
    void SetSelectedAgentStatus(const QString& text, bool grey) override {
        calls << QStringLiteral("agent:%1%2").arg(text, grey ? QStringLiteral(" (grey)") : QString());
    }
    void ShowConnectedTime(const QString& text) override { time = text; }
    void MarkRequestTextSent() override { calls << QStringLiteral("request-sent"); }
    void ShowConnectedNotice() override { calls << QStringLiteral("show-connected"); }
    void CloseConnectedNotice() override { calls << QStringLiteral("close-connected"); }
    void ShowOnSupport() override { calls << QStringLiteral("show-onsupport"); }
    void CloseOnSupport() override { calls << QStringLiteral("close-onsupport"); }
    void ShowLinkSecurity(const QString& text) override { calls << QStringLiteral("security:") + text; }
    void ShowRedialling(bool on) override { calls << QStringLiteral("redialling:%1").arg(on ? 1 : 0); }
    void RestoreAndActivate() override { calls << QStringLiteral("restore"); }
    void SetNormalState() override { calls << QStringLiteral("normal"); }
    void Minimize() override { calls << QStringLiteral("minimize"); }
    void Beep() override { calls << QStringLiteral("beep"); }
    void CloseWindow() override { calls << QStringLiteral("close"); }

    bool Saw(const QString& call) const { return calls.contains(call); }
};

class RecordingPeers : public ChatPeer, public DownloadPeer, public ScreenViewPeer, public SessionCommands {
  public:
    QStringList calls;
    void OpenChat() override { calls << QStringLiteral("open-chat"); }
    void ShowAgentChat(const QString& html) override { calls << QStringLiteral("agent-chat:") + html; }
    void DisplayCommonMsg(const QString& text, int colour) override {
        calls << QStringLiteral("common:%1:%2").arg(colour).arg(text);
    }
    void ShowFileOffer(const QString& list) override { calls << QStringLiteral("offer:") + list; }
    bool offerWaiting = true;  // what StartQueuedUpload and ReleaseSendQueue answer
    bool StartQueuedUpload() override {
        calls << QStringLiteral("upload");
        return offerWaiting;
    }
    bool ReleaseSendQueue() override {
        calls << QStringLiteral("release-queue");
        return offerWaiting;
    }
    void AppendLine(const QString& html) override { calls << QStringLiteral("line:") + html; }
    void SessionEnded() override { calls << QStringLiteral("session-ended"); }
    void StartDownload(const QString& localFile, const QString& remoteUrl, const QString& title) override {
        calls << QStringLiteral("download:%1|%2|%3").arg(localFile, remoteUrl, title);
    }
    void ShowMe(const ShowMeFields& f) override {
        calls << QStringLiteral("showme:") + f.address + u':' + f.port;
    }
    void StopShowMe() override { calls << QStringLiteral("stopshowme"); }
    void RunCommandLine(const QString& line) override { calls << QStringLiteral("shell:") + line; }
    void OpenAddress(const QString& address) override { calls << QStringLiteral("open:") + address; }
    void OpenFileManager() override { calls << QStringLiteral("explorer"); }
    void ToggleShowDesktop() override { calls << QStringLiteral("desktop"); }
    void PressHangulKey() override { calls << QStringLiteral("ime"); }
};

}  // namespace pelio::session::test
