// The customer's offer of files to the agent, without widgets: when files may be offered, the offer
// message, and what the agent's answers do. The chat window feeds it the customer's choices, the
// agent's answers and the end of the upload run, and carries out what it asks through Output.
//
// State      reached by                               what happens in it
// Idle       construction, a refusal, the end of      nothing is offered: an answer of the agent does
//            the upload run, Reset, a new choice      nothing
// Offered    a choice that passed the checks          the offer message went, its files wait for the
//                                                     agent's answer; a new choice replaces them
// Uploading  the agent accepts while Offered          the offered files are the upload run's; answers
//                                                     do nothing (a refusal does not stop the run) and
//                                                     new choices are refused as busy
//
// An agent can therefore start an upload only of files the customer offered, and only once per offer.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace pelio::transfer {

class FileOffer {
  public:
    enum class State { Idle, Offered, Uploading };

    // What the offer asks of the window. Each call comes after the state changed, so that a nested
    // event loop inside one (a message box) already sees the new state.
    class Output {
      public:
        virtual ~Output() = default;
        // Tells the customer something (a message box).
        virtual void TellCustomer(const QString& text) = 0;
        // Adds a line to the chat view.
        virtual void ShowOfferLine(const QString& html) = 0;
        // Sends a session message to the agent.
        virtual void SendToAgent(const QString& message) = 0;
        // The agent accepted: the upload run of Files() is to start; UploadEnded is due at its end.
        virtual void StartUpload() = 0;
    };
    // A file's length in bytes.
    using SizeOf = std::function<qint64(const QString& path)>;

    // The caller keeps output for the object's life. Without sizeOf the files' lengths on disk count.
    explicit FileOffer(Output& output, SizeOf sizeOf = {});

    State GetState() const { return m_state; }
    // The files offered (Offered) or being uploaded (Uploading), in the order chosen; empty when Idle.
    const QStringList& Files() const { return m_files; }

    // The send-file tool, before its file dialog opens: false, and the customer is told why, while a
    // transfer runs (busy: the program's transfer flag; an accepted upload of this offer counts too)
    // or without a session.
    bool MayChoose(bool busy, bool connected);
    // Files chosen in the dialog. The offer waiting (if any) is withdrawn first; the first file over the
    // size limit refuses the whole choice (the customer is told); otherwise the chat shows the files,
    // the agent gets the offer message, and the state is Offered. Refused as busy while Uploading.
    // True when the files are offered.
    bool Choose(const QStringList& paths);
    // Files dropped on the chat's input: refused with the busy message while busy; otherwise the offer
    // waiting is withdrawn, a drop without a session is refused without a word, and the rest is as
    // Choose. True when the files are offered.
    bool Drop(const QStringList& paths, bool busy, bool connected);

    // The agent accepts: only while Offered, the upload starts (Output::StartUpload). True when it did.
    bool Accept();
    // The agent refuses: only while Offered, the files are released. True when they were.
    bool Refuse();
    // The upload run ended, whatever its outcome.
    void UploadEnded();
    // The window closes: whatever was offered is dropped. The caller has stopped the run.
    void Reset();

  private:
    bool Busy(bool busy) const { return busy || m_state == State::Uploading; }
    void Withdraw();

    Output& m_output;
    SizeOf m_sizeOf;
    State m_state = State::Idle;
    QStringList m_files;
};

}  // namespace pelio::transfer
