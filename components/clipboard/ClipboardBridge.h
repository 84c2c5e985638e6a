// Carries the text of this computer's clipboard to a remote-control link and back, for the server
// component and the viewer component alike. Lives on the UI thread.
//
// A copy here (the clipboard's text changes, not by the bridge itself) is handed to the send function
// when sharing is on, the text is not empty and is at most kMaxText bytes as UTF-8; a text received from
// the link is put on the clipboard when sharing is on and it is that short. The text the bridge put
// there itself is not sent back, so two bridges on one link never echo each other. While sharing is
// off nothing crosses either way; turning it on sends nothing by itself (the next copy goes).
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QClipboard;

namespace pelio::components::clipboard {

// The clipboard a bridge works on: the system's by default, a test's own otherwise.
class ClipboardPort : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;
    virtual QString Text() const = 0;
    virtual void SetText(const QString& text) = 0;
  signals:
    void Changed();
};

// The application's clipboard (the X CLIPBOARD selection on X11), not the primary selection.
class SystemClipboard : public ClipboardPort {
    Q_OBJECT
  public:
    explicit SystemClipboard(QObject* parent = nullptr);
    QString Text() const override;
    void SetText(const QString& text) override;
};

class ClipboardBridge : public QObject {
    Q_OBJECT
  public:
    using Send = std::function<void(const QString& text)>;
    // port: the clipboard to work on, kept by the caller; null for the system's, owned by the bridge
    // (none without a GUI application: the bridge then does nothing).
    explicit ClipboardBridge(Send send, ClipboardPort* port = nullptr, QObject* parent = nullptr);

    void SetEnabled(bool enabled) { m_enabled = enabled; }
    bool Enabled() const { return m_enabled; }
    // A text from the link.
    void Received(const QString& text);

  private:
    void LocalChanged();

    Send m_send;
    ClipboardPort* m_port;
    bool m_enabled = true;
    QString m_fromLink;  // the last text the bridge put on the clipboard
};

}  // namespace pelio::components::clipboard
