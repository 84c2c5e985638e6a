#include "clipboard/ClipboardBridge.h"

#include "clipboard/ClipboardMessages.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLoggingCategory>

namespace pelio::components::clipboard {

namespace {
Q_LOGGING_CATEGORY(lcClipboard, "pelio.clipboard", QtWarningMsg)

bool Fits(const QString& text) {
    // UTF-8 is at most three bytes per UTF-16 unit: a cheap bound before the exact count.
    if (std::size_t(text.size()) < kMaxText / 3) return true;
    return ToWire(text).size() + 1 <= kMaxText;
}
}  // namespace

SystemClipboard::SystemClipboard(QObject* parent) : ClipboardPort(parent) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    connect(clipboard, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard) emit Changed();
    });
}

QString SystemClipboard::Text() const {
    return QGuiApplication::clipboard()->text(QClipboard::Clipboard);
}

void SystemClipboard::SetText(const QString& text) {
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

ClipboardBridge::ClipboardBridge(Send send, ClipboardPort* port, QObject* parent)
    : QObject(parent), m_send(std::move(send)), m_port(port) {
    // A program without a GUI application (a benchmark, a command-line tool) has no clipboard.
    if (!m_port && qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        m_port = new SystemClipboard(this);
    if (m_port) connect(m_port, &ClipboardPort::Changed, this, &ClipboardBridge::LocalChanged);
}

void ClipboardBridge::Received(const QString& text) {
    if (!m_enabled) {
        qCInfo(lcClipboard, "a clipboard text from the link is not taken: sharing is off");
        return;
    }
    if (!m_port || text.isEmpty() || !Fits(text)) return;
    m_fromLink = text;
    if (m_port->Text() != text) m_port->SetText(text);
}

void ClipboardBridge::LocalChanged() {
    if (!m_enabled) return;
    const QString text = m_port->Text();
    if (text.isEmpty() || text == m_fromLink) return;
    if (!Fits(text)) {
        qCInfo(lcClipboard, "a clipboard text of %lld characters is too long to send",
               qlonglong(text.size()));
        return;
    }
    m_fromLink.clear();
    m_send(text);
}

}  // namespace pelio::components::clipboard
