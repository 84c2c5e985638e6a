#pragma once

#include "app/AppContext.h"
#include "request/ManualAddressRules.h"

#include <QDialog>
#include <QString>

class QLineEdit;

namespace pelio::request {

// The manual connection window: the customer types the address and port the agent read out on the
// phone, for when the service's web site cannot be reached. Run it modally; afterwards IsChanged tells
// whether the customer confirmed a usable address, held in ServerIP and ServerPort. The checks are
// ManualAddressRules'; the window shows its boxes and tells what the rules refuse. The caller keeps
// the context for the window's life.
class frmIP : public QDialog {
    Q_OBJECT

  public:
    explicit frmIP(app::AppContext& context, QWidget* parent = nullptr);

    bool IsChanged = false;  // false again at every showing
    QString ServerIP;        // the trimmed address
    int ServerPort = 0;      // 1 to 65535 once IsChanged

    // Closing, every way: stores the texts of both boxes.
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void OnOk();

    ManualAddressRules m_rules;
    QLineEdit* m_txtIP = nullptr;
    QLineEdit* m_txtPort = nullptr;
};

}  // namespace pelio::request
