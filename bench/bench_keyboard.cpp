// The keyboard's costs: a burst of operations with the one repaint it causes,
// and a full repaint at device pixel ratios 1 and 2.
#include <QApplication>
#include <QEvent>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "BenchSupport.h"
#include "keyboard/PianoKeyboard.h"

using vantor::bench::Median;
using Clock = std::chrono::steady_clock;

namespace {

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

double Milliseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

void SettleEvents()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    vantor::PianoKeyboard keyboard;
    PaintCounter counter;
    keyboard.installEventFilter(&counter);
    keyboard.show();
    SettleEvents();

    // Notes a little beyond both ends, so ignored notes are part of the mix.
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> noteOf(18, 111);
    std::uniform_int_distribution<int> opOf(0, 99);
    constexpr int OperationCount = 100'000;
    struct Operation
    {
        int op;
        int note;
    };
    std::vector<Operation> operations(OperationCount);
    for (Operation& o : operations)
        o = {opOf(random), noteOf(random)};

    std::vector<double> burstMs;
    int paintsPerBurst = 0;
    for (int run = 0; run < 15; ++run) {
        counter.paints = 0;
        const auto start = Clock::now();
        for (const Operation& o : operations) {
            if (o.op < 25) {
                keyboard.LightKey(o.note);
            } else if (o.op < 45) {
                keyboard.UnlightKey(o.note);
            } else if (o.op < 55) {
                keyboard.PaintKeyLit(o.note);
            } else if (o.op < 65) {
                keyboard.PaintKeyRest(o.note);
            } else if (o.op < 80) {
                keyboard.PressKey(o.note);
            } else if (o.op < 95) {
                keyboard.ReleaseKey(o.note);
            } else if (o.op < 99) {
                keyboard.ClearKeyboard();
            } else {
                keyboard.HideIndicators();
                keyboard.ShowIndicators();
            }
        }
        SettleEvents();
        burstMs.push_back(Milliseconds(Clock::now() - start));
        paintsPerBurst = std::max(paintsPerBurst, counter.paints);
    }

    const auto fullRepaint = [&](qreal ratio) {
        QImage image((QSizeF(keyboard.size()) * ratio).toSize(), QImage::Format_RGB32);
        image.setDevicePixelRatio(ratio);
        std::vector<double> ms;
        for (int run = 0; run < 200; ++run) {
            const auto start = Clock::now();
            keyboard.render(&image);
            ms.push_back(Milliseconds(Clock::now() - start));
        }
        return Median(ms);
    };

    std::printf("keyboard_100k_ops_then_repaint_ms: %.2f\n", Median(burstMs));
    std::printf("keyboard_repaints_per_100k_ops: %d\n", paintsPerBurst);
    std::printf("keyboard_full_repaint_ms: %.3f\n", fullRepaint(1.0));
    std::printf("keyboard_full_repaint_dpr2_ms: %.3f\n", fullRepaint(2.0));
    return 0;
}
