#include <QComboBox>
#include <QLineEdit>
#include <QSlider>

#include "app/Form1.h"
#include "common/ComponentError.h"
#include "song/StepMap.h"

namespace vantor {

void Form1::SelectTrack()
{
    if (Midifile1.FilePath().isEmpty()) return;
    const int entry = TrackList->currentIndex();
    if (entry < 0) throw ComponentError("No track is selected");
    const std::int32_t track = entry + TrackBase;
    Midifile1.SetCurrentTrack(track);

    // Either end may move the slider's value, which runs its handler like any move.
    TagSlider->setMinimum(1);
    if (Midifile1.EventCount() > 1) TagSlider->setMaximum(Midifile1.EventCount());
    TagNumber->setText(QStringLiteral("1"));
    YieldOnce();

    StepMap.assign(static_cast<std::size_t>(Midifile1.EventCount()) + 2, 0);
    MarkStepMap(Midifile1, StepMap);
    ++songLoads_;

    Midifile1.SetCurrentEvent(1);
    TagNumber->setText(QStringLiteral("1"));
    TagSlider->setValue(1);
    TagMarker->setText(QStringLiteral("1"));
    ClearKeyboard();
    OpenOutput();
}

void Form1::TrackList_Click()
{
    FocusStepForward();
    SelectTrack();
}

}  // namespace vantor
