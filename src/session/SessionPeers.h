// The windows that act on what the agent sends during a session: the chat window, the download
// windows and the screen view, and the commands run on this computer. The session talks to them only
// through these interfaces.
#pragma once

#include "session/SessionMessages.h"

#include <QList>
#include <QRect>
#include <QString>

namespace pelio::session {

// Colours of the session's own lines in the chat view and the transcript, from the classic 16-colour
// table.
enum NoticeColour : int {
    kNoticeGreen = 2,
    kNoticeCyan = 3,
    kNoticeRed = 4,
    kNoticeYellow = 6,
    kNoticeGrey = 8
};

// What the dispatcher of the agent's messages asks of the session that runs.
class SessionDriver {
  public:
    virtual ~SessionDriver() = default;
    // Whether the agent is admitted and the session runs: only then is a message acted on.
    virtual bool InSession() const = 0;
    // Sends one session message (encrypted) to the agent.
    virtual void SendMessage(const QString& text) = 0;
    // The agent's "end".
    virtual void EndByAgent() = 0;
    // Moves the session to another agent's program (already checked against the company's list),
    // checking its key against pin when there is one.
    virtual void ChangeAgent(const QString& address, int port, const QString& pin) = 0;
    // The agent outran a bound: the link is dropped and the session ends as at any disconnection.
    virtual void DropLink() = 0;
    // The monitors the agent was last told of ("monitors"), in that order; empty when none.
    virtual QList<QRect> ToldMonitors() const { return {}; }
    // Shows the agent monitor `index` (from 1) of that list, or the whole desktop for 0. False when
    // the monitor is not one of the screen's any more, or nothing could be shown.
    virtual bool ShowMonitor(int index) {
        (void)index;
        return false;
    }
};

// The chat window.
class ChatPeer {
  public:
    virtual ~ChatPeer() = default;
    // Shows (without blocking) the chat window; a pending request text goes out as its first line.
    virtual void OpenChat() = 0;
    // A whole chat line of the agent (HTML).
    virtual void ShowAgentChat(const QString& html) = 0;
    // A line of the session's own in the transcript, in one of the NoticeColour colours.
    virtual void DisplayCommonMsg(const QString& text, int colour) = 0;
    // The agent offers files (one name per CR LF): shown in the transcript, drawing attention.
    virtual void ShowFileOffer(const QString& list) = 0;
    // The agent took the customer's offer: the queued files are uploaded. False when no offer of the
    // customer was waiting for the answer (nothing happens then).
    virtual bool StartQueuedUpload() = 0;
    // The agent refused it: no file stays queued. False when no offer was waiting.
    virtual bool ReleaseSendQueue() = 0;
    // Any other line of the session in the transcript (HTML): how a file from the agent ended.
    virtual void AppendLine(const QString& html) = 0;
    // The session ended (either side, or the link dropped): the transcript is made whole on disk.
    virtual void SessionEnded() = 0;
};

// The download windows: one per file the agent sends.
class DownloadPeer {
  public:
    virtual ~DownloadPeer() = default;
    virtual void StartDownload(const QString& localFile, const QString& remoteUrl, const QString& title) = 0;
};

// The window that shows the agent's screen.
class ScreenViewPeer {
  public:
    virtual ~ScreenViewPeer() = default;
    virtual void ShowMe(const ShowMeFields& fields) = 0;
    virtual void StopShowMe() = 0;
};

// The commands the agent may run on this computer.
class SessionCommands {
  public:
    virtual ~SessionCommands() = default;
    virtual void RunCommandLine(const QString& commandLine) = 0;  // "shell"
    virtual void OpenAddress(const QString& address) = 0;         // "url", "ie"
    virtual void OpenFileManager() = 0;                           // "explorer"
    virtual void ToggleShowDesktop() = 0;                         // "desktop"
    virtual void PressHangulKey() = 0;                            // "ime"
};

}  // namespace pelio::session
