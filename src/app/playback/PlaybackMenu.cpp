// The Practice menu's playback items: speed, loop, accompaniment, metronome and
// count-in. They are read when Play queues the track; a speed change also
// reaches a running queue at once.
#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QPushButton>
#include <array>

#include "app/Form1.h"
#include "midi/MIDIOutput.h"

namespace vantor {

namespace {

constexpr std::array SpeedSteps{25, 50, 75, 90, 100, 110, 125, 150, 200};
constexpr int NormalSpeed = 100;

}  // namespace

void Form1::BuildPracticePlaybackItems()
{
    const auto connectGuarded = [this](QAction* action, const char* name, void (Form1::*handler)()) {
        connect(action, &QAction::triggered, this,
                [this, name, handler] { Guarded(name, [this, handler] { (this->*handler)(); }); });
    };
    const auto checkable = [this](QMenu* menu, const QString& text, const QString& name) {
        QAction* item = menu->addAction(text);
        item->setObjectName(name);
        item->setCheckable(true);
        return item;
    };

    PracticeMenu->addSeparator()->setObjectName(QStringLiteral("PracticeSep2"));
    SpeedMenu = PracticeMenu->addMenu(QStringLiteral("&Speed"));
    SpeedMenu->setObjectName(QStringLiteral("SpeedMenu"));
    auto* speeds = new QActionGroup(SpeedMenu);
    speeds->setExclusive(true);
    for (const int percent : SpeedSteps) {
        QAction* item =
            checkable(SpeedMenu, QStringLiteral("%1%").arg(percent), QStringLiteral("Speed%1").arg(percent));
        item->setData(percent);
        item->setChecked(percent == NormalSpeed);
        speeds->addAction(item);
        SpeedItems.push_back(item);
        connectGuarded(item, "SpeedItem_Click", &Form1::SpeedItem_Click);
    }
    SpeedMenu->addSeparator()->setObjectName(QStringLiteral("SpeedSep1"));
    SpeedSlower = SpeedMenu->addAction(QStringLiteral("&Slower"));
    SpeedSlower->setObjectName(QStringLiteral("SpeedSlower"));
    SpeedSlower->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    connectGuarded(SpeedSlower, "SpeedSlower_Click", &Form1::SpeedSlower_Click);
    SpeedFaster = SpeedMenu->addAction(QStringLiteral("&Faster"));
    SpeedFaster->setObjectName(QStringLiteral("SpeedFaster"));
    // Ctrl+= too: on many layouts + needs Shift.
    SpeedFaster->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    connectGuarded(SpeedFaster, "SpeedFaster_Click", &Form1::SpeedFaster_Click);

    LoopFromMark = checkable(PracticeMenu, QStringLiteral("&Loop from Mark"), QStringLiteral("LoopFromMark"));
    Accompaniment =
        checkable(PracticeMenu, QStringLiteral("&Accompaniment"), QStringLiteral("Accompaniment"));
    Metronome = checkable(PracticeMenu, QStringLiteral("&Metronome"), QStringLiteral("Metronome"));
    CountIn = checkable(PracticeMenu, QStringLiteral("&Count-in"), QStringLiteral("CountIn"));
}

int Form1::SpeedPercent() const
{
    for (const QAction* item : SpeedItems)
        if (item->isChecked()) return item->data().toInt();
    return NormalSpeed;
}

void Form1::ApplySpeed()
{
    const int speed = SpeedPercent();
    CmdPlay->setToolTip(speed == NormalSpeed ? QStringLiteral("Play")
                                             : QStringLiteral("Play (%1%)").arg(speed));
    // The queue's due times were worked out for QueuedSpeed; from here on it runs
    // at the new speed, nothing resent and nothing skipped.
    if (CmdStop->isEnabled()) MIDIOutput1->SetQueueRate(static_cast<double>(speed) / QueuedSpeed);
}

void Form1::SpeedItem_Click()
{
    ApplySpeed();
    FocusStepForward();
}

void Form1::SpeedSlower_Click()
{
    for (std::size_t i = 1; i < SpeedItems.size(); ++i)
        if (SpeedItems[i]->isChecked()) {
            SpeedItems[i - 1]->setChecked(true);
            break;
        }
    SpeedItem_Click();
}

void Form1::SpeedFaster_Click()
{
    for (std::size_t i = 0; i + 1 < SpeedItems.size(); ++i)
        if (SpeedItems[i]->isChecked()) {
            SpeedItems[i + 1]->setChecked(true);
            break;
        }
    SpeedItem_Click();
}

}  // namespace vantor
