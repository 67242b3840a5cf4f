// Timed playback of the selected track through the output port's queue. The port
// keeps the time; the window only follows its MessagePlayed reports.
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QString>
#include <cmath>

#include "app/BusyCursor.h"
#include "app/Form1.h"
#include "app/practice/BoxNumber.h"
#include "common/Guards.h"
#include "midi/MIDIOutput.h"
#include "midi/NoteTag.h"
#include "song/NoteKind.h"
#include "song/PlaybackPlan.h"

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

int Form1::MarkedEvent() const
{
    // A mark box that holds no number marks nothing.
    try {
        const double mark = BoxNumber(TagMarker->text());
        return mark >= 1 && mark <= MaxTaggedEvent ? static_cast<int>(std::lround(mark)) : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

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
    PlaybackRequest request;
    request.start = start;
    request.loopFrom = LoopFromMark->isChecked() ? MarkedEvent() : 0;
    request.speedPercent = SpeedPercent();
    request.accompaniment = Accompaniment->isChecked();
    request.metronome = Metronome->isChecked();
    request.countIn = CountIn->isChecked();
    request.msPerTick = MsPerTick;
    const PlaybackPlan plan = PlanPlayback(Midifile1, request);
    // Only the selected track's notes carry tags: the window follows them alone.
    for (const PlannedMessage& message : plan.messages) {
        MIDIOutput1->SetStatus(message.status);
        MIDIOutput1->SetData1(message.data1);
        MIDIOutput1->SetData2(message.data2);
        if (message.event > 0 && IsNoteOn(message.status, message.data2)) {
            MIDIOutput1->SetTag(PackNoteTag(message.event, message.data1, true));
        } else if (message.event > 0 && IsNoteOff(message.status, message.data2)) {
            MIDIOutput1->SetTag(PackNoteTag(message.event, message.data1, false));
        }
        MIDIOutput1->SetTimeStamp(message.due);
        MIDIOutput1->SetAction(ActionQueueMessage);
    }
    if (plan.loopPeriod > 0) MIDIOutput1->SetQueueLoop(plan.loopFirst, plan.loopPeriod);
    QueuedSpeed = request.speedPercent;
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
