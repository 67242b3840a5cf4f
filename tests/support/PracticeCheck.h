#pragma once

// The window's practice side as tables: each row opens a song, runs a script of user
// steps on the window and compares the messages sent, the position and the keys shown.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTest>
#include <functional>

#include "app/Form1.h"
#include "keyboard/PianoKeyboard.h"
#include "midi/MIDIInput.h"
#include "support/FormHarness.h"
#include "support/SmfWriter.h"

namespace vantor::test {

// A message as a word: on60 / off60 the song's note 60 struck (the practice songs use
// velocity note + 30) or ended (velocity 64); +60 / -60 the player's key 60 (channel 16,
// velocity 80 / 0); anything else status.data1.data2 with the status in hex.
inline QString Word(const ShortMessage& m)
{
    const QString note = QString::number(m.data1);
    if (m.status == 0x90 && m.data2 == m.data1 + 30) return "on" + note;
    if (m.status == 0x80 && m.data2 == 64) return "off" + note;
    if (m.status == 0x9F && m.data2 == 80) return "+" + note;
    if (m.status == 0x8F && m.data2 == 0) return "-" + note;
    return QString::asprintf("%02x.%d.%d", m.status, m.data1, m.data2);
}

// Messages sent since the last call, oldest first.
inline QStringList TakeSent(FormHarness& h)
{
    QStringList sent;
    for (const ShortMessage& m : h.devices().SentMessages())
        sent << Word(m);
    h.devices().ClearSent();
    return sent;
}

inline QList<int> LitNotes(const Form1& form)
{
    QList<int> lit;
    for (int note = 21; note <= 108; ++note)
        if (form.Keyboard->IsLit(note)) lit << note;
    return lit;
}

// The window as a user has it: loaded, shown and active, so focus can be checked.
inline void LoadAndShow(FormHarness& h)
{
    h.Load();
    h.form().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&h.form()));
}

inline bool ForwardHasFocus(const Form1& form)
{
    return QApplication::focusWidget() == form.TagForward;
}

// Chord A (C E G, events 1-3) released at 4-6, chord B (D F, 7-8) released at 9-10,
// End of Track at 11.
inline QByteArray TwoChords()
{
    SmfWriter w(0, 96);
    SmfTrack& t = w.AddTrack().NoteOn(0, 0, 60, 90).NoteOn(0, 0, 64, 94).NoteOn(0, 0, 67, 97);
    t.NoteOff(96, 0, 60).NoteOff(0, 0, 64).NoteOff(0, 0, 67).NoteOn(0, 0, 62, 92).NoteOn(0, 0, 65, 95);
    t.NoteOff(96, 0, 62).NoteOff(0, 0, 65);
    return w.Bytes();
}

// "8 ~9 #7.6 @57 F l62 p50 t64 w61": the reader's position; the slider and the number
// box where they differ from it; the mark box unless "1"; F while Step Forward has the
// focus; then every key not at rest: lit, pressed, target, wrong (? any other colour).
inline QString State(const Form1& f)
{
    const int at = f.Midifile1.CurrentEvent();
    QString s = QString::number(at);
    if (f.TagSlider->value() != at) s += " ~" + QString::number(f.TagSlider->value());
    if (f.TagNumber->text() != QString::number(at)) s += " #" + f.TagNumber->text();
    if (f.TagMarker->text() != "1") s += " @" + f.TagMarker->text();
    if (ForwardHasFocus(f)) s += " F";
    for (int note = 21; note <= 108; ++note) {
        const QRgb colour = f.Keyboard->ShownColour(note);
        const auto kind = QList{LitColour, PressedColour, TargetColour, WrongColour, colour}.indexOf(colour);
        if (colour != PianoKeyboard::RestingColour(note)) s += QString(" %1%2").arg("lptw?"[kind]).arg(note);
    }
    return s;
}

// Runs fn n posted events deep (each posts the next), so inside a later yield of the
// window's handlers; nothing runs once the window is gone.
inline void InYield(Form1& f, int n, const std::function<void()>& fn)
{
    QMetaObject::invokeMethod(
        &f, [=, &f] { n > 1 ? InYield(f, n - 1, fn) : fn(); }, Qt::QueuedConnection);
}

// c / n: Chord Mode on / off; f / b: Step Forward / Backward; s: the space bar on Step
// Forward; q: a Step Forward click queued, to run inside the next yield; h / e: Goto
// Begin / End; m / g: Set Mark / Goto Mark; v / ^: the slider pressed / released;
// d: the next track chosen from the list; p: playing (Stop enabled); t: the focus in
// the mark box; !: every step fails its bounds check, and logs it.
inline void Act(Form1& f, QChar c)
{
    if (c == 'c' || c == 'n') f.ChordMode->setChecked(c == 'c');
    if (c == 'f') f.TagForward->click();
    if (c == 'b') f.TagBack->click();
    if (c == 's') QTest::keyClick(f.TagForward, Qt::Key_Space);
    if (c == 'q') QMetaObject::invokeMethod(f.TagForward, "click", Qt::QueuedConnection);
    if (c == 'h') f.TagStart->click();
    if (c == 'e') f.TagEnd->click();
    if (c == 'm') f.TagMark->click();
    if (c == 'g') f.TagGoto->click();
    if (c == 'v' || c == '^') f.TagSlider->setSliderDown(c == 'v');
    if (c == 'd') QTest::keyClick(f.TrackList, Qt::Key_Down);
    if (c == 'p') f.CmdStop->setEnabled(true);
    if (c == 't') f.TagMarker->setFocus();
    if (c == '!') f.StepMap.clear();
    if (c == '!') QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^TagForward_Click: "));
}

// A computer key as X delivers it, to the widget with the focus.
inline void Key(QEvent::Type type, const QString& name, bool autoRepeat = false, quint64 time = 0)
{
    QKeyEvent event(type, QKeySequence(name)[0].key(), Qt::NoModifier, name.toLower(), autoRepeat);
    event.setTimestamp(time);
    QApplication::sendEvent(QApplication::focusWidget(), &event);
}

// Space-separated words: wait, keys and pedal click a Practice item, stop clicks Stop,
// reset Midi Reset; s.d1.d2 is a message from the player (status in hex), +n / -n its
// key n down / up; kX / KX the computer key X down / up, rX X repeating as Qt tells it,
// aX as X sends it (a release and a press at one time); #text / @text put text in the
// number / mark box, ~n moves the slider to n; n/word runs word n posted events deep
// (InYield), without waiting for its messages; other words act letter by letter (Act).
inline void Do(FormHarness& h, const QString& script, bool wait = true)
{
    Form1& f = h.form();
    const QMap<QString, QAction*> items{
        {"wait", f.PracticeWait}, {"keys", f.PracticeKeys}, {"pedal", f.PracticePedal}};
    for (const QString& word : script.split(' ', Qt::SkipEmptyParts)) {
        const QChar c = word[0];
        const QString rest = word.mid(1);
        // The player's keys are notes on channel 16.
        const QString message = QString("%1.%2.%3").arg(c == '+' ? "9f" : "8f", rest, c == '+' ? "80" : "0");
        const QStringList bytes = QStringLiteral("+-").contains(c) ? message.split('.') : word.split('.');
        const auto byte = [&](int i) { return std::uint8_t(bytes[i].toInt(nullptr, i == 0 ? 16 : 10)); };
        if (word.contains('/')) {
            InYield(f, word.section('/', 0, 0).toInt(), [&h, word] { Do(h, word.section('/', 1), false); });
        } else if (items.contains(word)) {
            items[word]->trigger();
        } else if (word == "stop" || word == "reset") {
            (word == "stop" ? f.CmdStop : f.ResetMidi)->click();
        } else if (bytes.size() == 3) {
            QVERIFY(h.devices().Inject({byte(0), byte(1), byte(2)}));
            if (wait) QTRY_COMPARE(f.MIDIInput1->PendingCount(), 0);
        } else if (c == 'k' || c == 'K' || c == 'r') {
            Key(c == 'K' ? QEvent::KeyRelease : QEvent::KeyPress, rest, c == 'r');
        } else if (c == 'a') {
            Key(QEvent::KeyRelease, rest, false, 1000);
            Key(QEvent::KeyPress, rest, false, 1000);
        } else if (c == '#' || c == '@') {
            (c == '#' ? f.TagNumber : f.TagMarker)->setText(rest);
        } else if (c == '~') {
            f.TagSlider->setSliderPosition(rest.toInt());
        } else {
            for (const QChar letter : word)
                Act(f, letter);
        }
    }
    // A computer key's release goes out once it cannot be auto-repeat.
    if (script.contains('K')) QTest::qWait(100);
}

// A practice table: the song (none if empty); a script whose part before the '|' only
// prepares; what each word of the rest sends, separated by commas ("reset" for each
// Midi Reset, = for the player's message echoed unchanged, - for nothing); the State.
inline void PracticeColumns()
{
    QTest::addColumn<QByteArray>("song");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QString>("state");
}

inline void Row(const char* name, const QByteArray& song, const char* script, const char* sent,
                const char* state)
{
    QTest::newRow(name) << song << QString(script) << QString(sent) << QString(state);
}

inline void RunPracticeRow()
{
    QFETCH(QByteArray, song);
    QFETCH(QString, script);
    FormHarness h;
    LoadAndShow(h);
    if (!song.isEmpty()) h.Open(song);
    TakeSent(h);
    h.form().MidiReset();
    const QString reset = TakeSent(h).join(' ');
    Do(h, script.section('|', 0, 0));
    h.form().TagBack->setFocus();  // so a return of the focus shows
    TakeSent(h);
    QStringList sent;
    for (const QString& word : script.section('|', 1).split(' ', Qt::SkipEmptyParts)) {
        Do(h, word);
        QStringList part = TakeSent(h).join(' ').replace(reset, "reset").split(' ', Qt::SkipEmptyParts);
        if (word != "reset") std::replace(part.begin(), part.end(), word, QStringLiteral("="));
        sent << (part.isEmpty() ? "-" : part.join(' '));
    }
    QTEST(sent.join(", "), "sent");
    QTEST(State(h.form()), "state");
    QVERIFY(h.form().Keyboard->IndicatorsVisible());
}

}  // namespace vantor::test
