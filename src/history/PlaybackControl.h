#pragma once

#include <QString>
#include <QtGlobal>

namespace pelio::components {
class PlaybackComponent;
}

namespace pelio::history {

// The end margin: playback counts as finished once the position reaches the length minus this.
inline constexpr int kEndMargin = 17;
// How far the Left and Right keys move the recording.
inline constexpr qint64 kKeySeekMs = 10000;

// The play, pause and stop rules of the history viewer's recording tab, without widgets.
//
// The window passes every action of the customer on the recording controls (and its timer's ticks) to
// one named transition; the control drives the playback component through its contract and tells the
// window through its View what to show. The caller keeps the component and the view for the
// control's life.
//
// State        play  pause  slider  timer   reached by
// NoRecording  off   off    off     off     start; Close; a failed Open
// Stopped      on    off    on      off     Tick at the end
// Playing      off   on     on      on      Open; Play; SliderReleased; ShowRecordingTab from Paused or
//                                           Seeking
// Paused       on    off    on      on      Pause from Playing or Seeking; LeaveRecordingTab while Playing
// Seeking      off   on     on      on      SliderPressed while Playing (the component is paused)
//
// Open and Close work in every state; any other transition asked for in a state the table does not
// name for it does nothing. Seeks (SeekTo, SeekBy, the keys) and SetSpeed keep the state and work in
// every state but NoRecording.
class PlaybackControl {
  public:
    enum class State { NoRecording, Stopped, Playing, Paused, Seeking };

    // Which controls are on in a state, and whether the window's timer runs.
    struct Controls {
        bool play = false;
        bool pause = false;
        bool slider = false;
        bool timer = false;
    };
    static Controls ControlsIn(State state);

    // What the window shows; each call is made after the state changed.
    class View {
      public:
        virtual ~View() = default;
        // Shows the state (ControlsIn). With moveFocus the keyboard focus goes to the enabled one of the
        // play and pause buttons, where the customer's next press is.
        virtual void ShowState(State state, bool moveFocus) = 0;
        // Shows a position on the slider and in the time display without seeking.
        virtual void ShowPosition(qint64 position) = 0;
        // A recording was opened: the slider spans 0 to length and shows 0.
        virtual void ShowLength(qint64 length) = 0;
        // The recording played to its end (after ShowState(Stopped)).
        virtual void ReportEnd() = 0;
        // The recording at path could not be opened (after ShowLength(0) and ShowState(NoRecording)).
        virtual void ReportOpenFailure(const QString& path) = 0;
    };

    PlaybackControl(components::PlaybackComponent& component, View& view);

    State CurrentState() const { return m_state; }
    // The length of the open recording; 0 when none is open.
    qint64 Length() const { return m_length; }
    // The path of the open recording; empty when none is open.
    const QString& RecordingPath() const { return m_path; }

    // Stops what plays, opens the recording at path and plays it from the start. Returns whether it
    // opened; on failure no recording is open (the component releases the one it held before it
    // opens another).
    bool Open(const QString& path);
    // The play button: plays from where the recording stands.
    void Play();
    // The pause button.
    void Pause();
    // The timer: mirrors the position on the slider and stops playback at the end (the position
    // within kEndMargin of the length, or outside 0..length), back at the start.
    void Tick();

    // The slider pressed while playing pauses the component; released, playback resumes at value.
    void SliderPressed();
    void SliderReleased(qint64 value);
    // The slider's value changed by the customer: seeks unless playing.
    void SliderMoved(qint64 value);

    // Moves the recording to position, or by delta from where it stands, kept inside 0..Length; the
    // play state stays.
    void SeekTo(qint64 position);
    void SeekBy(qint64 delta);
    // Play while paused or stopped, pause while playing.
    void TogglePlay();
    // A key pressed on the recording tab (Qt::Key): Space plays or pauses, Left and Right move
    // kKeySeekMs back and forth, Home and End go to the start and the end. Returns whether the key is
    // one of these (also when no recording is open, so that the tab's controls do not take it).
    bool Key(int key);
    // The playing speed (PlaybackComponent::Speed); kept across recordings.
    void SetSpeed(double speed);

    // The transcript tab shown pauses playback; the recording tab shown again resumes a pause.
    void LeaveRecordingTab();
    void ShowRecordingTab();

    // The window closes: stops and releases the recording.
    void Close();

  private:
    void Stop();
    void Enter(State state, bool moveFocus);

    components::PlaybackComponent& m_component;
    View& m_view;
    State m_state = State::NoRecording;
    qint64 m_length = 0;
    QString m_path;
};

}  // namespace pelio::history
