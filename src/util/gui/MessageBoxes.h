#pragma once

#include <QString>

class QObject;
class QWidget;

// Every message box of the program goes through here. The title is always the application title; a
// box has one of two shapes: information icon with OK, or question icon with Yes and No (plus the
// exclamation and critical icons some windows use). Tests install a provider that records the box and
// answers it, so no test ever waits on a modal dialog; the file, colour and font dialogs (Dialogs.h)
// have the same kind of seam.
namespace pelio::util {

inline const QString kAppTitle = QStringLiteral("Pelio원격");

enum class MsgIcon { None, Information, Question, Exclamation, Critical };
enum class MsgButtons { Ok, YesNo, OkCancel };
enum class MsgAnswer { Ok, Yes, No, Cancel };

struct MessageBoxRequest {
    QString text;
    QString title;
    MsgIcon icon = MsgIcon::Information;
    MsgButtons buttons = MsgButtons::Ok;
    QWidget* parent = nullptr;
};

// The answer when a box is closed without a button: OK for an OK box, No for a Yes/No box and Cancel
// for an OK/Cancel box.
MsgAnswer DefaultAnswer(const MessageBoxRequest& request);

// Answers the message boxes; without one installed the real boxes are shown.
class MessageBoxProvider {
  public:
    virtual ~MessageBoxProvider() = default;
    virtual MsgAnswer ShowMessage(const MessageBoxRequest& request) = 0;
};

class MessageBoxes {
  public:
    // Shows a modal box and returns the button pressed; closing it without a button gives its
    // DefaultAnswer.
    static MsgAnswer Show(QWidget* parent, const QString& text, MsgIcon icon = MsgIcon::Information,
                          MsgButtons buttons = MsgButtons::Ok);

    // The information box with OK that most of the program uses.
    static void Inform(QWidget* parent, const QString& text) { Show(parent, text); }

    // The question box with Yes and No; true for Yes.
    static bool AskYesNo(QWidget* parent, const QString& text) {
        return Show(parent, text, MsgIcon::Question, MsgButtons::YesNo) == MsgAnswer::Yes;
    }

    // The real box on screen, whatever provider is installed (for a provider that also shows boxes).
    // An information box whose text is already shown for the same owner is not shown twice.
    static MsgAnswer ShowOnScreen(const MessageBoxRequest& request);

    // Closes the boxes on screen that belong to the object (or to a window inside it), each with its
    // DefaultAnswer: the object is going away.
    static void CloseBoxesOf(QObject* owner);

    // Replaces the real boxes (the caller keeps the provider); null restores them. Returns the
    // previous provider, null for the real boxes.
    static MessageBoxProvider* SetProvider(MessageBoxProvider* provider);
};

}  // namespace pelio::util
