// What an agent's session messages may do on this computer. The dispatcher asks the policy before every
// action it would take for the agent: the answer is to run it, to ask the customer first, or to refuse
// it. Every action that runs is told in the chat and the transcript as the program's own notice.
//
// Today every action runs; the policy is the one place where a session that is not verified (or a
// setting of the customer) makes an action ask or refuse.
#pragma once

#include <QString>

#include <array>

namespace pelio::session {

enum class RemoteAction {
    RunProgram,       // "shell"
    OpenAddress,      // "url", "ie"
    OpenFileManager,  // "explorer"
    ShowDesktop,      // "desktop"
    SwitchInput,      // "ime"
    MoveToAgent,      // "changeagent"
    ShowAgentScreen,  // "showme"
    DownloadFile,     // "downloadthis" (inside a batch the customer accepted)
    ShowMonitor,      // "monitor": the agent sees one monitor, or the whole desktop again
};
inline constexpr int kRemoteActionCount = 9;

enum class Verdict { Run, Ask, Refuse };

class RemoteActionPolicy {
  public:
    RemoteActionPolicy() { m_verdicts.fill(Verdict::Run); }

    Verdict Decide(RemoteAction action) const { return m_verdicts[std::size_t(action)]; }
    void Set(RemoteAction action, Verdict verdict) { m_verdicts[std::size_t(action)] = verdict; }

    // The question asked when an action's verdict is Ask; detail is the command line or the address.
    static QString Question(RemoteAction action, const QString& detail);

    // Whether an address may be opened in the desktop's handler for the agent: http:, https: and
    // mailto: only (the scheme in any case). A local path, file: and every other scheme may start
    // programs or reach local files, and are refused.
    static bool IsOpenableAddress(const QString& address);
    // Whether an address may be downloaded from: http: and https: only.
    static bool IsDownloadAddress(const QString& address);
    // Whether the settings file refuses agents whose key the service does not vouch for
    // ([Security] RequireSecure=1): no session, and no move, goes to them.
    static bool RequiresSecureAgents(const QString& iniFile);

  private:
    std::array<Verdict, kRemoteActionCount> m_verdicts{};
};

}  // namespace pelio::session
