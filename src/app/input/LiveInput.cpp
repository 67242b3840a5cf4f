// Following the player's MIDI keyboard: every message is echoed to the output,
// held keys are shown, and B7/C8 (and the pedal, when asked) step through the song.
#include <QAction>
#include <QScopedValueRollback>

#include "app/Form1.h"
#include "common/Guards.h"
#include "midi/MIDIInput.h"
#include "midi/MIDIOutput.h"
#include "song/NoteKind.h"

namespace vantor {

namespace {
constexpr int StepBackKey = 107;
constexpr int StepForwardKey = 108;
}  // namespace

void Form1::OnMessageReceived()
{
    // Arrivals during a yield below raise this handler again; the loop already
    // running takes their messages, so each is handled once and in order.
    if (receiving_) return;
    const QScopedValueRollback<bool> running(receiving_, true);

    while (MIDIInput1->PendingCount() > 0 || !typed_.empty()) {
        YieldOnce();
        if (IsClosing()) return;
        if (MIDIInput1->PendingCount() > 0) {
            HandleLiveMessage(MIDIInput1->Status(), MIDIInput1->Data1(), MIDIInput1->Data2());
            if (IsClosing()) return;
            MIDIInput1->SetAction(ActionRemoveMessage);
        } else if (!typed_.empty()) {
            const TypedMessage message = typed_.front();
            typed_.pop_front();
            HandleLiveMessage(message.status, message.data1, message.data2);
        }
        if (IsClosing()) return;
        // Judged after the echo: a step taken here yields, and what arrives meanwhile
        // waits its turn in this loop.
        RunGuarded("UpdateWait", [this] { UpdateWait(); });
    }
}

void Form1::HandleLiveMessage(int status, int data1, int data2)
{
    const bool press = IsNoteOn(status, data2);
    const bool pedalDown = InputPedal.PressedBy(status, data1, data2);

    // A failing step must not leave its message at the head of the buffer,
    // to be replayed on every later arrival: it is logged and the message
    // is still echoed and removed.
    if (press && data1 == StepBackKey) RunGuarded("TagBack_Click", [this] { TagBack_Click(); });
    if (press && data1 == StepForwardKey) RunGuarded("TagForward_Click", [this] { TagForward_Click(); });
    if (pedalDown && PracticePedal->isChecked())
        RunGuarded("TagForward_Click", [this] { TagForward_Click(); });
    if (IsClosing()) return;

    if (HasKey(data1)) {
        if (press) {
            PressKey(data1);
        } else if (IsNoteOff(status, data2)) {
            ReleaseKey(data1);
        }
    }
    if (data1 != StepBackKey && data1 != StepForwardKey) HeldInput.Apply(status, data1, data2);

    MIDIOutput1->SetStatus(status);
    MIDIOutput1->SetData1(data1);
    MIDIOutput1->SetData2(data2);
    MIDIOutput1->SetAction(ActionSendMessage);
}

}  // namespace vantor
