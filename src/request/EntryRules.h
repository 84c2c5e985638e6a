#pragma once

#include "web/ServiceEndpoints.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace pelio::app {
struct AppContext;
}

namespace pelio::request {

// The customer's name as the agent gets it: "/" and ":" deleted, trimmed, then every blank and ","
// deleted ("홍 길동, 과장" gives "홍길동과장").
QString CleanCustomerName(const QString& text);

// The phone number as the agent gets it: "/" and ":" deleted, trimmed, then every "," deleted.
QString CleanCustomerPhone(const QString& text);

// The phone box's text once the customer leaves it: the digits and "." only, hyphenated as a Korean
// phone number when it is one.
QString TidyPhoneNumber(const QString& text);

// The company codes used before, most recent first, as kept in the settings file ("ListBox",
// "CodeHistory"). The caller keeps the settings file.
class CodeHistory {
  public:
    // The stored codes, in order; empty when none are stored.
    static CodeHistory Load(const QString& iniFile);
    // Stores the first kCodeHistoryMax codes.
    void Save(const QString& iniFile) const;

    // Puts code at the top, removing the first entry equal to it without regard to case. Blank text
    // does nothing.
    void Use(const QString& code);
    // Removes every entry equal to code without regard to case.
    void Remove(const QString& code);

    const QStringList& Items() const { return m_items; }

  private:
    QStringList m_items;
};

// An address the customer typed in the manual connection window.
struct ManualAddress {
    QString ServerIP;
    int ServerPort = 0;
};

// The boxes of the entry window the rules point the customer to.
enum class EntryField { Code, Name, Phone };

// The rules of the customer entry window, without widgets: what the boxes start with, when OK may be
// pressed, how the customer's entries are checked and cleaned, the company-code check with the
// service and what each of its outcomes does, the code history and the settings.
//
// The window reports every edit of its boxes and every press; the rules answer through the View.
// Texts the rules put into a box are not reported back as edits. The rules write DeptCode, DeptName,
// CustomerName and CustomerPhone of the context and the settings file it names. The caller keeps the
// context and the view for the rules' life.
//
// State     reached by
// Loaded    construction (Load)
// Shown     Activate from Loaded; the end of a check
// Checking  Confirm with valid entries, while the service answers (the view is busy)
// Closed    Close
//
// Confirm in Checking or Closed does nothing. Close while Checking is put off until the check ends:
// the outcome is then not acted on and the window is closed.
class EntryRules {
  public:
    enum class State { Loaded, Shown, Checking, Closed };

    // What the window shows; every call reflects a decision of the rules.
    class View {
      public:
        virtual ~View() = default;
        // The code list; the code box keeps its text.
        virtual void ShowHistory(const QStringList& codes) = 0;
        virtual void ShowCode(const QString& code) = 0;
        // The code box and the delete button can no longer be used.
        virtual void LockCode() = 0;
        virtual void ShowCompanyName(const QString& name) = 0;
        virtual void ShowName(const QString& name) = 0;
        virtual void ShowPhone(const QString& phone) = 0;
        virtual void EnableOk(bool enabled) = 0;
        virtual void Focus(EntryField field) = 0;
        // An information box with OK; returns once the customer closed it.
        virtual void Tell(const QString& message) = 0;
        // While busy the window shows the wait cursor and takes no input.
        virtual void SetBusy(bool busy) = 0;
        // Shows the manual connection window modally: the address the customer confirmed, or none.
        virtual std::optional<ManualAddress> AskManualAddress() = 0;
        // Closes the window; its closing then calls Close.
        virtual void CloseWindow() = 0;
    };

    // The service's roots come from the context's settings file; fetch is the code check's transport.
    EntryRules(app::AppContext& context, View& view, web::FetchText fetch = web::DefaultFetch());

    State CurrentState() const { return m_state; }
    const web::ServiceRoots& Roots() const { return m_roots; }

    // Loading: the code list from the settings, and the code box's first text: the code the command
    // line gives (its text before the first "/"), unless it is empty or "/restart", when the last code
    // used is shown.
    void Load();
    // The first activation of the window (later ones do nothing): with a code from start-up the code
    // is shown and locked with its company name; the name and phone come from start-up or, when it
    // gave none, from the settings; the focus goes to the first box that needs the customer.
    void Activate();

    // Edits of the boxes.
    void CodeEdited(const QString& text);
    void NameEdited(const QString& text);
    void PhoneEdited(const QString& text);
    // The phone box lost the focus: its text is tidied.
    void PhoneLeft();
    // The delete button: the code in the box leaves the list and the box is emptied.
    void DeleteCode();
    // The OK button. In order: the code (trimmed) must be given and single-byte, the name and the phone
    // must be left once cleaned; each failure is told and the focus goes to its box. Then the code is
    // checked with the service and the company name it reports (the code itself when none) is stored
    // under "DeptInfo". An unregistered or refused code is told and the window stays; an accepted one
    // closes it with IsChanged. A service out of reach is told and the manual address is asked for:
    // given, the window closes with ConnectNow; given up, the window stays.
    void Confirm();
    // Closing, every way: the code goes to the top of the list, the list and the last texts are
    // stored. Returns false while a check runs (the window closes after it); true otherwise.
    bool Close();

    // The result, once closed: IsChanged when there is something to act on, ConnectNow with a manual
    // address to connect to at once.
    bool IsChanged() const { return m_isChanged; }
    bool ConnectNow() const { return m_connectNow; }
    const ManualAddress& Address() const { return m_address; }

  private:
    void SetCode(const QString& code);
    void SetName(const QString& name);
    void SetPhone(const QString& phone);
    void ApplyOkRule();
    void ActOnReply(const web::CodeCheckReply& reply);

    app::AppContext& m_context;
    View& m_view;
    web::FetchText m_fetch;
    web::ServiceRoots m_roots;
    State m_state = State::Loaded;
    CodeHistory m_history;
    QString m_code;
    QString m_name;
    QString m_phone;
    bool m_locked = false;
    bool m_closeAfterCheck = false;
    bool m_isChanged = false;
    bool m_connectNow = false;
    ManualAddress m_address;
};

}  // namespace pelio::request
