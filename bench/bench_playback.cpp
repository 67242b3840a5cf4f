// Playback figures: the time Play takes to queue a million-event track, and for a
// dense ten-second passage through the memory output, how late each message is
// sent against its due time and how long the keyboard takes to follow a send.
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "BenchSupport.h"
#include "app/Form1.h"
#include "midi/MIDIOutput.h"
#include "support/MemoryDevices.h"
#include "support/SmfWriter.h"

using namespace vantor;
using namespace vantor::bench;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

void WaitUntilStopped(Form1& form)
{
    while (form.CmdStop->isEnabled())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

// A million events, note-on/note-off pairs one tick apart.
void QueueMillion(const QTemporaryDir& dir)
{
    test::SmfWriter writer(0, 96);
    auto& track = writer.AddTrack();
    for (int i = 0; i < 500'000; ++i) {
        const int note = 21 + i % 88;
        track.NoteOn(1, 0, note, 80).NoteOff(1, 0, note);
    }
    const QString path = test::SmfWriter::WriteFile(dir, QStringLiteral("million.mid"), writer.Bytes());

    auto devices = test::MemoryDevices::Create();
    Form1 form(devices, QuietHooks());
    form.Form_Load();
    form.OpenMidiFileAt(path);

    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        form.CmdPlay_Click();
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        form.CmdStop_Click();
    }
    std::printf("queue_1M_events_ms_median: %.1f\n", Percentile(times, 0.5));
    std::printf("queue_1M_events_ms_max: %.1f\n", *std::max_element(times.begin(), times.end()));
}

// Ten seconds of eight-note chords every 20 ms, one millisecond per tick.
void DensePassage(const QTemporaryDir& dir)
{
    constexpr int Chords = 500;
    constexpr int Voices = 8;
    constexpr int ChordTicks = 20;
    test::SmfWriter writer(0, 1000);
    auto& track = writer.AddTrack();
    track.Tempo(0, 1'000'000);
    std::vector<double> due;  // of every note message, in file order
    for (int c = 0; c < Chords; ++c) {
        const int root = 36 + (c * 7) % 48;
        for (int v = 0; v < Voices; ++v) {
            track.NoteOn(v == 0 && c > 0 ? 2 : 0, 0, root + v * 3, 90);
            due.push_back(c * ChordTicks);
        }
        for (int v = 0; v < Voices; ++v) {
            track.NoteOff(v == 0 ? ChordTicks - 2 : 0, 0, root + v * 3);
            due.push_back(c * ChordTicks + ChordTicks - 2);
        }
    }
    const QString path = test::SmfWriter::WriteFile(dir, QStringLiteral("dense.mid"), writer.Bytes());

    auto devices = test::MemoryDevices::Create();
    Form1 form(devices, QuietHooks());
    form.Form_Load();
    form.OpenMidiFileAt(path);

    std::vector<Clock::time_point> followed;
    followed.reserve(due.size());
    // Connected after the window's own handler, so it runs once the keys are painted.
    QObject::connect(form.MIDIOutput1, &MIDIOutput::MessagePlayed, &form,
                     [&followed](qint32) { followed.push_back(Clock::now()); });

    // StartPlayback's steps, with the start instant taken where the queue starts.
    form.CmdPlay->setEnabled(false);
    form.CmdStop->setEnabled(true);
    form.OpenOutput();
    form.QueueTrack();
    devices->ClearSent();
    const auto start = Clock::now();
    form.MIDIOutput1->SetAction(ActionStartQueue);
    WaitUntilStopped(form);

    const auto sent = devices->SentLog();
    const std::size_t notes = std::min({due.size(), sent.size(), followed.size()});
    std::vector<double> lateness;
    std::vector<double> lag;
    for (std::size_t k = 0; k < notes; ++k) {
        lateness.push_back(Ms(sent[k].time - start) - due[k]);
        lag.push_back(Ms(followed[k] - sent[k].time));
    }
    std::printf("dense_messages_sent: %zu\n", notes);
    std::printf("dense_lateness_ms_p50: %.3f\n", Percentile(lateness, 0.5));
    std::printf("dense_lateness_ms_p99: %.3f\n", Percentile(lateness, 0.99));
    std::printf("dense_lateness_ms_max: %.3f\n", *std::max_element(lateness.begin(), lateness.end()));
    std::printf("dense_keyboard_lag_ms_p50: %.3f\n", Percentile(lag, 0.5));
    std::printf("dense_keyboard_lag_ms_p99: %.3f\n", Percentile(lag, 0.99));
    std::printf("dense_keyboard_lag_ms_max: %.3f\n", *std::max_element(lag.begin(), lag.end()));
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QTemporaryDir dir;
    QueueMillion(dir);
    DensePassage(dir);
    return 0;
}
