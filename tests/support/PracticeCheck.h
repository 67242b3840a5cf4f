#pragma once

// The window's practice side as tables: each row opens a song, runs a script of user
// steps on the window and compares the messages sent, the position and the keys shown.

#include <QtTest>
#include <QtWidgets>

#include "keyboard/PianoKeyboard.h"
#include "midi/MIDIInput.h"
#include "support/FormHarness.h"

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

// Chord A (C E G, events 1-3) released at 4-6 (E by a velocity-0 note-on), chord B (D F,
// 7-8) released at 9-10, End of Track at 11.
inline QByteArray TwoChords()
{
    SmfWriter w(0, 96);
    SmfTrack& t = w.AddTrack().NoteOn(0, 0, 60, 90).NoteOn(0, 0, 64, 94).NoteOn(0, 0, 67, 97);
    t.NoteOff(96, 0, 60).NoteOn(0, 0, 64, 0).NoteOff(0, 0, 67).NoteOn(0, 0, 62, 92).NoteOn(0, 0, 65, 95);
    t.NoteOff(96, 0, 62).NoteOff(0, 0, 65);
    return w.Bytes();
}

// "8 ~9 #7.6 @57 F l62 p50 t64 w61": the reader's position; the slider and the number
// box where they differ from it; the mark box unless "1"; F while Step Forward has the
// focus; then every key not at rest: lit, pressed, target or wrong.
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
        const auto kind = QList{LitColour, PressedColour, TargetColour, WrongColour}.indexOf(colour);
        if (colour != PianoKeyboard::RestingColour(note))
            s += QString(" %1%2").arg("?lptw"[kind + 1]).arg(note);
    }
    return s;
}

// Space-separated words, each a user step: f b h e m g c reset: Step Forward / Backward,
// Goto Begin / End, Set / Goto Mark, Chord Mode, Midi Reset; wait keys pedal: a Practice
// item; input: the same input chosen again; leave: another window activated; t: the
// focus in the mark box; v / ^: the slider pressed / released; ~n: the
// slider moved to n; #text / @text: text in the number / mark box; s.d1.d2: a message
// from the player (status in hex), +n / -n: its key n down / up; kX / KX: the computer
// key X down / up, rX: X repeating as Qt tells it, aX: as X tells it (a release and a
// press at one time); n/word: word run n posted events deep, so inside a later yield of
// the window's handlers, without waiting for its messages.
inline void Do(FormHarness& h, const QString& script, bool wait = true)
{
    Form1& f = h.form();
    const QMap<QString, QObject*> clicks{
        {"f", f.TagForward},      {"b", f.TagBack},         {"h", f.TagStart},         {"e", f.TagEnd},
        {"m", f.TagMark},         {"g", f.TagGoto},         {"c", f.ChordMode},        {"reset", f.ResetMidi},
        {"wait", f.PracticeWait}, {"keys", f.PracticeKeys}, {"pedal", f.PracticePedal}};
    for (const QString& word : script.split(' ', Qt::SkipEmptyParts)) {
        const QChar c = word[0];
        const QString rest = word.mid(1);
        const QString key = QString(c == '+' ? "9f.%1.80" : "8f.%1.0").arg(rest);  // channel 16
        const QStringList bytes = (c == '+' || c == '-' ? key : word).split('.');
        if (word.contains('/')) {
            std::function<void()> run = [&h, word] { Do(h, word.section('/', 1), false); };
            for (int i = word.section('/', 0, 0).toInt(); i > 0; --i)
                run = [&f, run] { QMetaObject::invokeMethod(&f, run, Qt::QueuedConnection); };
            run();
        } else if (auto* action = qobject_cast<QAction*>(clicks.value(word))) {
            action->trigger();
        } else if (auto* button = qobject_cast<QAbstractButton*>(clicks.value(word))) {
            button->click();
        } else if (word == "t") {
            f.TagMarker->setFocus();
        } else if (word == "input") {
            emit f.InputDevCombo->activated(f.InputDevCombo->currentIndex());
        } else if (word == "leave") {
            QEvent deactivate(QEvent::WindowDeactivate);
            QApplication::sendEvent(&f, &deactivate);
        } else if (bytes.size() == 3) {
            QVERIFY(h.devices().Inject({std::uint8_t(bytes[0].toInt(nullptr, 16)),
                                        std::uint8_t(bytes[1].toInt()), std::uint8_t(bytes[2].toInt())}));
            if (wait) QTRY_COMPARE(f.MIDIInput1->PendingCount(), 0);
        } else if (QStringLiteral("kKra").contains(c)) {
            // To the widget with the focus, as X delivers keys.
            const auto send = [&](QEvent::Type type) {
                QKeyEvent event(type, QKeySequence(rest)[0].key(), Qt::NoModifier, rest.toLower(), c == 'r');
                event.setTimestamp(c == 'a' ? 1000 : 0);
                QApplication::sendEvent(QApplication::focusWidget(), &event);
            };
            if (c == 'a') send(QEvent::KeyRelease);
            send(c == 'K' ? QEvent::KeyRelease : QEvent::KeyPress);
            // A release goes out once it cannot be auto-repeat.
            if (c == 'K') QTest::qWait(100);
        } else if (c == '#' || c == '@') {
            (c == '#' ? f.TagNumber : f.TagMarker)->setText(rest);
        } else if (c == '~') {
            f.TagSlider->setSliderPosition(rest.toInt());
        } else {
            QVERIFY2(c == 'v' || c == '^', qPrintable(word));
            f.TagSlider->setSliderDown(c == 'v');
        }
    }
}

// A practice table: the song; a script whose part before the '|' only
// prepares; what the rest sends ("reset" for each Midi Reset); the State after it.
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
    h.Open(song);
    TakeSent(h);
    h.form().MidiReset();
    const QString reset = TakeSent(h).join(' ');
    Do(h, script.section('|', 0, 0));
    h.form().TagBack->setFocus();  // so a return of the focus shows
    TakeSent(h);
    Do(h, script.section('|', 1));
    QTEST(TakeSent(h).join(' ').replace(reset, "reset"), "sent");
    QTEST(State(h.form()), "state");
    QVERIFY(h.form().Keyboard->IndicatorsVisible());
}

}  // namespace vantor::test
