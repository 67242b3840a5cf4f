#pragma once

// What the song and practice tests read back from a window: the messages sent since
// the last look, the lit keys, and the state of the position controls.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "app/Form1.h"
#include "keyboard/PianoKeyboard.h"
#include "support/FormHarness.h"
#include "support/SmfWriter.h"

namespace vantor::test {

// Messages as hex text ("90 3c 64"), so a failed comparison shows them.
inline QString Msg(int status, int data1, int data2)
{
    return QString::asprintf("%02x %02x %02x", status, data1, data2);
}

// Messages sent since the last call, oldest first.
inline QStringList TakeSent(FormHarness& h)
{
    QStringList sent;
    for (const ShortMessage& m : h.devices().SentMessages())
        sent << Msg(m.status, m.data1, m.data2);
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

// The practice songs strike each note with velocity note + 30, so a message shows
// which event sent it.
inline const auto On = [](int note) { return Msg(0x90, note, note + 30); };
inline const auto Off = [](int note) { return Msg(0x80, note, 64); };

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

// C3 held from event 1 to the end; between, note pairs on 60..71, the note-on at an
// even event and its note-off at the next odd one (2 * pairs + 3 events).
inline QByteArray HeldBass(int pairs)
{
    SmfWriter w(0, 96);
    SmfTrack& t = w.AddTrack().NoteOn(0, 0, 48, 78);
    for (int i = 0; i < pairs; ++i)
        t.NoteOn(0, 0, 60 + i % 12, 90 + i % 12).NoteOff(24, 0, 60 + i % 12);
    t.NoteOff(0, 0, 48);
    return w.Bytes();
}

// "8 ~9 #7.6 @57 F": the reader's position; the slider and the number box where they
// differ from it; the mark box unless "1"; F while Step Forward has the focus.
inline QString State(const Form1& f)
{
    const int at = f.Midifile1.CurrentEvent();
    QString s = QString::number(at);
    if (f.TagSlider->value() != at) s += " ~" + QString::number(f.TagSlider->value());
    if (f.TagNumber->text() != QString::number(at)) s += " #" + f.TagNumber->text();
    if (f.TagMarker->text() != "1") s += " @" + f.TagMarker->text();
    return ForwardHasFocus(f) ? s + " F" : s;
}

// c / n: Chord Mode on / off; f / b: Step Forward / Backward; s: the space bar on Step
// Forward; q: a Step Forward click queued, to run inside the next yield; h / e: Goto
// Begin / End; m / g: Set Mark / Goto Mark; v / ^: the slider pressed / released;
// d: the next track chosen from the list; p: playing (Stop enabled).
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
}

// Space-separated words: #text / @text put text in the number / mark box, ~n moves
// the slider to n, and a word of letters acts letter by letter.
inline void Do(Form1& f, const QString& script)
{
    for (const QString& word : script.split(' ', Qt::SkipEmptyParts)) {
        if (word[0] == '#') f.TagNumber->setText(word.mid(1));
        if (word[0] == '@') f.TagMarker->setText(word.mid(1));
        if (word[0] == '~') f.TagSlider->setSliderPosition(word.mid(1).toInt());
        if (QStringLiteral("#@~").contains(word[0])) continue;
        for (const QChar c : word)
            Act(f, c);
    }
}

// A practice table: the song (none if empty); a script whose part before the '|' only
// prepares; what the rest sends ("reset" for each Midi Reset); the lit keys; the State.
inline void PracticeColumns()
{
    QTest::addColumn<QByteArray>("song");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QList<int>>("lit");
    QTest::addColumn<QString>("state");
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
    const QString reset = TakeSent(h).join('\n');
    Do(h.form(), script.section('|', 0, 0));
    h.form().TagMarker->setFocus();  // so a return of the focus shows
    TakeSent(h);
    Do(h.form(), script.section('|', 1));
    QTEST(TakeSent(h).join('\n').replace(reset, "reset").split('\n', Qt::SkipEmptyParts), "sent");
    QTEST(LitNotes(h.form()), "lit");
    QTEST(State(h.form()), "state");
    QVERIFY(h.form().Keyboard->IndicatorsVisible());
}

}  // namespace vantor::test
