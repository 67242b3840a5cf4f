// The main window's keyboard operations reach the keyboard at its place in the window.
#include <QtTest>
#include <functional>

#include "app/Form1.h"
#include "keyboard/KeyboardGeometry.h"
#include "keyboard/PianoKeyboard.h"
#include "support/MemoryDevices.h"

using namespace vantor;

using WindowOp = std::function<void(Form1&)>;
Q_DECLARE_METATYPE(WindowOp)

class Form1KeyboardTest : public QObject
{
    Q_OBJECT
private slots:
    void operation_data();
    void operation();
};

void Form1KeyboardTest::operation_data()
{
    QTest::addColumn<WindowOp>("op");
    QTest::addColumn<int>("note");
    QTest::addColumn<QRgb>("colour");
    const auto run = [](std::initializer_list<WindowOp> ops) {
        return WindowOp([ops = std::vector<WindowOp>(ops)](Form1& w) {
            for (const WindowOp& op : ops)
                op(w);
        });
    };
    QTest::newRow("LightKey") << run({[](Form1& w) { w.LightKey(60); }}) << 60 << LitColour;
    QTest::newRow("LightKey UnlightKey")
        << run({[](Form1& w) { w.LightKey(61); }, [](Form1& w) { w.UnlightKey(61); }}) << 61
        << BlackKeyColour;
    QTest::newRow("PaintKeyLit") << run({[](Form1& w) { w.PaintKeyLit(108); }}) << 108 << LitColour;
    QTest::newRow("PaintKeyRest") << run({[](Form1& w) { w.PaintKeyLit(21); },
                                          [](Form1& w) { w.PaintKeyRest(21); }})
                                  << 21 << WhiteKeyColour;
    QTest::newRow("PressKey") << run({[](Form1& w) { w.PressKey(22); }}) << 22 << PressedColour;
    QTest::newRow("LightKey PressKey ReleaseKey")
        << run({[](Form1& w) { w.LightKey(60); }, [](Form1& w) { w.PressKey(60); },
                [](Form1& w) { w.ReleaseKey(60); }})
        << 60 << LitColour;
    QTest::newRow("ClearKeyboard") << run({[](Form1& w) { w.LightKey(60); },
                                           [](Form1& w) { w.ClearKeyboard(); }})
                                   << 60 << WhiteKeyColour;
    QTest::newRow("HideIndicators") << run({[](Form1& w) { w.PressKey(60); },
                                            [](Form1& w) { w.HideIndicators(); }})
                                    << 60 << WhiteKeyColour;
    QTest::newRow("ShowIndicators") << run({[](Form1& w) { w.HideIndicators(); },
                                            [](Form1& w) { w.PressKey(60); },
                                            [](Form1& w) { w.ShowIndicators(); }})
                                    << 60 << PressedColour;
    QTest::newRow("note 109 ignored") << run({[](Form1& w) { w.LightKey(109); }}) << 108 << WhiteKeyColour;
}

void Form1KeyboardTest::operation()
{
    QFETCH(WindowOp, op);
    QFETCH(int, note);
    QFETCH(QRgb, colour);
    Form1 window(test::MemoryDevices::Create());
    QVERIFY(window.Keyboard != nullptr);
    QCOMPARE(window.Keyboard->geometry(), PianoKeyboard::Area);
    op(window);
    // The client area, where the layout's coordinates are measured.
    QWidget* client = window.Keyboard->parentWidget();
    const QImage image = client->grab().toImage();
    const QRect square = keyboard_geometry::IndicatorRect(note);
    QCOMPARE(image.pixel(square.topLeft()) & RGB_MASK, colour);
    QCOMPARE(image.pixel(square.bottomRight()) & RGB_MASK, colour);
}

QTEST_MAIN(Form1KeyboardTest)
#include "test_form1_keyboard.moc"
