#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
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
// Loading a SoundFont takes from 30 ms (TimGM6mb) to a second (FluidR3_GM), so
// Open returns once the audio output runs and loads it on a thread of its own.
// Messages sent meanwhile are kept and played, in order, as soon as it is
// loaded; should the load fail, the next send throws DeviceError and the port
// closes with an Error that says so.
class BuiltInSynth : public OutputDevice
{
public:
    enum class Loading
    {
        Now,
        InBackground
    };

    static QString ProductName() { return QStringLiteral("Built-in Synthesizer"); }

    // The folders searched for a SoundFont: beside the program first, then the system's.
    static QStringList SoundFontFolders();
    // The preferred General MIDI SoundFont in these folders, or "" when there is none.
    static QString FindSoundFont(const QStringList& folders);

    // Opens the synthesizer on the first audio output that works. Throws DeviceError
    // with what the user can do when there is no SoundFont or no audio output.
    static std::unique_ptr<BuiltInSynth> Open(const QStringList& soundFontFolders = SoundFontFolders());
    // A synthesizer with no audio output, rendered by the caller (tests, measurements).
    static std::unique_ptr<BuiltInSynth> OpenOffline(const QString& soundFont,
                                                     Loading loading = Loading::Now);

    ~BuiltInSynth() override;
    BuiltInSynth(const BuiltInSynth&) = delete;
    BuiltInSynth& operator=(const BuiltInSynth&) = delete;

    void Send(const ShortMessage& message) override;
    std::uint32_t Capabilities() const override;
    bool HasVolume() const override { return true; }
    std::int32_t Volume() const override;
    void SetVolume(std::int32_t volume) override;

    // Blocks until the SoundFont is loaded; false when loading it failed.
    bool WaitUntilLoaded();
    bool IsLoading() const { return state_.load() == State::Loading; }

    // Offline only: renders the next frames into the two channels (equal sizes).
    void Render(std::span<float> left, std::span<float> right);
    QString SoundFont() const { return soundFont_; }
    QString AudioDriver() const { return driverName_; }

private:
    struct Handles;
    enum class State
    {
        Loading,
        Ready,
        Failed
    };
    BuiltInSynth(std::unique_ptr<Handles> handles, QString soundFont, QString driver, Loading loading);
    void Load();
    void Dispatch(const ShortMessage& message);
    void ApplyVolume();  // under loadLock_, once loaded

    std::unique_ptr<Handles> handles_;
    QString soundFont_;
    QString driverName_;

    std::atomic<State> state_{State::Loading};
    std::mutex loadLock_;  // guards waiting_ and loadError_ until the state is Ready
    std::condition_variable loaded_;
    std::vector<ShortMessage> waiting_;
    QString loadError_;
    // FluidSynth holds its API lock for the whole load: the volume is kept here,
    // answered from here, and handed to the synth once it is loaded.
    std::atomic<std::int32_t> volume_;
    std::thread loader_;
};

}  // namespace vantor
