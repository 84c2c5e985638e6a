// "연결되었습니다.": tells the customer that the agent will take the screen in a moment. Shown without
// blocking, owned by the agent list window; closed by its button, by the chat window's first
// activation, and when the session ends.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace pelio::session {

class frmConnected : public QDialog {
    Q_OBJECT
  public:
    explicit frmConnected(QWidget* parent = nullptr);

    // How the link to the agent is protected: the check code of an encrypted link, or the warning
    // that it is not encrypted; hidden when empty.
    void SetSecurityText(const QString& text);

  private:
    QLabel* m_lblSecurity;
    QPushButton* m_cmdOK;
};

}  // namespace pelio::session
