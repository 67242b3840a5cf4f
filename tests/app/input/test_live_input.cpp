// The player's keyboard, its pedal and the computer keys on memory devices, as rows of
// practice tables; the player plays on channel 16.
#include "support/PracticeCheck.h"

using namespace vantor::test;

class LiveInputTest : public QObject
{
    Q_OBJECT
private slots:
    void live_data()
    {
        PracticeColumns();
        const QByteArray t = TwoChords();
        Row("C8 at velocity 0, B7 released: no step", t, "|90.108.0 80.107.9", "90.108.0 80.107.9", "1");
        Row("a controller leaves a pressed key", t, "|90.64.37 b0.64.1", "90.64.37 b0.64.1", "1 p64");
        Row("B7 resets and replays before the echo", t, "f|+107", "reset on60 +107", "1 p107");
        // The rest of the burst arrives while the step for the first C8 yields.
        Row("a burst during a step: each message once, in order", t,
            "|4/9f.50.10 4/8f.108.0 4/9f.108.91 4/-50 +108", "on64 +108 9f.50.10 -108 on67 9f.108.91 -50",
            "3 l64 l67 p108");
        // Midi Reset clicked in the first yield and again in the second: each message waits for one.
        Row("yields once per message", t, "|1/reset 1/9f.51.10 3/reset +50", "reset +50 reset 9f.51.10",
            "1 F p50 p51");
        Row("pedal: one step per press, none once unticked", t, "pedal|bf.64.127 bf.64.0 pedal bf.64.127",
            "on64 bf.64.127 bf.64.0 bf.64.127", "2 l64");
        Row("computer keys: a held chord steps", t, "c wait keys|kT kQ kE", "90.67.100 90.60.100 90.64.100",
            "4 l60 t62 l64 t65 l67");
        Row("computer keys: repeats and presses while held send nothing", t, "keys|kZ rZ kZ aZ KZ kZ",
            "90.48.100 off48 90.48.100", "1 p48");
        Row("computer keys: octave up", t, "keys|k= r= kQ K= KQ", "90.72.100 off72", "1");
        Row("computer keys: unticking ends held notes", t, "keys|kZ keys kE", "90.48.100 off48", "1 F");
        Row("computer keys: leaving the window ends held notes", t, "keys|kZ leave", "90.48.100 off48", "1");
        Row("computer keys: not in a text box", t, "keys|t k2", "", "1 @11");
    }
    void live() { RunPracticeRow(); }
};

QTEST_MAIN(LiveInputTest)
#include "test_live_input.moc"
