#pragma once

#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "keyboard/ComputerKeys.h"
#include "song/Midifile.h"
#include "song/StepMap.h"
#include "song/WaitJudge.h"

class QAction;
class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSlider;

namespace vantor {

class DeviceProvider;
class MIDIInput;
class MIDIOutput;
class PianoKeyboard;
enum class KeyMark;

// What the main window asks of the desktop. The defaults use Qt's dialogs; tests
// replace them so nothing blocks.
struct Form1Hooks
{
    // Asks the user for a MIDI file; returns the full path, or "" when cancelled.
    std::function<QString(QWidget* parent)> ChooseMidiFile;
    // Shows an OK-only message box.
    std::function<void(QWidget* parent, const QString& text)> ShowMessage;
    // Ends the program (after both ports are closed). Default: QCoreApplication::exit(0).
    std::function<void()> Quit;
};

// The main window: owns every control, the file reader, the two MIDI ports and the
// window-level state. Its methods are the operations and the handlers; each folder
// of src/ implements its own group.
class Form1 : public QMainWindow
{
    Q_OBJECT
public:
    explicit Form1(std::shared_ptr<DeviceProvider> devices, Form1Hooks hooks = {}, QWidget* parent = nullptr);
    ~Form1() override;

    // ---- app/: start-up, shut-down, menus, focus ----
    void Form_Load();
    // Any request to close the window: closes both ports and ends the program at once.
    void Form_QueryUnload();
    void FileExit_Click();
    void HelpContent_Click();
    void HelpAbout_Click();
    void ChordMode_Click();
    // Gives TagForward the focus; harmless before the window is shown.
    void FocusStepForward();
    // Gives TagForward the focus only while it is visible.
    void FocusStepForwardIfVisible();
    // One yield to the event loop; nested handlers run inside it.
    void YieldOnce();
    bool IsClosing() const { return closing_; }
    QString HelpFilePath() const { return helpFilePath_; }
    // Runs a handler body inside the guard: a failure ends it and is logged.
    void Guarded(const char* handler, const std::function<void()>& body) noexcept;

    // ---- devices/: device lists, ports, instrument ----
    void FillOutputDevices();
    void FillInputDevices();
    void FillProgramList();
    void OpenOutput();
    void CloseOutput();
    void OpenInput();
    void CloseInput();
    void MidiReset();
    void ResetMidi_Click();
    void OutputDevCombo_Click();
    void InputDevCombo_Click();
    // The user's own choice from a list: a failure is reported even if it was before.
    void OutputDevCombo_Activated();
    void InputDevCombo_Activated();
    void ProgramList_Click();
    void OutputPort_Error(int code, const QString& description);
    void InputPort_Error(int code, const QString& description);

    // ---- keyboard/: the keyboard operations, by MIDI note number ----
    void ClearKeyboard();
    void LightKey(int note);
    void UnlightKey(int note);
    void PaintKeyLit(int note);
    void PaintKeyRest(int note);
    void PressKey(int note);
    void ReleaseKey(int note);
    void HideIndicators();
    void ShowIndicators();
    void MarkKey(int note, KeyMark mark);

    // ---- song/: opening a file, the track list, track selection ----
    void OpenMidiFile();
    // Steps 3 to 7 of the open command for a path already chosen (menu and drag and drop).
    void OpenMidiFileAt(const QString& path);
    void DisplayTrackList();
    QString TrackDisplayName(int track);
    void SelectTrack();
    void TrackList_Click();

    // ---- practice/: stepping, position controls, marks ----
    void PlayCurrentEvent(bool sound);
    void StepForward();
    // Step Forward's walk, sounding its notes or only lighting them.
    void WalkForward(bool sound);
    void StepBack();
    void RebuildKeyboard(int target);
    void TagForward_Click();
    void TagBack_Click();
    void TagNumber_Change();
    void TagSlider_Change();
    void TagStart_Click();
    void TagEnd_Click();
    void TagMark_Click();
    void TagMarker_Change();
    void TagGoto_Click();

    // ---- practice/: the Practice menu (waiting for notes, computer keys, pedal) ----
    void BuildPracticeMenu();
    void PracticeWait_Click();
    void PracticeKeys_Click();
    // Shows the next step's targets and the wrong keys, and takes the step once
    // the targets are played; clears both while waiting is off or impossible.
    void UpdateWait();
    // The step taken by playing the targets: Step Forward's, without a sound.
    void TakeWaitStep();

    // ---- midi/: playback and live input ----
    void StartPlayback();
    void QueueTrack();
    void StopPlayback();
    void OnMessagePlayed(std::int32_t tag);
    void CmdPlay_Click();
    void CmdStop_Click();
    void OnMessageReceived();
    // One message from the player: step keys, pedal, pressed keys, echo, judging.
    void HandleLiveMessage(int status, int data1, int data2);
    // A key of the computer keyboard; true when it plays a note or moves the octave.
    bool ComputerKey_Event(const QKeyEvent& event);
    // Ends every note held on the computer keyboard.
    void ReleaseComputerKeys();
    // Sends the key release held back to tell it from auto-repeat, if any.
    void FlushComputerKeyRelease();

    // ---- playback/: the Practice menu's playback items ----
    void SpeedItem_Click();
    void SpeedSlower_Click();
    void SpeedFaster_Click();
    // The checked Speed item, in percent.
    int SpeedPercent() const;
    // The mark box's event, 0 when it holds no number.
    int MarkedEvent() const;

    // ---- controls (named as in the layout; each carries its name as objectName) ----
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QComboBox* OutputDevCombo = nullptr;
    QComboBox* InputDevCombo = nullptr;
    QComboBox* TrackList = nullptr;
    QComboBox* ProgramList = nullptr;
    QPushButton* ResetMidi = nullptr;
    QCheckBox* ChordMode = nullptr;
    QPushButton* TagMark = nullptr;
    QLineEdit* TagMarker = nullptr;
    QPushButton* TagGoto = nullptr;
    QPushButton* CmdStop = nullptr;
    QPushButton* TagStart = nullptr;
    QPushButton* TagBack = nullptr;
    QLineEdit* TagNumber = nullptr;
    QPushButton* TagForward = nullptr;
    QPushButton* TagEnd = nullptr;
    QPushButton* CmdPlay = nullptr;
    QSlider* TagSlider = nullptr;
    PianoKeyboard* Keyboard = nullptr;

    QMenu* FileMenu = nullptr;
    QAction* FileOpen = nullptr;
    QAction* FileExit = nullptr;
    QMenu* PracticeMenu = nullptr;
    QAction* PracticeWait = nullptr;
    QAction* PracticeKeys = nullptr;
    QAction* PracticePedal = nullptr;
    QMenu* SpeedMenu = nullptr;
    std::vector<QAction*> SpeedItems;  // slowest first
    QAction* SpeedSlower = nullptr;
    QAction* SpeedFaster = nullptr;
    QAction* LoopFromMark = nullptr;
    QAction* Accompaniment = nullptr;
    QAction* Metronome = nullptr;
    QAction* CountIn = nullptr;
    QMenu* HelpMenu = nullptr;
    QAction* HelpContent = nullptr;
    QAction* HelpAbout = nullptr;

    // ---- components ----
    Midifile Midifile1;
    MIDIOutput* MIDIOutput1 = nullptr;
    MIDIInput* MIDIInput1 = nullptr;

    // ---- window-level state ----
    std::int32_t TrackBase = 1;
    float MsPerTick = 0.0f;
    std::vector<std::int16_t> StepMap;  // indices 0..EventCount+1
    std::int32_t SavedVolume = 0;
    std::int32_t SavedRightVolume = 0;
    std::int16_t ProgramChannel = 0;
    HeldKeys HeldInput;  // keys held on the MIDI input and the computer keyboard
    PedalWatch InputPedal;
    int QueuedSpeed = 100;  // the speed the running queue's due times were worked out for

    const Form1Hooks& Hooks() const { return hooks_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildLayout();
    void BuildMenus();
    void BuildPracticePlaybackItems();
    void ApplySpeed();
    void ConnectHandlers();

    Form1Hooks hooks_;
    QString helpFilePath_;
    bool closing_ = false;
    bool receiving_ = false;  // a run of OnMessageReceived is looping over the input buffer

    // What the targets were worked out for; none while nothing is marked.
    struct WaitPlace
    {
        std::uint64_t song = 0;
        int position = 0;
        bool chordMode = false;
        bool operator==(const WaitPlace&) const = default;
    };
    std::optional<WaitPlace> CurrentWaitPlace() const;
    std::optional<WaitPlace> waitPlace_;
    std::vector<int> waitTargets_;
    std::uint64_t waitBoundary_ = 0;  // the last press before the last step
    std::uint64_t songLoads_ = 0;     // track selections, so a new song is seen at the same position

    struct TypedMessage
    {
        int status, data1, data2;
    };
    std::deque<TypedMessage> typed_;  // computer keys waiting for the input loop
    std::map<int, int> typedHeld_;    // computer key (scan code, else key code) -> its note
    int typedLowerC_ = ComputerKeysStartC;
    // X reports auto-repeat as a release and a press with the same time, and Qt
    // does not always tell: a release waits briefly for its twin.
    struct HeldBackRelease
    {
        int identity = 0;
        std::uint64_t time = 0;
        std::uint64_t serial = 0;
    };
    std::optional<HeldBackRelease> heldBackRelease_;
    std::uint64_t releaseSerial_ = 0;
};

}  // namespace vantor
