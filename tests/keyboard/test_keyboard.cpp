// The on-screen keyboard, checked on rendered pixels.
#include <QtTest>

#include "keyboard/ComputerKeys.h"
#include "keyboard/KeyboardGeometry.h"
#include "keyboard/PianoKeyboard.h"

using namespace vantor;
using keyboard_geometry::IndicatorRect;

class KeyboardTest : public QObject
{
    Q_OBJECT
private slots:
    void pixels_data()
    {
        // Steps such as "L60 P60 R60": L light, l paint lit, P/R press/release, C clear,
        // H/S hide/show the indicators, T/W mark as target/wrong.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QRect>("area");  // every pixel of it shows the colour
        QTest::addColumn<QRgb>("colour");
        const auto row = [](const char* name, const char* steps, QRect area, QRgb colour) {
            QTest::newRow(name) << QString::fromLatin1(steps) << area << colour;
        };
        const QRect c4 = IndicatorRect(60), cs4 = IndicatorRect(61);
        row("D#4 key 13 right of D4", "", {413, 99, 9, 48}, BlackKeyColour);
        row("PaintKeyLit Release: rest", "l60 R60", c4, WhiteKeyColour);
        row("hidden through Clear", "L60 H C L60", c4, WhiteKeyColour);
        row("Hide Light Show", "H L60 S", c4, LitColour);
        row("notes 20 and 109 ignored", "L20 P20 l109 P109", IndicatorRect(108), WhiteKeyColour);
        row("target through Clear", "T61 L61 C", cs4, TargetColour);
        row("wrong only while pressed", "W61", cs4, BlackKeyColour);
        row("a target pressed shows pressed", "T61 P61", cs4, PressedColour);
        row("released: lit again", "L60 P60 R60", c4, LitColour);
        row("released after Clear: rest", "L60 C P60 R60", c4, WhiteKeyColour);
    }

    void pixels()
    {
        QFETCH(QString, steps);
        QFETCH(QRect, area);
        QFETCH(QRgb, colour);
        PianoKeyboard keys;
        for (const QString& step : steps.split(' ', Qt::SkipEmptyParts)) {
            const int note = step.mid(1).toInt();
            const char op = step[0].toLatin1();
            if (op == 'L') keys.LightKey(note);
            if (op == 'l') keys.PaintKeyLit(note);
            if (op == 'P') keys.PressKey(note);
            if (op == 'R') keys.ReleaseKey(note);
            if (op == 'C') keys.ClearKeyboard();
            if (op == 'H') keys.HideIndicators();
            if (op == 'S') keys.ShowIndicators();
            if (op == 'T') keys.MarkKey(note, KeyMark::Target);
            if (op == 'W') keys.MarkKey(note, KeyMark::Wrong);
        }
        QImage expected(area.size(), QImage::Format_RGB32);
        expected.fill(colour);
        const QRect local = area.translated(-PianoKeyboard::Area.topLeft());
        QCOMPARE(keys.grab().toImage().copy(local).convertToFormat(QImage::Format_RGB32), expected);
    }

    void computerKeys_data()
    {
        QTest::addColumn<QList<int>>("keys");  // octave keys, then the key played
        QTest::addColumn<int>("note");
        QTest::newRow("comma and slash: on past the C above") << QList<int>{Qt::Key_Slash} << 64;
        QTest::newRow("plus: shifted equals") << QList<int>{Qt::Key_Plus, Qt::Key_Q} << 72;
        QTest::newRow("down to C1 and no further")
            << QList<int>{Qt::Key_Minus, Qt::Key_Minus, Qt::Key_Underscore, Qt::Key_Z} << 24;
        QTest::newRow("up to C6 and no further")
            << QList<int>(5, Qt::Key_Equal) + QList<int>{Qt::Key_P} << 112;
        QTest::newRow("A plays nothing") << QList<int>{Qt::Key_A} << -1;
    }

    void computerKeys()
    {
        QFETCH(QList<int>, keys);
        int lowerC = ComputerKeysStartC;
        for (const int key : keys.first(keys.size() - 1))
            lowerC = ShiftedLowerC(lowerC, ComputerKeyOctaveStep(key));
        QTEST(ComputerKeyNote(keys.last(), lowerC), "note");
    }
};

QTEST_MAIN(KeyboardTest)
#include "test_keyboard.moc"
