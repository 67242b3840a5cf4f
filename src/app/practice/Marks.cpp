#include <QLineEdit>
#include <QSlider>
#include <algorithm>

#include "app/Form1.h"
#include "app/practice/BoxNumber.h"
#include "common/Guards.h"

namespace vantor {

void Form1::TagMark_Click()
{
    TagMarker->setText(TagNumber->text());
    FocusStepForward();
}

void Form1::TagMarker_Change()
{
    // Every statement may fail and is then skipped; a failing test counts as passed.
    // Without a file or events N is taken as 1, so the corrections settle at once.
    if (PassOnFailure([this] { return BoxNumber(TagMarker->text()) < 1; })) {
        SkipOnFailure([this] { TagMarker->setText(QStringLiteral("1")); });
    }
    if (PassOnFailure(
            [this] { return BoxNumber(TagMarker->text()) > std::max(1, Midifile1.EventCount()); })) {
        SkipOnFailure([this] { TagMarker->setText(QString::number(std::max(1, Midifile1.EventCount()))); });
    }
}

void Form1::TagGoto_Click()
{
    FocusStepForward();
    if (Midifile1.FilePath().isEmpty()) return;
    YieldOnce();
    if (BoxNumber(TagMarker->text()) == Midifile1.CurrentEvent()) return;
    ClearKeyboard();
    MidiReset();
    Midifile1.SetCurrentEvent(TagMarker->text());
    TagSlider->setValue(Midifile1.CurrentEvent());
    TagNumber->setText(QString::number(Midifile1.CurrentEvent()));
    HideIndicators();
    RebuildKeyboard(Midifile1.CurrentEvent());
}

}  // namespace vantor
