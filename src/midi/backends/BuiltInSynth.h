#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "midi/backends/MidiDevice.h"

namespace vantor {

// Sends FluidSynth's log to Qt's message handler instead of stderr.
void RouteFluidSynthLog();

// The built-in synthesizer: FluidSynth playing a General MIDI SoundFont. Its
// volume is the synthesizer's master gain, 0..0xFFFF for silence..full gain.
//
// Opening the audio output, the synth and loading the SoundFont take from 50 ms
// to over a second, so Open returns at once and a thread of its own does the rest:
// the window never waits for sound. Messages sent meanwhile are kept and played,
// in order, as soon as it is ready; a failure reaches OnFailure once, when it is
// known (and any later send throws it). After a few seconds with nothing sounding
// the audio output stops, so an idle program costs no CPU; the next message starts it again.
class BuiltInSynth : public OutputDevice
{
public:
    enum class Loading
    {
        Now,
        InBackground
    };

    // The audio output's buffering (latency is periods x size / 44.1 kHz, and the
    // smaller the period the more often the output wakes) and the silence after
    // which it stops (zero: never). Measured on PulseAudio (bench_synth_latency):
    // 256 x 3 sounds 10 ms after a send for 7 % of a core while running; 128 x 3
    // gains 3 ms for twice the CPU.
    struct AudioOptions
    {
        int periodSize = 256;
        int periods = 3;
        std::chrono::milliseconds stopAfterSilence{4000};
    };

    static QString ProductName() { return QStringLiteral("Built-in Synthesizer"); }

    // The folders searched for a SoundFont: beside the program first, then the system's.
    static QStringList SoundFontFolders();
    // The preferred General MIDI SoundFont in these folders, or "" when there is none.
    static QString FindSoundFont(const QStringList& folders);

    // Opens the synthesizer on the first audio output that works. Throws DeviceError
    // with what the user can do when there is no SoundFont; no audio output is only
    // known later, and reported through OnFailure.
    static std::unique_ptr<BuiltInSynth> Open(const QStringList& soundFontFolders = SoundFontFolders());
    static std::unique_ptr<BuiltInSynth> Open(const QStringList& soundFontFolders,
                                              const AudioOptions& options);
    // A synthesizer with no audio output, rendered by the caller (tests, measurements).
    static std::unique_ptr<BuiltInSynth> OpenOffline(const QString& soundFont,
                                                     Loading loading = Loading::Now);

    ~BuiltInSynth() override;
    BuiltInSynth(const BuiltInSynth&) = delete;
    BuiltInSynth& operator=(const BuiltInSynth&) = delete;

    void Send(const ShortMessage& message) override;
    void OnFailure(Failure failure) override;
    std::uint32_t Capabilities() const override;
    bool HasVolume() const override { return true; }
    std::int32_t Volume() const override;
    void SetVolume(std::int32_t volume) override;

    // Blocks until the SoundFont is loaded; false when opening or loading failed.
    bool WaitUntilLoaded();
    bool IsLoading() const { return state_.load() == State::Loading; }
    // Whether the audio output runs now (it stops after a silence).
    bool AudioRunning() const { return audioRunning_.load(); }

    // Offline only: renders the next frames into the two channels (equal sizes).
    void Render(std::span<float> left, std::span<float> right);
    QString SoundFont() const { return soundFont_; }
    QString AudioDriver() const;  // once loaded

private:
    struct Handles;
    enum class State
    {
        Loading,
        Ready,
        Failed
    };
    BuiltInSynth(std::unique_ptr<Handles> handles, QString soundFont, Loading loading);
    BuiltInSynth(QString soundFont, const AudioOptions& options);
    void OpenAndLoad();  // the worker of Open
    void Load();
    void Fail(int code, const QString& description);
    void KeepAudio();  // the worker, once loaded: stops and starts the audio output
    void Dispatch(const ShortMessage& message);
    void ApplyVolume();  // under loadLock_, once loaded

    std::unique_ptr<Handles> handles_;
    QString soundFont_;
    AudioOptions options_;

    std::atomic<State> state_{State::Loading};
    mutable std::mutex loadLock_;  // guards what follows until the state is Ready
    std::condition_variable loaded_;
    std::vector<ShortMessage> waiting_;
    QString driverName_;
    int errorCode_ = 0;
    QString error_;
    Failure failure_;
    // FluidSynth holds its API lock for the whole load: the volume is kept here,
    // answered from here, and handed to the synth once it is loaded.
    std::atomic<std::int32_t> volume_;

    // The audio output's keeper: woken by a message while the output is stopped.
    std::mutex keepLock_;
    std::condition_variable keepWake_;
    bool closing_ = false;
    std::atomic<bool> audioRunning_{false};
    std::atomic<std::int64_t> lastSend_{0};  // steady clock, nanoseconds
    std::thread worker_;
};

}  // namespace vantor
