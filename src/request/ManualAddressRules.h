#pragma once

#include <QString>

namespace pelio::request {

// The rules of the manual connection window, without widgets: the address and port the agent read out
// on the phone, checked and handed over, and the last texts kept in the settings file ("LastIP",
// "LastPort"). The caller keeps the settings file.
//
// State      reached by
// Editing    construction (each showing of the window starts anew)
// Confirmed  Confirm with a usable address; Confirm again with a bad one goes back to Editing
class ManualAddressRules {
  public:
    enum class State { Editing, Confirmed };
    // The box a refused Confirm points the customer to.
    enum class Field { None, Address, Port };

    struct Verdict {
        Field problem = Field::None;  // None when the address was taken
        QString message;              // what to tell the customer otherwise
    };

    explicit ManualAddressRules(QString iniFile);

    State CurrentState() const { return m_state; }

    // The texts of the boxes when the window was last closed; empty when none were stored.
    QString StoredAddressText() const;
    QString StoredPortText() const;

    // The OK button: the trimmed address must hold at least three "." (a host name with three dots
    // passes too; nothing else about it is tested), and the trimmed port must be a whole number from
    // 1 to 65535. Takes both when they pass.
    Verdict Confirm(const QString& addressText, const QString& portText);

    // Closing, every way: stores the raw texts of both boxes.
    void Close(const QString& addressText, const QString& portText) const;

    // The confirmed address; only meaningful in Confirmed.
    bool IsChanged() const { return m_state == State::Confirmed; }
    const QString& ServerIP() const { return m_serverIP; }
    int ServerPort() const { return m_serverPort; }

    // The port a text gives, 0 when it is not a whole number from 1 to 65535.
    static int PortOf(const QString& text);

  private:
    QString m_iniFile;
    State m_state = State::Editing;
    QString m_serverIP;
    int m_serverPort = 0;
};

}  // namespace pelio::request
