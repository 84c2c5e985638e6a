#pragma once

#include "app/AppContext.h"
#include "request/EntryRules.h"

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace pelio::platform {
struct Services;
}
namespace pelio::util {
class HtmlView;
}

namespace pelio::request {

// The customer entry window: the company code (with the codes used before), the customer's name and
// phone, the code checked with the service, and the service's firewall notice in a browser control.
// When the service is out of reach it offers the manual connection window (frmIP).
//
// Run it modally; afterwards IsChanged tells whether there is something to act on: with ConnectNow a
// manual address (ServerIP, ServerPort) to connect to at once, otherwise the accepted code in the
// context's DeptCode. The window writes DeptCode, DeptName, CustomerName and CustomerPhone of the
// context. Its rules are EntryRules'; the window passes its controls' events to them and shows what
// they decide. It uses the services' shell (links of the notice page), input mode (Hangul in the name
// box), file manager and clock (the history viewer). The caller keeps the context and the services for
// the window's life.
class frmConfirm : public QDialog, private EntryRules::View {
    Q_OBJECT

  public:
    frmConfirm(app::AppContext& context, platform::Services& services, QWidget* parent = nullptr);
    ~frmConfirm() override;

    bool IsChanged = false;   // closed with a result to act on
    bool ConnectNow = false;  // the result is a manual address
    QString ServerIP;
    int ServerPort = 0;

    // Closing, every way: the rules store the code list and the texts. While the code is being
    // checked the window closes only once the answer is in.
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildControls();
    void OnReview();

    // EntryRules::View.
    void ShowHistory(const QStringList& codes) override;
    void ShowCode(const QString& code) override;
    void LockCode() override;
    void ShowCompanyName(const QString& name) override;
    void ShowName(const QString& name) override;
    void ShowPhone(const QString& phone) override;
    void EnableOk(bool enabled) override;
    void Focus(EntryField field) override;
    void Tell(const QString& message) override;
    void SetBusy(bool busy) override;
    std::optional<ManualAddress> AskManualAddress() override;
    void CloseWindow() override;

    app::AppContext& m_context;
    platform::Services& m_services;
    EntryRules m_rules;
    bool m_busy = false;

    QComboBox* m_cboDeptCode = nullptr;
    QPushButton* m_cboDel = nullptr;
    QLabel* m_lblDeptName = nullptr;
    QLineEdit* m_txtName = nullptr;
    QLineEdit* m_txtPhone = nullptr;
    QPushButton* m_cmdOK = nullptr;
    QPushButton* m_cmdCancel = nullptr;
    QPushButton* m_cmdReview = nullptr;
    QPushButton* m_cmdX = nullptr;
    util::HtmlView* m_web = nullptr;
};

}  // namespace pelio::request
