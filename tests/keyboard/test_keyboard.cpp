// The on-screen keyboard, checked on rendered pixels.
#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QSet>
#include <QtTest>
#include <vector>

#include "keyboard/KeyboardGeometry.h"
#include "keyboard/PianoKeyboard.h"

using namespace vantor;

namespace {

enum class Op
{
    Clear,
    Light,
    Unlight,
    PaintLit,
    PaintRest,
    Press,
    Release,
    Hide,
    Show
};

struct Step
{
    Op op;
    int note = 0;
};
using Steps = std::vector<Step>;

void Apply(PianoKeyboard& keyboard, const Step& step)
{
    switch (step.op) {
        case Op::Clear:
            keyboard.ClearKeyboard();
            break;
        case Op::Light:
            keyboard.LightKey(step.note);
            break;
        case Op::Unlight:
            keyboard.UnlightKey(step.note);
            break;
        case Op::PaintLit:
            keyboard.PaintKeyLit(step.note);
            break;
        case Op::PaintRest:
            keyboard.PaintKeyRest(step.note);
            break;
        case Op::Press:
            keyboard.PressKey(step.note);
            break;
        case Op::Release:
            keyboard.ReleaseKey(step.note);
            break;
        case Op::Hide:
            keyboard.HideIndicators();
            break;
        case Op::Show:
            keyboard.ShowIndicators();
            break;
    }
}

QImage Render(PianoKeyboard& keyboard)
{
    return keyboard.grab().toImage();
}

// The colour at a point given in the main window's client area.
QRgb ClientPixel(const QImage& image, int x, int y)
{
    return image.pixel(x - PianoKeyboard::Area.x(), y - PianoKeyboard::Area.y()) & RGB_MASK;
}

// Counts the paints a widget receives.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) ++paints;
        return QObject::eventFilter(watched, event);
    }
};

void SettleEvents()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

}  // namespace

Q_DECLARE_METATYPE(Steps)

class KeyboardTest : public QObject
{
    Q_OBJECT
private slots:
    void restingPicture_data();
    void restingPicture();
    void indicator_data();
    void indicator();
    void notesOutsideTheKeyboardChangeNothing_data();
    void notesOutsideTheKeyboardChangeNothing();
    void burstCostsOneRepaint();
    void hiddenIndicatorsAreNotRepaintedUntilShown();
    void crispAtDevicePixelRatio_data();
    void crispAtDevicePixelRatio();
    void geometryCountsTheKeys();
};

void KeyboardTest::restingPicture_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<QRgb>("colour");

    const QRgb outline = KeyOutlineColour;
    // Octave strip: red segments, black ticks one pixel left of each C.
    QTest::newRow("strip starts red") << 16 << 96 << StripRedColour;
    QTest::newRow("A0-B0 segment ends") << 46 << 97 << StripRedColour;
    QTest::newRow("tick C1 left") << 47 << 96 << StripBlackColour;
    QTest::newRow("tick C1 right bottom") << 49 << 98 << StripBlackColour;
    QTest::newRow("octave segment starts") << 50 << 98 << StripRedColour;
    QTest::newRow("octave segment ends") << 158 << 96 << StripRedColour;
    QTest::newRow("tick C2") << 159 << 97 << StripBlackColour;
    QTest::newRow("tick C4 right") << 385 << 97 << StripBlackColour;
    QTest::newRow("after tick C4") << 386 << 97 << StripRedColour;
    QTest::newRow("before tick C7") << 718 << 96 << StripRedColour;
    QTest::newRow("tick C7") << 719 << 98 << StripBlackColour;
    QTest::newRow("tick C8") << 831 << 96 << StripBlackColour;
    QTest::newRow("tick C8 right") << 833 << 98 << StripBlackColour;
    QTest::newRow("C8 segment") << 834 << 96 << StripRedColour;
    QTest::newRow("strip ends red") << 848 << 98 << StripRedColour;
    // White keys: 17 wide, every 16 pixels, the shared column is the outline.
    QTest::newRow("A0 left outline") << 16 << 120 << outline;
    QTest::newRow("A0 face") << 17 << 120 << WhiteKeyColour;
    QTest::newRow("A0 top row under the strip") << 20 << 99 << WhiteKeyColour;
    QTest::newRow("A0 bottom outline") << 20 << 170 << outline;
    QTest::newRow("A0 above bottom outline") << 20 << 169 << WhiteKeyColour;
    QTest::newRow("A0-B0 shared outline") << 32 << 160 << outline;
    QTest::newRow("B7 face before C8") << 831 << 120 << WhiteKeyColour;
    QTest::newRow("C8 left outline at 832") << 832 << 120 << outline;
    QTest::newRow("C8 face") << 833 << 120 << WhiteKeyColour;
    QTest::newRow("C8 face right") << 847 << 150 << WhiteKeyColour;
    QTest::newRow("C8 right outline at 848") << 848 << 120 << outline;
    // Black key of note 22 (A sharp 0): x 30, width 9, height 49, over the white keys.
    QTest::newRow("A0 face left of A#0") << 29 << 110 << WhiteKeyColour;
    QTest::newRow("A#0 left column") << 30 << 110 << BlackKeyColour;
    QTest::newRow("A#0 over the shared outline") << 32 << 110 << BlackKeyColour;
    QTest::newRow("A#0 right column") << 38 << 110 << BlackKeyColour;
    QTest::newRow("B0 face right of A#0") << 39 << 110 << WhiteKeyColour;
    QTest::newRow("A#0 under the strip") << 34 << 99 << BlackKeyColour;
    QTest::newRow("A#0 bottom row") << 34 << 146 << BlackKeyColour;
    QTest::newRow("below A#0") << 34 << 147 << WhiteKeyColour;
    // Offsets by pitch class in the octave from C4 (white key x 384).
    QTest::newRow("C#4 at +11") << 395 << 120 << BlackKeyColour;
    QTest::newRow("left of C#4") << 394 << 120 << WhiteKeyColour;
    QTest::newRow("D#4 at +13") << 16 * 24 + 16 + 13 << 120 << BlackKeyColour;
    QTest::newRow("F#4 at +10") << 16 * 26 + 16 + 10 << 120 << BlackKeyColour;
    QTest::newRow("G#4 at +12") << 16 * 27 + 16 + 12 << 120 << BlackKeyColour;
    QTest::newRow("A#4 at +14") << 16 * 28 + 16 + 14 << 120 << BlackKeyColour;
    QTest::newRow("right of A#4") << 16 * 28 + 16 + 23 << 120 << WhiteKeyColour;
    // Indicators at rest show their key's colour.
    QTest::newRow("white indicator at rest") << 20 << 158 << WhiteKeyColour;
    QTest::newRow("black indicator at rest") << 30 << 138 << BlackKeyColour;
}

void KeyboardTest::restingPicture()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(QRgb, colour);
    PianoKeyboard keyboard;
    QCOMPARE(keyboard.size(), PianoKeyboard::Area.size());
    QCOMPARE(ClientPixel(Render(keyboard), x, y), colour);
}

void KeyboardTest::indicator_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<int>("note");
    QTest::addColumn<QRgb>("colour");  // what the indicator's square shows

    constexpr int C4 = 60;
    constexpr int CSharp4 = 61;
    QTest::newRow("white at rest") << Steps{} << C4 << WhiteKeyColour;
    QTest::newRow("black at rest") << Steps{} << CSharp4 << BlackKeyColour;
    QTest::newRow("LightKey white") << Steps{{Op::Light, C4}} << C4 << LitColour;
    QTest::newRow("LightKey black") << Steps{{Op::Light, CSharp4}} << CSharp4 << LitColour;
    QTest::newRow("LightKey A0") << Steps{{Op::Light, 21}} << 21 << LitColour;
    QTest::newRow("LightKey C8") << Steps{{Op::Light, 108}} << 108 << LitColour;
    QTest::newRow("LightKey leaves neighbour") << Steps{{Op::Light, C4}} << CSharp4 << BlackKeyColour;
    QTest::newRow("PressKey white") << Steps{{Op::Press, C4}} << C4 << PressedColour;
    QTest::newRow("PressKey black") << Steps{{Op::Press, CSharp4}} << CSharp4 << PressedColour;
    QTest::newRow("Light Press Release: lit again")
        << Steps{{Op::Light, C4}, {Op::Press, C4}, {Op::Release, C4}} << C4 << LitColour;
    QTest::newRow("Press Release: rest") << Steps{{Op::Press, C4}, {Op::Release, C4}} << C4 << WhiteKeyColour;
    QTest::newRow("Press Release black: rest")
        << Steps{{Op::Press, CSharp4}, {Op::Release, CSharp4}} << CSharp4 << BlackKeyColour;
    QTest::newRow("PaintKeyLit Release: rest")
        << Steps{{Op::PaintLit, C4}, {Op::Release, C4}} << C4 << WhiteKeyColour;
    QTest::newRow("PaintKeyLit black") << Steps{{Op::PaintLit, CSharp4}} << CSharp4 << LitColour;
    QTest::newRow("Light PaintKeyRest: rest")
        << Steps{{Op::Light, C4}, {Op::PaintRest, C4}} << C4 << WhiteKeyColour;
    QTest::newRow("Light PaintKeyRest Release: lit flag kept")
        << Steps{{Op::Light, C4}, {Op::PaintRest, C4}, {Op::Release, C4}} << C4 << LitColour;
    QTest::newRow("Light Unlight") << Steps{{Op::Light, CSharp4}, {Op::Unlight, CSharp4}} << CSharp4
                                   << BlackKeyColour;
    QTest::newRow("Light Unlight Press Release: rest")
        << Steps{{Op::Light, C4}, {Op::Unlight, C4}, {Op::Press, C4}, {Op::Release, C4}} << C4
        << WhiteKeyColour;
    QTest::newRow("Light Clear") << Steps{{Op::Light, CSharp4}, {Op::Clear}} << CSharp4 << BlackKeyColour;
    QTest::newRow("Light Clear Press Release: lit flag cleared")
        << Steps{{Op::Light, C4}, {Op::Clear}, {Op::Press, C4}, {Op::Release, C4}} << C4 << WhiteKeyColour;
    QTest::newRow("Press Clear") << Steps{{Op::Press, C4}, {Op::Clear}} << C4 << WhiteKeyColour;
    QTest::newRow("UnlightKey of a pressed key")
        << Steps{{Op::Press, C4}, {Op::Unlight, C4}} << C4 << WhiteKeyColour;
    // Hidden indicators let the key face show through.
    QTest::newRow("Light Hide") << Steps{{Op::Light, C4}, {Op::Hide}} << C4 << WhiteKeyColour;
    QTest::newRow("Press Hide black") << Steps{{Op::Press, CSharp4}, {Op::Hide}} << CSharp4 << BlackKeyColour;
    QTest::newRow("Hide Light Show") << Steps{{Op::Hide}, {Op::Light, C4}, {Op::Show}} << C4 << LitColour;
    QTest::newRow("Hide Clear Light: still hidden")
        << Steps{{Op::Light, C4}, {Op::Hide}, {Op::Clear}, {Op::Light, C4}} << C4 << WhiteKeyColour;
    QTest::newRow("Hide Clear Light Show")
        << Steps{{Op::Hide}, {Op::Clear}, {Op::Light, CSharp4}, {Op::Show}} << CSharp4 << LitColour;
    QTest::newRow("Hide Hide Show") << Steps{{Op::Press, C4}, {Op::Hide}, {Op::Hide}, {Op::Show}} << C4
                                    << PressedColour;
    QTest::newRow("Light Hide Clear Show: the rebuild's final chord")
        << Steps{{Op::Light, C4}, {Op::Hide}, {Op::Clear}, {Op::Show}} << C4 << WhiteKeyColour;
}

void KeyboardTest::indicator()
{
    QFETCH(Steps, steps);
    QFETCH(int, note);
    QFETCH(QRgb, colour);
    PianoKeyboard keyboard;
    for (const Step& step : steps)
        Apply(keyboard, step);
    const QImage image = Render(keyboard);

    // The whole 9 x 9 square, and the key face just around it.
    const QRect square = keyboard_geometry::IndicatorRect(note);
    QCOMPARE(square.size(), QSize(9, 9));
    for (int y = square.top(); y <= square.bottom(); ++y) {
        for (int x = square.left(); x <= square.right(); ++x) {
            if (ClientPixel(image, x, y) != colour) {
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3, expected %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(ClientPixel(image, x, y), 6, 16, QLatin1Char('0'))
                                     .arg(colour, 6, 16, QLatin1Char('0'))));
            }
        }
    }
    // Above lies the key's own face; beside and below a white face (a black key's square spans its width).
    const QRgb face = keyboard_geometry::IsBlackNote(note) ? BlackKeyColour : WhiteKeyColour;
    QCOMPARE(ClientPixel(image, square.left(), square.top() - 1), face);
    QCOMPARE(ClientPixel(image, square.left() - 1, square.top()), WhiteKeyColour);
    QCOMPARE(ClientPixel(image, square.right() + 1, square.bottom()), WhiteKeyColour);
    QCOMPARE(ClientPixel(image, square.right(), square.bottom() + 1), WhiteKeyColour);
}

void KeyboardTest::notesOutsideTheKeyboardChangeNothing_data()
{
    QTest::addColumn<Op>("op");
    QTest::addColumn<int>("note");
    const std::pair<const char*, Op> ops[] = {{"LightKey", Op::Light},       {"UnlightKey", Op::Unlight},
                                              {"PaintKeyLit", Op::PaintLit}, {"PaintKeyRest", Op::PaintRest},
                                              {"PressKey", Op::Press},       {"ReleaseKey", Op::Release}};
    for (const auto& [name, op] : ops) {
        for (const int note : {20, 109, -1, 0, 127, 128}) {
            QTest::addRow("%s %d", name, note) << op << note;
        }
    }
}

void KeyboardTest::notesOutsideTheKeyboardChangeNothing()
{
    QFETCH(Op, op);
    QFETCH(int, note);
    PianoKeyboard keyboard;
    // Some state at both ends, so a wrapped or clamped index would show.
    keyboard.LightKey(21);
    keyboard.PressKey(22);
    keyboard.LightKey(107);
    keyboard.PaintKeyLit(108);
    const QImage before = Render(keyboard);
    Apply(keyboard, {op, note});
    QCOMPARE(Render(keyboard), before);
    // The lit flags are untouched too: releasing shows them as before.
    keyboard.ReleaseKey(21);
    keyboard.ReleaseKey(108);
    QCOMPARE(ClientPixel(Render(keyboard), keyboard_geometry::IndicatorRect(21).x(), 158), LitColour);
    QCOMPARE(ClientPixel(Render(keyboard), keyboard_geometry::IndicatorRect(108).x(), 158), WhiteKeyColour);
}

void KeyboardTest::burstCostsOneRepaint()
{
    PianoKeyboard keyboard;
    PaintCounter counter;
    keyboard.installEventFilter(&counter);
    keyboard.show();
    QVERIFY(QTest::qWaitForWindowExposed(&keyboard));
    SettleEvents();
    counter.paints = 0;

    for (int round = 0; round < 200; ++round) {
        for (int note = 21; note <= 108; note += 3) {
            keyboard.LightKey(note);
            keyboard.PressKey(note + 1);
            keyboard.ReleaseKey(note + 1);
        }
        keyboard.ClearKeyboard();
    }
    keyboard.LightKey(60);
    SettleEvents();
    QCOMPARE(counter.paints, 1);
    QCOMPARE(ClientPixel(Render(keyboard), keyboard_geometry::IndicatorRect(60).x(), 160), LitColour);

    // Operations that change nothing shown ask for no paint at all.
    counter.paints = 0;
    keyboard.LightKey(60);
    keyboard.PaintKeyLit(60);
    keyboard.UnlightKey(62);
    keyboard.ShowIndicators();
    SettleEvents();
    QCOMPARE(counter.paints, 0);
}

void KeyboardTest::hiddenIndicatorsAreNotRepaintedUntilShown()
{
    PianoKeyboard keyboard;
    PaintCounter counter;
    keyboard.installEventFilter(&counter);
    keyboard.show();
    QVERIFY(QTest::qWaitForWindowExposed(&keyboard));
    keyboard.LightKey(60);
    keyboard.HideIndicators();
    SettleEvents();
    counter.paints = 0;

    // A rebuild: everything happens while hidden.
    keyboard.ClearKeyboard();
    for (int note = 21; note <= 108; ++note)
        keyboard.LightKey(note);
    for (int note = 21; note <= 108; ++note) {
        if (note != 64) keyboard.UnlightKey(note);
    }
    keyboard.HideIndicators();
    SettleEvents();
    QCOMPARE(counter.paints, 0);

    keyboard.ShowIndicators();
    SettleEvents();
    QCOMPARE(counter.paints, 1);
    const QImage image = Render(keyboard);
    QCOMPARE(ClientPixel(image, keyboard_geometry::IndicatorRect(64).x(), 160), LitColour);
    QCOMPARE(ClientPixel(image, keyboard_geometry::IndicatorRect(60).x(), 160), WhiteKeyColour);
}

void KeyboardTest::crispAtDevicePixelRatio_data()
{
    QTest::addColumn<qreal>("ratio");
    QTest::newRow("1") << 1.0;
    QTest::newRow("1.25") << 1.25;
    QTest::newRow("1.5") << 1.5;
    QTest::newRow("2") << 2.0;
    QTest::newRow("3") << 3.0;
}

void KeyboardTest::crispAtDevicePixelRatio()
{
    QFETCH(qreal, ratio);
    PianoKeyboard keyboard;
    keyboard.LightKey(60);
    keyboard.PressKey(61);
    QImage image((QSizeF(keyboard.size()) * ratio).toSize(), QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::magenta);
    keyboard.render(&image);

    // Nothing blended, nothing left unpainted: only the keyboard's own colours.
    const QSet<QRgb> palette{WhiteKeyColour, BlackKeyColour,   LitColour,       PressedColour,
                             StripRedColour, StripBlackColour, KeyOutlineColour};
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y) & RGB_MASK;
            if (!palette.contains(pixel)) {
                QFAIL(qPrintable(QStringLiteral("device pixel %1,%2 is %3").arg(x).arg(y).arg(pixel, 6, 16)));
            }
        }
    }
    // Edges land where the logical geometry puts them.
    const auto device = [&](int clientX, int clientY) {
        const QPointF p =
            QPointF(clientX - PianoKeyboard::Area.x() + 0.5, clientY - PianoKeyboard::Area.y() + 0.5);
        return image.pixel((p * ratio).toPoint()) & RGB_MASK;
    };
    QCOMPARE(device(47, 97), StripBlackColour);
    QCOMPARE(device(50, 97), StripRedColour);
    QCOMPARE(device(30, 110), BlackKeyColour);
    QCOMPARE(device(39, 110), WhiteKeyColour);
    QCOMPARE(device(388, 158), LitColour);
    QCOMPARE(device(395, 138), PressedColour);
}

void KeyboardTest::geometryCountsTheKeys()
{
    int white = 0;
    int black = 0;
    for (int note = keyboard_geometry::LowestNote; note <= keyboard_geometry::HighestNote; ++note) {
        (keyboard_geometry::IsBlackNote(note) ? black : white) += 1;
        // Every key lies inside the widget, under the strip's top rows.
        QVERIFY(PianoKeyboard::Area.contains(keyboard_geometry::KeyRect(note)));
        QVERIFY(keyboard_geometry::KeyRect(note).contains(keyboard_geometry::IndicatorRect(note)));
    }
    QCOMPARE(white, 52);
    QCOMPARE(black, 36);
    QCOMPARE(keyboard_geometry::KeyRect(108), QRect(832, 98, 17, 73));
    QCOMPARE(keyboard_geometry::KeyRect(22), QRect(30, 98, 9, 49));
}

QTEST_MAIN(KeyboardTest)
#include "test_keyboard.moc"
