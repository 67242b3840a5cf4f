// The on-screen keyboard, checked on rendered pixels.
#include <QtTest>

#include "keyboard/ComputerKeys.h"
#include "keyboard/KeyboardGeometry.h"
#include "keyboard/PianoKeyboard.h"

using namespace vantor;
using keyboard_geometry::IndicatorRect;

namespace {

// Runs steps such as "L60 P60 R60" on a keyboard:
// L/U light/unlight, l/r paint lit/rest, P/R press/release, C clear, H/S hide/show indicators,
// T/W/N mark as target/wrong/nothing, M clear the marks.
void Apply(PianoKeyboard& keys, const QString& steps)
{
    for (const QString& step : steps.split(' ', Qt::SkipEmptyParts)) {
        const char op = step[0].toLatin1();
        const int note = step.mid(1).toInt();
        if (op == 'L') keys.LightKey(note);
        if (op == 'U') keys.UnlightKey(note);
        if (op == 'l') keys.PaintKeyLit(note);
        if (op == 'r') keys.PaintKeyRest(note);
        if (op == 'P') keys.PressKey(note);
        if (op == 'R') keys.ReleaseKey(note);
        if (op == 'C') keys.ClearKeyboard();
        if (op == 'H') keys.HideIndicators();
        if (op == 'S') keys.ShowIndicators();
        if (op == 'T') keys.MarkKey(note, KeyMark::Target);
        if (op == 'W') keys.MarkKey(note, KeyMark::Wrong);
        if (op == 'N') keys.MarkKey(note, KeyMark::None);
        if (op == 'M') keys.ClearMarks();
    }
}

}  // namespace

class KeyboardTest : public QObject
{
    Q_OBJECT
private slots:
    void pixels_data();
    void pixels();
    void computerKeys_data();
    void computerKeys();
};

void KeyboardTest::pixels_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QRect>("area");  // every pixel of it shows the colour
    QTest::addColumn<QRgb>("colour");
    const auto row = [](const char* name, const char* steps, QRect area, QRgb colour) {
        QTest::newRow(name) << QString::fromLatin1(steps) << area << colour;
    };
    const QRect c4 = IndicatorRect(60), cs4 = IndicatorRect(61);
    row("strip: first segment", "", {16, 96, 31, 3}, StripRedColour);
    row("strip: tick before C1", "", {47, 96, 3, 3}, StripBlackColour);
    row("A#0 key at x 30, 9 wide, under the strip", "", {30, 99, 9, 48}, BlackKeyColour);
    row("A0 face left of A#0", "", {17, 99, 13, 60}, WhiteKeyColour);
    row("B0 face right of A#0, below it", "", {39, 147, 9, 10}, WhiteKeyColour);
    row("C8 left outline at 832", "", {832, 99, 1, 71}, KeyOutlineColour);
    row("C8 face", "", {833, 99, 15, 71}, WhiteKeyColour);
    row("LightKey white", "L60", c4, LitColour);
    row("LightKey leaves neighbour", "L60", cs4, BlackKeyColour);
    row("PressKey black", "P61", cs4, PressedColour);
    row("Light Press Release: lit", "L60 P60 R60", c4, LitColour);
    row("PaintKeyLit Release: rest", "l60 R60", c4, WhiteKeyColour);
    row("Light PaintKeyRest Release: lit", "L60 r60 R60", c4, LitColour);
    row("Light Clear Press Release: rest", "L61 C P61 R61", cs4, BlackKeyColour);
    row("hidden through Clear", "L60 H C L60", c4, WhiteKeyColour);
    row("Hide Light Show", "H L60 S", c4, LitColour);
    row("notes 20 and 109: A0 unchanged", "L20 P20 L109 P109", IndicatorRect(21), WhiteKeyColour);
    row("notes 20 and 109: C8 unchanged", "l20 P20 l109 P109", IndicatorRect(108), WhiteKeyColour);
    row("target over lit", "L60 T60", c4, TargetColour);
    row("target pressed shows pressed", "T60 P60", c4, PressedColour);
    row("target released shows again", "P60 T60 R60", c4, TargetColour);
    row("target through Clear", "T61 L61 C", cs4, TargetColour);
    row("target cleared: lit again", "L61 T61 N61", cs4, LitColour);
    row("wrong only while pressed", "W61", cs4, BlackKeyColour);
    row("wrong marked on a pressed key", "P61 W61", cs4, WrongColour);
    row("wrong released", "W60 P60 R60", c4, WhiteKeyColour);
    row("marks cleared", "T60 W61 P61 M", c4, WhiteKeyColour);
    row("marks cleared: pressed again", "T60 W61 P61 M", cs4, PressedColour);
}

void KeyboardTest::pixels()
{
    QFETCH(QString, steps);
    QFETCH(QRect, area);
    QFETCH(QRgb, colour);
    PianoKeyboard keyboard;
    Apply(keyboard, steps);
    const QImage image = keyboard.grab().toImage();
    const QPoint origin = PianoKeyboard::Area.topLeft();
    QImage expected(area.size(), QImage::Format_RGB32);
    expected.fill(colour);
    QCOMPARE(image.copy(area.translated(-origin)).convertToFormat(QImage::Format_RGB32), expected);
}

void KeyboardTest::computerKeys_data()
{
    QTest::addColumn<QList<int>>("keys");  // octave keys, then the key played
    QTest::addColumn<int>("note");
    QTest::newRow("comma and Q: the same C") << QList<int>{Qt::Key_Comma} << 60;
    QTest::newRow("slash: E above") << QList<int>{Qt::Key_Slash} << 64;
    QTest::newRow("P: top E") << QList<int>{Qt::Key_P} << 76;
    QTest::newRow("plus: shifted equals") << QList<int>{Qt::Key_Plus, Qt::Key_Q} << 72;
    QTest::newRow("down to C1 and no further")
        << QList<int>{Qt::Key_Minus, Qt::Key_Minus, Qt::Key_Underscore, Qt::Key_Z} << 24;
    QTest::newRow("up to C6 and no further") << QList<int>(5, Qt::Key_Equal) + QList<int>{Qt::Key_P} << 112;
    QTest::newRow("A plays nothing") << QList<int>{Qt::Key_A} << -1;
}

void KeyboardTest::computerKeys()
{
    QFETCH(QList<int>, keys);
    int lowerC = ComputerKeysStartC;
    for (const int key : keys.first(keys.size() - 1))
        lowerC = ShiftedLowerC(lowerC, ComputerKeyOctaveStep(key));
    QTEST(ComputerKeyNote(keys.last(), lowerC), "note");
}

QTEST_MAIN(KeyboardTest)
#include "test_keyboard.moc"
