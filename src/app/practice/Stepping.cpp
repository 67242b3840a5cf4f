#include <QCheckBox>
#include <QLineEdit>
#include <QSlider>

#include "app/Form1.h"
#include "midi/MIDIOutput.h"
#include "song/NoteKind.h"
#include "song/StepMap.h"

namespace vantor {

void Form1::PlayCurrentEvent(bool sound)
{
    if (sound) OpenOutput();
    // Nothing moves the reader inside this call, so each field is read once.
    const int status = Midifile1.EventStatus();
    const int velocity = Midifile1.EventData2();
    const bool noteOn = IsNoteOn(status, velocity);
    // Only note messages are sent: a controller or pitch bend passed on a backward
    // walk would be replayed in reverse and leave the sound in the wrong state.
    if (!noteOn && !IsNoteOff(status, velocity)) return;
    const int note = Midifile1.EventData1();
    if (HasKey(note)) {
        if (noteOn) {
            LightKey(note);
        } else {
            UnlightKey(note);
        }
    }
    if (sound) {
        MIDIOutput1->SetStatus(status);
        MIDIOutput1->SetData1(note);
        MIDIOutput1->SetData2(velocity);
        MIDIOutput1->SetAction(ActionSendMessage);
    }
}

void Form1::StepForward()
{
    if (Midifile1.FilePath().isEmpty()) return;
    YieldOnce();
    WalkForward(true);
}

void Form1::WalkForward(bool sound)
{
    if (ChordMode->isChecked()) {
        // Plays the release it starts on and stops on the next chord's release, unplayed.
        while (Midifile1.CurrentEvent() < Midifile1.EventCount()) {
            PlayCurrentEvent(sound);
            Midifile1.SetCurrentEvent(Midifile1.CurrentEvent() + 1);
            if (StepMapAt(StepMap, Midifile1.CurrentEvent()) == StepRelease) break;
        }
    } else {
        while (Midifile1.CurrentEvent() < Midifile1.EventCount()) {
            Midifile1.SetCurrentEvent(Midifile1.CurrentEvent() + 1);
            PlayCurrentEvent(sound);
            if (StepMapAt(StepMap, Midifile1.CurrentEvent()) == StepNoteOn) break;
        }
    }
}

void Form1::StepBack()
{
    if (Midifile1.FilePath().isEmpty()) return;
    YieldOnce();
    HideIndicators();
    if (ChordMode->isChecked()) {
        while (Midifile1.CurrentEvent() > 1) {
            PlayCurrentEvent(true);
            Midifile1.SetCurrentEvent(Midifile1.CurrentEvent() - 1);
            if (StepMapAt(StepMap, Midifile1.CurrentEvent()) == StepRelease) break;
        }
    } else {
        while (Midifile1.CurrentEvent() > 1) {
            Midifile1.SetCurrentEvent(Midifile1.CurrentEvent() - 1);
            PlayCurrentEvent(true);
            if (StepMapAt(StepMap, Midifile1.CurrentEvent()) == StepNoteOn) break;
        }
    }
    // The walk's own key changes were hidden; redraw what is held at the new position.
    RebuildKeyboard(Midifile1.CurrentEvent());
}

void Form1::RebuildKeyboard(int target)
{
    ClearKeyboard();
    for (int j = 1; j < target; ++j) {
        Midifile1.SetCurrentEvent(j);
        PlayCurrentEvent(false);
    }
    ShowIndicators();
    Midifile1.SetCurrentEvent(target);
}

void Form1::TagForward_Click()
{
    StepForward();
    const int position = Midifile1.CurrentEvent();
    TagNumber->setText(QString::number(position));
    TagSlider->setValue(position);
}

void Form1::TagBack_Click()
{
    MidiReset();
    StepBack();
    const int position = Midifile1.CurrentEvent();
    TagNumber->setText(QString::number(position));
    TagSlider->setValue(position);
}

}  // namespace vantor
