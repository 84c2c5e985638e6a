// "상담원과 대화하기": the chat with the agent during a support session. The conversation is one HTML
// document in a browser control where page scripts never run and remote resources stay blocked; the
// customer writes in txtChat with the font, colour, bold and italic of the toolbar, and every line of
// either side goes into the transcript in the history folder as it is shown (see TranscriptFile); the
// transcript is also written whole at each save and, silently, when the window closes with unsaved
// lines. The window exists at most once (see ChatWindowHost); each opening starts a new transcript.
#pragma once

#include "transfer/ChatConversation.h"
#include "transfer/FileOffer.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>

class QAction;
class QLabel;
class QProgressBar;
class QPushButton;
class QTextEdit;
class QThread;
class QToolBar;

namespace pelio::app {
struct AppContext;
}
namespace pelio::platform {
struct Services;
}
namespace pelio::util {
class HtmlView;
}

namespace pelio::transfer {

class TranscriptFile;
class UploadRun;

class frmChat : public QWidget, private FileOffer::Output {
    Q_OBJECT
  public:
    frmChat(app::AppContext& context, platform::Services& services, ChatLink& link,
            QWidget* parent = nullptr);
    ~frmChat() override;

    ChatConversation& Conversation() { return m_conversation; }
    bool ChatLoaded() const { return m_chatLoaded; }
    QString TranscriptPath() const { return m_transcriptPath; }

    // The send button.
    void cmdSend_Click();
    // Writes the whole transcript; with showMessage the customer is told where it went.
    void SaveTranscript(bool showMessage);
    // Draws the customer's attention when the window is minimised or not in front.
    void DrawAttention();

    // Files for the agent (see FileOffer): the send-file tool, and the agent's answer to the offer
    // (accepted: the offered files are uploaded; refused: the offer is released). An answer without
    // an offer waiting for it does nothing.
    void PickFilesToSend();
    bool StartQueuedUpload();
    bool ReleaseSendQueue();
    // The files offered, or being uploaded.
    QStringList SendQueue() const { return m_offer.Files(); }
    bool Uploading() const { return m_upload != nullptr; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildControls();
    void LoadSettings();
    void SaveSettings();
    void OnActivated();
    void OnToolColour(const QString& name, const QColor& colour);
    void OnFont();
    void OnBackColor();
    bool OnNavigation(const QUrl& url);
    // Files dropped on the input: false when the drop is refused.
    bool DropFiles(const QStringList& paths);
    // What the file offer asks of the window.
    void TellCustomer(const QString& text) override;
    void ShowOfferLine(const QString& html) override;
    void SendToAgent(const QString& message) override;
    void StartUpload() override;
    void RunUpload();
    void EndUpload();
    // Stops a running upload and waits for its end.
    void StopUpload();
    void Relayout();
    ChatInputStyle InputStyle() const;
    void ApplyInputStyle(const ChatInputStyle& style);

    app::AppContext& m_context;
    platform::Services& m_services;
    ChatLink& m_link;
    ChatConversation m_conversation;
    QString m_transcriptPath;
    // Made with the path; takes every piece the conversation shows.
    std::unique_ptr<TranscriptFile> m_transcriptFile;
    int m_activateStage = 0;
    bool m_chatLoaded = false;
    ChatInputStyle m_style;

    util::HtmlView* m_webChat = nullptr;
    QToolBar* m_ab = nullptr;
    QAction* m_bold = nullptr;
    QAction* m_italic = nullptr;
    QAction* m_save = nullptr;
    QWidget* m_picFile = nullptr;
    QLabel* m_lblFile = nullptr;
    QProgressBar* m_pb = nullptr;
    QTextEdit* m_txtChat = nullptr;
    QPushButton* m_cmdSend = nullptr;
    QPushButton* m_cmdCancelFile = nullptr;
    QTimer m_timerFileSend;
    FileOffer m_offer{*this};
    QString m_lastFolder;
    UploadRun* m_upload = nullptr;
    QThread* m_uploadThread = nullptr;
};

}  // namespace pelio::transfer
