// Timed playback of the selected track through the output port's queue. The port
// keeps the time; the window only follows its MessagePlayed reports.
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QString>

#include "app/BusyCursor.h"
#include "app/Form1.h"
#include "common/Guards.h"
#include "midi/MIDIOutput.h"
#include "midi/NoteTag.h"
#include "song/NoteKind.h"

namespace vantor {

namespace {

QString TooLongForPlayback(std::int32_t events)
{
    return QStringLiteral(
               "This track has %1 events. Playback can follow tracks of up to %2 events; "
               "use Step Forward to go through it.")
        .arg(events)
        .arg(MaxTaggedEvent);
}

}  // namespace

void Form1::StartPlayback()
{
    CmdPlay->setEnabled(false);
    CmdStop->setEnabled(true);
    try {
        OpenOutput();
        // Nothing would ever report the end of a queue on a closed port.
        if (MIDIOutput1->OpenState() < 1) {
            StopPlayback();
            return;
        }
        QueueTrack();
    } catch (...) {
        // Half a queue must not start, and the buttons must not claim playback.
        MIDIOutput1->SetAction(ActionClearQueue);
        CmdStop->setEnabled(false);
        CmdPlay->setEnabled(true);
        throw;
    }
    // A Stop handled inside QueueTrack's yield has already put the buttons back.
    if (!CmdStop->isEnabled() || IsClosing()) return;
    MIDIOutput1->SetAction(ActionStartQueue);
}

void Form1::QueueTrack()
{
    if (Midifile1.FilePath().isEmpty()) return;
    YieldOnce();
    if (!CmdStop->isEnabled() || IsClosing()) return;
    MIDIOutput1->SetAction(ActionClearQueue);

    const std::int32_t start = Midifile1.CurrentEvent();
    const std::int32_t last = Midifile1.EventCount();
    if (last > MaxTaggedEvent) {
        Hooks().ShowMessage(this, TooLongForPlayback(last));
        StopPlayback();
        return;
    }
    const BusyCursor busy;
    // 64 bits: a long track of long deltas may pass the 32-bit range.
    std::int64_t total = 0;
    for (std::int32_t i = start; i <= last; ++i) {
        Midifile1.SetCurrentEvent(i);
        const int status = Midifile1.EventStatus();
        const int data1 = Midifile1.EventData1();
        const int data2 = Midifile1.EventData2();
        MIDIOutput1->SetStatus(status);
        MIDIOutput1->SetData1(data1);
        MIDIOutput1->SetData2(data2);
        if (IsNoteOn(status, data2)) {
            MIDIOutput1->SetTag(PackNoteTag(i, data1, true));
        } else if (IsNoteOff(status, data2)) {
            MIDIOutput1->SetTag(PackNoteTag(i, data1, false));
        }
        // The start event's own delta counts: the first message is not due at once.
        total += Midifile1.EventDelta();
        MIDIOutput1->SetTimeStamp(QueueDueTime(MsPerTick, total));
        MIDIOutput1->SetAction(ActionQueueMessage);
    }
    Midifile1.SetCurrentEvent(start);
    setWindowTitle(QStringLiteral("Vantor Piano Tutor"));
}

void Form1::OnMessagePlayed(std::int32_t tag)
{
    // Reports only mean something while playing; a late one must not move the
    // number box of an idle window (its handler would act on it).
    if (tag == NoTag || !CmdStop->isEnabled()) return;
    const std::int32_t step = NoteTagStep(tag);
    TagNumber->setText(QString::number(step));
    TagSlider->setValue(step);
    const int note = NoteTagNote(tag);
    if (!HasKey(note)) return;
    if (NoteTagIsOn(tag)) {
        PaintKeyLit(note);
    } else {
        PaintKeyRest(note);
    }
}

void Form1::StopPlayback()
{
    if (Midifile1.FilePath().isEmpty()) return;
    MIDIOutput1->SetAction(ActionStopQueue);
    MIDIOutput1->SetTag(NoTag);
    MidiReset();
    YieldOnce();
    if (IsClosing()) return;

    // Redraw the song's lit keys as they stand before the position, silently;
    // the reader ends on the last event replayed until the position is put back.
    const std::int32_t pos = Midifile1.CurrentEvent();
    HideIndicators();
    ClearKeyboard();
    for (std::int32_t j = 1; j < pos; ++j) {
        Midifile1.SetCurrentEvent(j);
        PlayCurrentEvent(false);
    }
    ShowIndicators();

    // Writing the number box runs its handler, as every write of it does; Qt
    // raises nothing for an unchanged text, so that case calls it itself. While
    // idle the handler then finds the reader one event short of the box and moves.
    const QString number = QString::number(pos);
    if (TagNumber->text() == number) {
        RunGuarded("TagNumber_Change", [this] { TagNumber_Change(); });
    } else {
        TagNumber->setText(number);
    }
    TagSlider->setValue(pos);
    Midifile1.SetCurrentEvent(pos);
    if (TagForward->isEnabled()) FocusStepForward();
    CmdStop->setEnabled(false);
    CmdPlay->setEnabled(true);
}

void Form1::CmdPlay_Click()
{
    StartPlayback();
    // Playback may already be over (a Stop inside the queueing yield).
    if (CmdStop->isEnabled()) {
        CmdStop->setFocus();
    } else {
        FocusStepForward();
    }
}

void Form1::CmdStop_Click()
{
    {
        const BusyCursor busy;
        StopPlayback();
    }
    FocusStepForward();
}

}  // namespace vantor
