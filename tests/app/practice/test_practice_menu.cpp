// The Practice menu on memory devices: waiting for notes, the computer keys, the pedal.
#include <QAction>
#include <QKeyEvent>

#include "midi/MIDIInput.h"

#include "support/PracticeCheck.h"

using namespace vantor;
using namespace vantor::test;

namespace {

// The position, then every key shown in the target (t) or wrong-note (w) colour.
QString Shown(const Form1& f)
{
    QString s = QString::number(f.Midifile1.CurrentEvent());
    for (int note = 21; note <= 108; ++note) {
        const QRgb colour = f.Keyboard->ShownColour(note);
        if (colour == TargetColour) s += " t" + QString::number(note);
        if (colour == WrongColour) s += " w" + QString::number(note);
    }
    return s;
}

void Key(Form1& f, QEvent::Type type, const QString& name, bool autoRepeat = false, quint64 time = 0)
{
    const QKeySequence sequence(name);
    QKeyEvent event(type, sequence[0].key(), Qt::NoModifier, name.toLower(), autoRepeat);
    event.setTimestamp(time);
    QApplication::sendEvent(QApplication::focusWidget() ? QApplication::focusWidget() : &f, &event);
}

// Words: +n / -n the player's keyboard (channel 16) pressing / releasing n, P / L
// its pedal down / lifted, kX / KX the computer key X down / up, rX X repeating (as
// Qt tells it), aX X repeating as X sends it (a release and a press at one time), m the
// focus in the mark box; the letters of PracticeCheck's Act (f, e, p, ...) act; W
// unticks Wait for My Notes; S clicks Stop, R Midi Reset.
void Play(FormHarness& h, const QString& script)
{
    Form1& f = h.form();
    for (const QString& word : script.split(' ', Qt::SkipEmptyParts)) {
        const QChar c = word[0];
        const int n = word.mid(1).toInt();
        if (c == '+' || c == '-' || c == 'P' || c == 'L') {
            const ShortMessage m = c == '+'   ? ShortMessage{0x9F, std::uint8_t(n), 80}
                                   : c == '-' ? ShortMessage{0x8F, std::uint8_t(n), 0}
                                              : ShortMessage{0xBF, 64, std::uint8_t(c == 'P' ? 127 : 0)};
            QVERIFY(h.devices().Inject(m));
            QTRY_COMPARE(f.MIDIInput1->PendingCount(), 0);
        } else if (c == 'k' || c == 'K' || c == 'r') {
            Key(f, c == 'K' ? QEvent::KeyRelease : QEvent::KeyPress, word.mid(1), c == 'r');
        } else if (c == 'a') {
            Key(f, QEvent::KeyRelease, word.mid(1), false, 1000);
            Key(f, QEvent::KeyPress, word.mid(1), false, 1000);
        } else if (c == 'm') {
            f.TagMarker->setFocus();
        } else if (c == 'W') {
            f.PracticeWait->trigger();
        } else if (c == 'S') {
            f.CmdStop->click();
        } else if (c == 'R') {
            f.ResetMidi->click();
        } else {
            Do(f, word);
        }
    }
    // A computer key's release goes out once it cannot be auto-repeat.
    if (script.contains('K')) QTest::qWait(100);
}

}  // namespace

class TestPracticeMenu : public QObject
{
    Q_OBJECT
private slots:
    void practice_data()
    {
        QTest::addColumn<QString>("items");  // w k p: the items ticked, c: Chord Mode
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QString>("shown");
        // Two Chords: C E G (events 1-3), released at 4-6; D F (7-8), released at 9-10.
        const auto row = [](const char* name, const char* items, const char* script, const QStringList& sent,
                            const char* shown) { QTest::newRow(name) << items << script << sent << shown; };
        const auto echo = [](int note) { return Msg(0x9F, note, 80); };
        const auto up = [](int note) { return Msg(0x8F, note, 0); };
        row("ticked: the next note", "w", "", {}, "1 t64");
        row("ticked in Chord Mode: the next chord", "wc", "", {}, "1 t60 t64 t67");
        row("played: one silent step", "w", "+64", {echo(64)}, "2 t67");
        row("a chord in any order: one silent step", "wc", "+67 +60 +64", {echo(67), echo(60), echo(64)},
            "4 t62 t65");
        row("wrong note held: no step", "wc", "+60 +61 +64 +67", {echo(60), echo(61), echo(64), echo(67)},
            "1 w61");
        row("wrong note released: the step", "wc", "+60 +61 +64 +67 -61",
            {echo(60), echo(61), echo(64), echo(67), up(61)}, "4 t62 t65");
        row("legato into the next chord", "wc", "+60 +64 +67 +62 +65",
            {echo(60), echo(64), echo(67), echo(62), echo(65)}, "9");
        row("C8 mid-chord: one step, new targets", "wc", "+60 +64 +108 +67",
            {echo(60), echo(64), On(60), On(64), On(67), echo(108), echo(67)}, "4 t62 t65 w67");
        row("Step Forward moves the targets", "w", "f", {On(64)}, "2 t67");
        row("end of the track: nothing waits", "w", "e +60", {"reset", echo(60)}, "11");
        row("playing: no targets, no step", "w", "p +64", {echo(64)}, "1");
        row("stopped: the targets again", "w", "p +64 -64 S", {echo(64), up(64), "reset"}, "1 t64");
        row("Midi Reset forgets a release never sent", "w", "+61 R", {echo(61), "reset"}, "1 t64");
        row("unticked: no colours", "wc", "+61 W", {echo(61)}, "1");
        row("unticked: the player only echoes", "", "+64", {echo(64)}, "1");
        row("computer keys: echoed, counted", "wck", "kQ kE KQ kT",
            {Msg(0x90, 60, 100), Msg(0x90, 64, 100), Msg(0x80, 60, 64), Msg(0x90, 67, 100)}, "1 t60");
        row("computer keys: held chord steps", "wck", "kT kQ kE",
            {Msg(0x90, 67, 100), Msg(0x90, 60, 100), Msg(0x90, 64, 100)}, "4 t62 t65");
        row("computer keys: repeat sends nothing", "k", "kZ rZ rZ KZ",
            {Msg(0x90, 48, 100), Msg(0x80, 48, 64)}, "1");
        row("computer keys: pressed again while held", "k", "kZ kZ KZ",
            {Msg(0x90, 48, 100), Msg(0x80, 48, 64)}, "1");
        row("computer keys: repeat as X sends it", "k", "kZ aZ aZ KZ",
            {Msg(0x90, 48, 100), Msg(0x80, 48, 64)}, "1");
        row("computer keys: octave up", "k", "k= kQ K= KQ", {Msg(0x90, 72, 100), Msg(0x80, 72, 64)}, "1");
        row("computer keys: unticked", "w", "kE", {}, "1 t64");
        row("computer keys: not in a text box", "k", "m k2", {}, "1");
        row("pedal: one step per press", "p", "P P L P",
            {On(64), Msg(0xBF, 64, 127), Msg(0xBF, 64, 127), Msg(0xBF, 64, 0), On(67), Msg(0xBF, 64, 127)},
            "3");
        row("pedal unticked: echoed only", "", "P", {Msg(0xBF, 64, 127)}, "1");
    }
    void practice()
    {
        QFETCH(QString, items);
        QFETCH(QString, script);
        FormHarness h;
        LoadAndShow(h);
        h.Open(TwoChords());
        Form1& f = h.form();
        f.ChordMode->setChecked(items.contains('c'));
        for (const auto& [letter, item] :
             {std::pair{'w', f.PracticeWait}, {'k', f.PracticeKeys}, {'p', f.PracticePedal}})
            if (items.contains(letter)) item->trigger();
        f.TagForward->setFocus();
        TakeSent(h);
        f.MidiReset();
        const QString reset = TakeSent(h).join('\n');
        Play(h, script);
        QTEST(TakeSent(h).join('\n').replace(reset, "reset").split('\n', Qt::SkipEmptyParts), "sent");
        QTEST(Shown(f), "shown");
    }
};

QTEST_MAIN(TestPracticeMenu)
#include "test_practice_menu.moc"
