#pragma once

// What the song and practice tests read back from a window: the messages sent since
// the last look, the lit keys, and the state of the position controls.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QList>
#include <QPushButton>
#include <QSlider>
#include <QStringList>
#include <QTest>

#include "app/Form1.h"
#include "keyboard/PianoKeyboard.h"
#include "support/FormHarness.h"

namespace vantor::test {

// Messages as hex text ("90 3c 64"), so a failed comparison shows them.
inline QString Msg(int status, int data1, int data2)
{
    return QStringLiteral("%1 %2 %3")
        .arg(status, 2, 16, QLatin1Char('0'))
        .arg(data1, 2, 16, QLatin1Char('0'))
        .arg(data2, 2, 16, QLatin1Char('0'));
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

// What one Midi Reset sends in the window's present state (forgets earlier sends).
inline QStringList ResetMessages(FormHarness& h)
{
    TakeSent(h);
    h.form().MidiReset();
    return TakeSent(h);
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

}  // namespace vantor::test
