// Opening a large file: the whole open command (read, list, select) and the step
// map build alone, on a generated file of more than a million events.
#include <QApplication>
#include <QComboBox>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "BenchSupport.h"
#include "app/Form1.h"
#include "song/StepMap.h"
#include "support/MemoryDevices.h"
#include "support/SmfWriter.h"

using namespace vantor;
using namespace vantor::bench;
using Clock = std::chrono::steady_clock;

namespace {

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // A conductor track and one dense piano track of four-note chords.
    test::SmfWriter writer(1, 480);
    writer.AddTrack().Name(0, "Conductor").Tempo(0, 500000);
    test::SmfTrack& piano = writer.AddTrack().Name(0, "Piano").Program(0, 1, 0);
    constexpr int Chords = 125'000;
    for (int chord = 0; chord < Chords; ++chord) {
        const int root = 36 + chord % 40;
        for (int i = 0; i < 4; ++i)
            piano.NoteOn(i == 0 ? 60 : 0, 0, root + 3 * i, 80);
        for (int i = 0; i < 4; ++i)
            piano.NoteOff(i == 0 ? 240 : 0, 0, root + 3 * i);
    }
    const QByteArray bytes = writer.Bytes();
    QTemporaryDir dir;
    const QString path = test::SmfWriter::WriteFile(dir, "large.mid", bytes);

    auto devices = test::MemoryDevices::Create();
    Form1 form(devices, Form1Hooks{.ChooseMidiFile = [&path](QWidget*) { return path; },
                                   .ShowMessage = [](QWidget*, const QString&) {},
                                   .Quit = [] {}});
    form.Form_Load();

    std::vector<double> open;
    std::vector<double> select;
    std::vector<double> map;
    for (int run = 0; run < 7; ++run) {
        auto start = Clock::now();
        form.OpenMidiFile();
        open.push_back(MsSince(start));

        start = Clock::now();
        form.SelectTrack();
        select.push_back(MsSince(start));

        form.Midifile1.SetCurrentTrack(2);
        start = Clock::now();
        const auto steps = BuildStepMap(form.Midifile1);
        map.push_back(MsSince(start));
        if (steps.size() != static_cast<std::size_t>(form.Midifile1.EventCount()) + 2) return 1;
    }
    form.Midifile1.SetCurrentTrack(2);
    std::printf("open_file_MB: %.2f\n", bytes.size() / 1e6);
    std::printf("open_track_events: %d\n", form.Midifile1.EventCount());
    std::printf("open_list_select_ms: %.2f\n", Median(open));
    std::printf("select_track_ms: %.2f\n", Median(select));
    std::printf("step_map_build_ms: %.2f\n", Median(map));
    return 0;
}
