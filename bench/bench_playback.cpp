// Playback figures: the time Play takes to queue a million-event track (alone, and
// with a million-event accompaniment and the metronome); for a dense ten-second
// passage through the memory output (alone, and accompanied with the metronome),
// how late each message is sent against its due time and how long the keyboard
// takes to follow a send; and how far the first message after a loop's round
// boundary and after a speed change is from where it belongs.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "BenchSupport.h"
#include "app/Form1.h"
#include "midi/MIDIOutput.h"
#include "song/PlaybackPlan.h"
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

// Play's own steps, with the start instant taken where the queue starts; returns
// that instant once playback has ended and the window has handled every report.
Clock::time_point PlayToTheEnd(Form1& form, test::MemoryDevices& devices)
{
    form.CmdPlay->setEnabled(false);
    form.CmdStop->setEnabled(true);
    form.OpenOutput();
    form.QueueTrack();
    devices.ClearSent();
    const auto start = Clock::now();
    form.MIDIOutput1->SetAction(ActionStartQueue);
    while (form.CmdStop->isEnabled())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return start;
}

// A million events, note-on/note-off pairs one tick apart; accompanied, a second
// track of another million on channel 2 sounds along and the metronome clicks.
void QueueMillion(const QTemporaryDir& dir, bool accompanied)
{
    test::SmfWriter writer(1, 96);
    writer.AddTrack().Tempo(0, 500'000);
    for (int t = 0; t < (accompanied ? 2 : 1); ++t) {
        auto& track = writer.AddTrack();
        for (int i = 0; i < 500'000; ++i) {
            const int note = 21 + (i + t * 12) % 88;
            track.NoteOn(1, t, note, 80).NoteOff(1, t, note);
        }
    }
    const QString path = test::SmfWriter::WriteFile(dir, QStringLiteral("million.mid"), writer.Bytes());

    auto devices = test::MemoryDevices::Create();
    Form1 form(devices, QuietHooks());
    form.Form_Load();
    form.OpenMidiFileAt(path);
    if (accompanied) {
        form.Accompaniment->trigger();
        form.Metronome->trigger();
    }

    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        form.CmdPlay_Click();
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        form.CmdStop_Click();
    }
    const char* name = accompanied ? "queue_1M_events_accompanied_1M_metronome" : "queue_1M_events";
    std::printf("%s_ms_median: %.1f\n", name, Percentile(times, 0.5));
    std::printf("%s_ms_max: %.1f\n", name, *std::max_element(times.begin(), times.end()));
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

    const auto start = PlayToTheEnd(form, *devices);

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

// Waits while the window handles the port's reports.
void RunFor(Clock::duration duration)
{
    const auto end = Clock::now() + duration;
    while (Clock::now() < end)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

// The dense passage's chords against four-note chords on channel 2 between them,
// with the metronome: lateness of every message sent against its planned time.
void DenseAccompanied(const QTemporaryDir& dir)
{
    test::SmfWriter writer(1, 1000);
    writer.AddTrack().Tempo(0, 1'000'000);
    auto& melody = writer.AddTrack();
    auto& accompaniment = writer.AddTrack();
    for (int c = 0; c < 500; ++c) {
        const int root = 36 + (c * 7) % 48;
        for (int v = 0; v < 8; ++v)
            melody.NoteOn(v == 0 && c > 0 ? 2 : 0, 0, root + v * 3, 90);
        for (int v = 0; v < 8; ++v)
            melody.NoteOff(v == 0 ? 18 : 0, 0, root + v * 3);
        for (int v = 0; v < 4; ++v)
            accompaniment.NoteOn(v == 0 ? 10 : 0, 1, 40 + v * 4, 70);
        for (int v = 0; v < 4; ++v)
            accompaniment.NoteOff(v == 0 ? 10 : 0, 1, 40 + v * 4);
    }
    const QString path = test::SmfWriter::WriteFile(dir, QStringLiteral("dense2.mid"), writer.Bytes());
    auto devices = test::MemoryDevices::Create();
    Form1 form(devices, QuietHooks());
    form.Form_Load();
    form.OpenMidiFileAt(path);
    form.Accompaniment->trigger();
    form.Metronome->trigger();

    PlaybackRequest request;
    request.accompaniment = request.metronome = true;
    request.msPerTick = form.MsPerTick;
    std::vector<double> due;
    for (const PlannedMessage& message : PlanPlayback(form.Midifile1, request).messages)
        if (message.status < 0xF0) due.push_back(message.due);

    const auto start = PlayToTheEnd(form, *devices);
    const auto sent = devices->SentLog();
    std::vector<double> lateness;
    for (std::size_t k = 0; k < std::min(due.size(), sent.size()); ++k)
        lateness.push_back(Ms(sent[k].time - start) - due[k]);
    std::printf("dense_accompanied_messages_sent: %zu\n", lateness.size());
    std::printf("dense_accompanied_lateness_ms_p99: %.3f\n", Percentile(lateness, 0.99));
    std::printf("dense_accompanied_lateness_ms_max: %.3f\n",
                *std::max_element(lateness.begin(), lateness.end()));
}

// A passage of five notes 20 ms apart, looped from a note 20 ms after the event
// before it: how far each round's first note is from 20 ms after the previous
// round's last message.
void LoopBoundary(const QTemporaryDir& dir)
{
    test::SmfWriter writer(0, 1000);
    auto& track = writer.AddTrack().Tempo(0, 1'000'000);
    for (int i = 0; i < 6; ++i)
        track.NoteOn(20, 0, 60 + i, 90).NoteOff(0, 0, 60 + i);
    const QString path = test::SmfWriter::WriteFile(dir, QStringLiteral("loop.mid"), writer.Bytes());
    auto devices = test::MemoryDevices::Create();
    Form1 form(devices, QuietHooks());
    form.Form_Load();
    form.OpenMidiFileAt(path);
    form.LoopFromMark->trigger();
    form.TagMarker->setText(QStringLiteral("4"));   // from the second note-on
    form.TagNumber->setText(QStringLiteral("13"));  // to the sixth: its hanging note is ended
    devices->ClearSent();
    form.CmdPlay_Click();
    RunFor(std::chrono::seconds(3));
    form.CmdStop_Click();
    const auto sent = devices->SentLog();
    std::vector<double> error;
    for (std::size_t k = 1; k < sent.size(); ++k)
        if (sent[k].message == ShortMessage{0x90, 61, 90} && sent[k - 1].message.status == 0x80)
            error.push_back(Ms(sent[k].time - sent[k - 1].time) - 20.0);
    std::printf("loop_rounds: %zu\n", error.size());
    std::printf("loop_boundary_gap_error_ms_p50: %.3f\n", Percentile(error, 0.5));
    std::printf("loop_boundary_gap_error_ms_max: %.3f\n", *std::max_element(error.begin(), error.end()));
}

// Notes every 20 ms, the speed switched between 100 % and 50 % every 150 ms: how far
// the first message after each change is from where the change puts it.
void SpeedChange(const QTemporaryDir& dir)
{
    test::SmfWriter writer(0, 1000);
    auto& track = writer.AddTrack().Tempo(0, 1'000'000);
    for (int i = 0; i < 400; ++i)
        track.NoteOn(i ? 20 : 0, 0, 40 + i % 40, 90);
    const QString path = test::SmfWriter::WriteFile(dir, QStringLiteral("steady.mid"), writer.Bytes());
    auto devices = test::MemoryDevices::Create();
    Form1 form(devices, QuietHooks());
    form.Form_Load();
    form.OpenMidiFileAt(path);
    devices->ClearSent();
    form.CmdPlay_Click();
    std::vector<std::pair<Clock::time_point, double>> changes;  // when, old rate / new rate
    for (int c = 0; c < 20; ++c) {
        RunFor(std::chrono::milliseconds(150));
        const bool slower = c % 2 == 0;
        changes.emplace_back(Clock::now(), slower ? 2.0 : 0.5);
        form.findChild<QAction*>(slower ? QStringLiteral("Speed50") : QStringLiteral("Speed100"))->trigger();
    }
    form.CmdStop_Click();
    const auto sent = devices->SentLog();
    std::vector<double> error;
    for (std::size_t c = 0; c < changes.size(); ++c) {
        const auto [when, stretch] = changes[c];
        const auto next =
            std::find_if(sent.begin(), sent.end(), [&](const auto& s) { return s.time >= when; });
        if (next == sent.begin() || next == sent.end()) continue;
        const double before = c % 2 == 0 ? 20.0 : 40.0;  // the spacing at the old speed
        const double left = std::max(0.0, before - Ms(when - std::prev(next)->time));
        error.push_back(Ms(next->time - when) - left * stretch);
    }
    std::printf("speed_change_gap_error_ms_p50: %.3f\n", Percentile(error, 0.5));
    std::printf("speed_change_gap_error_ms_max: %.3f\n", *std::max_element(error.begin(), error.end()));
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QTemporaryDir dir;
    QueueMillion(dir, false);
    QueueMillion(dir, true);
    DensePassage(dir);
    DenseAccompanied(dir);
    LoopBoundary(dir);
    SpeedChange(dir);
    return 0;
}
