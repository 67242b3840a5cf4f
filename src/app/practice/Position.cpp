#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <algorithm>
#include <optional>

#include "app/Form1.h"
#include "app/practice/BoxNumber.h"
#include "common/ComponentError.h"
#include "common/Guards.h"

namespace vantor {

void Form1::TagNumber_Change()
{
    if (Midifile1.FilePath().isEmpty() || CmdStop->isEnabled()) return;
    YieldOnce();

    // From here a failing statement is skipped and a failing test counts as passed.
    if (PassOnFailure([this] { return BoxNumber(TagNumber->text()) < 1; })) {
        SkipOnFailure([this] { TagNumber->setText(QStringLiteral("1")); });
    }
    // A track without events still has position 1: with N taken as 0 the two
    // corrections would rewrite each other without end.
    if (PassOnFailure(
            [this] { return BoxNumber(TagNumber->text()) > std::max(1, Midifile1.EventCount()); })) {
        SkipOnFailure([this] { TagNumber->setText(QString::number(std::max(1, Midifile1.EventCount()))); });
    }
    if (PassOnFailure([this] { return BoxNumber(TagNumber->text()) != Midifile1.CurrentEvent(); })) {
        SkipOnFailure([this] { ClearKeyboard(); });
        SkipOnFailure([this] { MidiReset(); });
        SkipOnFailure([this] { Midifile1.SetCurrentEvent(TagNumber->text()); });
        SkipOnFailure([this] { TagSlider->setValue(Midifile1.CurrentEvent()); });
    }
}

void Form1::TagSlider_Change()
{
    if (Midifile1.FilePath().isEmpty() || CmdStop->isEnabled()) return;
    YieldOnce();
    if (Midifile1.CurrentEvent() != TagSlider->value()) {
        ClearKeyboard();
        MidiReset();
        Midifile1.SetCurrentEvent(TagSlider->value());
        TagNumber->setText(QString::number(Midifile1.CurrentEvent()));
    }
}

void Form1::TagStart_Click()
{
    FocusStepForward();
    if (Midifile1.FilePath().isEmpty()) return;
    YieldOnce();
    Midifile1.SetCurrentEvent(1);
    TagNumber->setText(QStringLiteral("1"));
    TagSlider->setValue(1);
    ClearKeyboard();
    MidiReset();
}

void Form1::TagEnd_Click()
{
    FocusStepForward();
    if (Midifile1.FilePath().isEmpty()) return;
    YieldOnce();
    // An empty track ends where it starts.
    Midifile1.SetCurrentEvent(std::max(1, Midifile1.EventCount()));
    TagNumber->setText(QString::number(Midifile1.CurrentEvent()));
    TagSlider->setValue(Midifile1.CurrentEvent());
    ClearKeyboard();
    MidiReset();
}

}  // namespace vantor
