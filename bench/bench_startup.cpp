// The program's own share of start-up, on memory devices (no driver, no
// SoundFont): building the main window, and its load sequence up to the window
// being shown; and filling both device lists from the system's devices (under a
// JACK server, the first fill opens the one JACK client the lists keep).
// bench/startup measures the whole program under X with the real devices.
#include <QApplication>
#include <QStyleFactory>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "BenchSupport.h"
#include "app/Form1.h"
#include "midi/backends/SystemDevices.h"
#include "support/FormHarness.h"

using vantor::bench::Median;

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    constexpr int Runs = 21;
    std::vector<double> construct;
    std::vector<double> load;
    for (int run = 0; run < Runs; ++run) {
        const auto start = Clock::now();
        vantor::test::FormHarness harness;
        const auto built = Clock::now();
        harness.Load();
        QApplication::processEvents();
        const auto shown = Clock::now();
        construct.push_back(Milliseconds(built - start));
        load.push_back(Milliseconds(shown - built));
    }
    // The first window also pays for the font database and the style, once per process.
    std::printf("form_construct_first_ms: %.2f\n", construct.front());
    std::printf("form_construct_ms: %.2f\n", Median(construct));
    std::printf("form_load_memory_devices_ms: %.2f\n", Median(load));

    std::vector<double> lists;
    const auto devices = vantor::CreateSystemDevices();
    for (int run = 0; run < Runs; ++run) {
        const auto start = Clock::now();
        const auto outputs = devices->OutputNames();
        const auto inputs = devices->InputNames();
        lists.push_back(Milliseconds(Clock::now() - start));
    }
    std::printf("device_lists_first_ms: %.2f\n", lists.front());
    std::printf("device_lists_ms: %.2f\n", Median(lists));
    return 0;
}
