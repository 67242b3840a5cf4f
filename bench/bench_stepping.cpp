// Step latency on a dense track: Step Forward from click to the message handed to
// the port, and a whole Step Backward (reset, walk, keyboard rebuild) at several
// positions.
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "BenchSupport.h"
#include "app/Form1.h"
#include "support/MemoryDevices.h"
#include "support/SmfWriter.h"

using namespace vantor;
using namespace vantor::bench;
using Clock = std::chrono::steady_clock;

namespace {

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // Overlapping notes: every event a note message, half of them note-ons.
    test::SmfWriter writer(0, 480);
    test::SmfTrack& track = writer.AddTrack();
    constexpr int Notes = 520'000;
    for (int i = 0; i < Notes; ++i) {
        track.NoteOn(30, 0, 40 + i % 48, 80);
        track.NoteOff(30, 0, 40 + (i + 47) % 48);
    }
    QTemporaryDir dir;
    const QString path = test::SmfWriter::WriteFile(dir, "dense.mid", writer.Bytes());

    auto devices = test::MemoryDevices::Create();
    Form1 form(devices, Form1Hooks{.ChooseMidiFile = [&path](QWidget*) { return path; },
                                   .ShowMessage = [](QWidget*, const QString&) {},
                                   .Quit = [] {}});
    form.Form_Load();
    form.OpenMidiFile();
    form.ChordMode->setChecked(false);

    for (const int position : {1'000, 32'767, 1'000'000}) {
        std::vector<double> forward;
        std::vector<double> back;
        for (int run = 0; run < 9; ++run) {
            form.Midifile1.SetCurrentEvent(position);
            devices->ClearSent();
            const auto start = Clock::now();
            form.TagForward->click();
            const auto log = devices->SentLog();
            if (log.empty()) return 1;
            forward.push_back(std::chrono::duration<double, std::micro>(log.front().time - start).count());

            form.Midifile1.SetCurrentEvent(position);
            const auto backStart = Clock::now();
            form.TagBack->click();
            back.push_back(std::chrono::duration<double, std::milli>(Clock::now() - backStart).count());
        }
        std::printf("step_forward_at_%d_us: %.1f\n", position, Median(forward));
        std::printf("step_backward_at_%d_ms: %.2f\n", position, Median(back));
    }
    return 0;
}
