// The Practice menu and waiting for the player's notes: the next step's notes are
// marked on the keyboard, and playing them takes the step.
#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>

#include "app/Form1.h"
#include "keyboard/PianoKeyboard.h"
#include "song/NoteKind.h"
#include "song/WaitJudge.h"

namespace vantor {

namespace {

// B7 and C8 step through the song when played, so they are never waited for.
bool Waitable(int note)
{
    return HasKey(note) && note != 107 && note != 108;
}

}  // namespace

void Form1::BuildPracticeMenu()
{
    PracticeMenu = menuBar()->addMenu(QStringLiteral("&Practice"));
    PracticeMenu->setObjectName(QStringLiteral("PracticeMenu"));
    const auto item = [this](const char* name, const QString& text) {
        QAction* action = PracticeMenu->addAction(text);
        action->setObjectName(QLatin1String(name));
        action->setCheckable(true);
        return action;
    };
    PracticeWait = item("PracticeWait", QStringLiteral("&Wait for My Notes"));
    PracticeKeys = item("PracticeKeys", QStringLiteral("Computer &Keyboard Plays Notes"));
    PracticePedal = item("PracticePedal", QStringLiteral("&Pedal Steps Forward"));
    connect(PracticeWait, &QAction::triggered, this,
            [this] { Guarded("PracticeWait_Click", [this] { PracticeWait_Click(); }); });
    connect(PracticeKeys, &QAction::triggered, this,
            [this] { Guarded("PracticeKeys_Click", [this] { PracticeKeys_Click(); }); });
    BuildPracticePlaybackItems();
}

void Form1::PracticeWait_Click()
{
    UpdateWait();
    FocusStepForward();
}

void Form1::PracticeKeys_Click()
{
    if (!PracticeKeys->isChecked()) ReleaseComputerKeys();
    FocusStepForward();
}

std::optional<Form1::WaitPlace> Form1::CurrentWaitPlace() const
{
    // Playback shows the song itself; without a song there is nothing to wait for.
    if (!PracticeWait->isChecked() || Midifile1.FilePath().isEmpty() || CmdStop->isEnabled()) return {};
    return WaitPlace{songLoads_, Midifile1.CurrentEvent(), ChordMode->isChecked()};
}

void Form1::UpdateWait()
{
    const std::optional<WaitPlace> place = CurrentWaitPlace();
    if (!place) {
        if (waitPlace_) Keyboard->ClearMarks();
        waitPlace_.reset();
        waitTargets_.clear();
        return;
    }
    if (place != waitPlace_) {
        // Recorded first: a song that cannot be read is reported once, not on every event.
        waitPlace_ = place;
        waitTargets_.clear();
        waitTargets_ = StepTargets(Midifile1, StepMap, place->chordMode);
        std::erase_if(waitTargets_, [](int note) { return !Waitable(note); });
        // Keys already down belong to what came before.
        waitBoundary_ = HeldInput.LastPress();
    }
    const WaitVerdict verdict = JudgeWait(waitTargets_, HeldInput.Keys(), waitBoundary_);
    const auto has = [](const std::vector<int>& notes, int note) {
        return std::find(notes.begin(), notes.end(), note) != notes.end();
    };
    for (int note = LowestKeyNote; note <= HighestKeyNote; ++note) {
        MarkKey(note, has(verdict.wrongNotes, note) ? KeyMark::Wrong
                      : has(waitTargets_, note)     ? KeyMark::Target
                                                    : KeyMark::None);
    }
    if (verdict.takeStep) TakeWaitStep();
}

void Form1::TakeWaitStep()
{
    // Spent before anything can run nested: these presses take this step only.
    waitBoundary_ = HeldInput.LastPress();
    const std::optional<WaitPlace> before = waitPlace_;
    YieldOnce();
    // A step key, a click or the menu may have got there first.
    if (IsClosing() || CurrentWaitPlace() != before) return;
    // The player's own notes sound already: the step only moves and lights.
    WalkForward(false);
    const int position = Midifile1.CurrentEvent();
    TagNumber->setText(QString::number(position));
    TagSlider->setValue(position);
    UpdateWait();
}

}  // namespace vantor
