#include "midi/backends/BuiltInSynth.h"

#include <fluidsynth.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QtDebug>
#include <algorithm>
#include <cmath>

#include "midi/backends/JackClient.h"
#include "midi/backends/JackEnvironment.h"

namespace vantor {

namespace {

// Master gain at full volume. FluidSynth's own default (0.2) is quiet with a GM
// SoundFont; at half volume we start a little louder than that.
constexpr double kFullGain = 1.0;
constexpr std::int32_t kStartVolume = 0x6666;  // 0.4 of full gain
constexpr std::int32_t kMaxVolume = 0xFFFF;

// MMSystem's MIDICAPS_VOLUME: the device has a volume control.
constexpr std::uint32_t kCapsVolume = 0x0001;

// Real sound outputs only, in the order tried. FluidSynth's "file" driver would
// succeed without a sound card and write a wave file; "sdl2" needs SDL set up.
constexpr const char* kAudioDrivers[] = {"pulseaudio", "pipewire", "alsa", "jack"};

void LogToQt(int level, const char* message, void*)
{
    switch (level) {
        case FLUID_PANIC:
            qWarning("FluidSynth: %s", message);
            break;
        case FLUID_DBG:
            break;
        default:
            // Failed drivers are expected while the outputs are tried one by one.
            qCDebug(lcDevices, "FluidSynth: %s", message);
            break;
    }
}

}  // namespace

void RouteFluidSynthLog()
{
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
        fluid_set_log_function(level, LogToQt, nullptr);
}

namespace {

bool DriverCompiledIn(fluid_settings_t* settings, const char* name)
{
    struct Search
    {
        const char* name;
        bool found;
    } search{name, false};
    fluid_settings_foreach_option(settings, "audio.driver", &search,
                                  [](void* data, const char*, const char* option) {
                                      auto* s = static_cast<Search*>(data);
                                      if (std::string_view(option) == s->name) s->found = true;
                                  });
    return search.found;
}

QString NoSoundFontText(const QStringList& folders)
{
    return QStringLiteral(
               "The built-in synthesizer has no sound: no General MIDI SoundFont (.sf2 file) was found in "
               "%1. "
               "Install one (on Debian and Ubuntu: sudo apt install timgm6mb-soundfont) or put a .sf2 file "
               "into "
               "the soundfonts folder beside the program, then choose the output again.")
        .arg(folders.join(QStringLiteral(", ")));
}

}  // namespace

struct BuiltInSynth::Handles
{
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    fluid_audio_driver_t* driver = nullptr;
    // On JACK: a client of our own that hears the server go (FluidSynth's only logs it).
    std::unique_ptr<JackClient> jackWatch;
    ~Handles()
    {
        // The audio thread goes first: it renders from the synth.
        if (driver) delete_fluid_audio_driver(driver);
        if (synth) delete_fluid_synth(synth);
        if (settings) delete_fluid_settings(settings);
    }
};

QStringList BuiltInSynth::SoundFontFolders()
{
    QStringList folders;
    if (QCoreApplication::instance())
        folders << QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("soundfonts"));
    folders << QStringLiteral("/usr/share/sounds/sf2") << QStringLiteral("/usr/share/soundfonts");
    return folders;
}

QString BuiltInSynth::FindSoundFont(const QStringList& folders)
{
    static const QStringList preferred = {QStringLiteral("FluidR3_GM.sf2"), QStringLiteral("default-GM.sf2"),
                                          QStringLiteral("TimGM6mb.sf2")};
    for (const QString& folder : folders) {
        const QDir dir(folder);
        if (!dir.exists()) continue;
        for (const QString& name : preferred) {
            const QFileInfo file(dir.filePath(name));
            if (file.isFile() && file.isReadable()) return file.absoluteFilePath();
        }
        const QFileInfoList any =
            dir.entryInfoList({QStringLiteral("*.sf2"), QStringLiteral("*.SF2")},
                              QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
        if (!any.isEmpty()) return any.first().absoluteFilePath();
    }
    return {};
}

namespace {

std::unique_ptr<fluid_settings_t, decltype(&delete_fluid_settings)> LowLatencySettings(
    const BuiltInSynth::AudioOptions& options)
{
    RouteFluidSynthLog();
    KeepJackFromStartingServers();
    std::unique_ptr<fluid_settings_t, decltype(&delete_fluid_settings)> settings(new_fluid_settings(),
                                                                                 &delete_fluid_settings);
    if (!settings)
        throw DeviceError(PortErrorCode::NoMemory, QStringLiteral("The synthesizer could not start."));
    fluid_settings_t* s = settings.get();
    fluid_settings_setint(s, "audio.period-size", options.periodSize);
    fluid_settings_setint(s, "audio.periods", options.periods);
    fluid_settings_setint(s, "audio.pulseaudio.adjust-latency", 0);
    fluid_settings_setint(s, "audio.jack.autoconnect", 1);
    fluid_settings_setstr(s, "audio.jack.id", "Vantor Synthesizer");
    fluid_settings_setint(s, "synth.threadsafe-api", 1);
    return settings;
}

}  // namespace

namespace {

// Messages kept while the SoundFont loads; a flood beyond this is dropped.
constexpr std::size_t kMaxWaiting = 1 << 16;

// A file that is no SoundFont at all is refused at once, before the output opens;
// a damaged one only shows while it loads.
bool LooksLikeSoundFont(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray head = file.read(12);
    return head.size() == 12 && head.startsWith("RIFF") && head.mid(8, 4) == "sfbk";
}

QString DamagedSoundFontText(const QString& soundFont)
{
    return QStringLiteral(
               "The SoundFont %1 could not be loaded: it is damaged or no SoundFont. Replace it with a "
               "working General MIDI .sf2 file (on Debian and Ubuntu: sudo apt install --reinstall "
               "timgm6mb-soundfont).")
        .arg(QDir::toNativeSeparators(soundFont));
}

fluid_synth_t* NewSynth(fluid_settings_t* settings, const QString& soundFont)
{
    if (!QFileInfo(soundFont).isFile())
        throw DeviceError(PortErrorCode::NoDriver, NoSoundFontText({QFileInfo(soundFont).absolutePath()}));
    if (!LooksLikeSoundFont(soundFont))
        throw DeviceError(PortErrorCode::InvalidParameter, DamagedSoundFontText(soundFont));
    fluid_synth_t* synth = new_fluid_synth(settings);
    if (!synth)
        throw DeviceError(PortErrorCode::NoMemory, QStringLiteral("The synthesizer could not start."));
    fluid_synth_set_gain(synth, static_cast<float>(kFullGain * kStartVolume / kMaxVolume));
    return synth;
}

}  // namespace

BuiltInSynth::BuiltInSynth(std::unique_ptr<Handles> handles, QString soundFont, Loading loading)
    : handles_(std::move(handles)), soundFont_(std::move(soundFont)), volume_(kStartVolume)
{
    if (loading == Loading::Now)
        Load();
    else
        worker_ = std::thread(&BuiltInSynth::Load, this);
}

BuiltInSynth::BuiltInSynth(QString soundFont, const AudioOptions& options)
    : soundFont_(std::move(soundFont)), options_(options), volume_(kStartVolume)
{
    worker_ = std::thread(&BuiltInSynth::OpenAndLoad, this);
}

BuiltInSynth::~BuiltInSynth()
{
    {
        const std::lock_guard lock(keepLock_);
        closing_ = true;
    }
    keepWake_.notify_all();
    // FluidSynth cannot cancel a load; the synth must outlive it.
    if (worker_.joinable()) worker_.join();
    // Before the members a JACK shutdown would report through.
    handles_.reset();
}

namespace {

QString NoAudioOutputText(const QStringList& tried)
{
    return QStringLiteral(
               "The built-in synthesizer found no audio output (tried %1). Check that a sound device is "
               "connected, switched on and not held by another program, and that the sound server is "
               "running; or choose a MIDI output device instead.")
        .arg(tried.join(QStringLiteral(", ")));
}

// Starts the named audio driver on the synth, with a watch on JACK's server
// (FluidSynth's jack driver only logs its loss). Nothing when it does not start.
bool StartDriver(fluid_settings_t* settings, fluid_synth_t* synth, const char* name,
                 fluid_audio_driver_t*& driver, std::unique_ptr<JackClient>& jackWatch)
{
    fluid_settings_setstr(settings, "audio.driver", name);
    driver = new_fluid_audio_driver(settings, synth);
    if (!driver || std::string_view(name) != "jack" || jackWatch) return driver != nullptr;
    try {
        jackWatch = std::make_unique<JackClient>("Vantor Synthesizer Watch");
        jackWatch->Activate();
        return true;
    } catch (const DeviceError&) {
        // The server went between the driver and the watch: no output after all.
        jackWatch.reset();
        delete_fluid_audio_driver(std::exchange(driver, nullptr));
        return false;
    }
}

}  // namespace

void BuiltInSynth::OpenAndLoad()
{
    auto handles = std::make_unique<Handles>();
    QString driver;
    try {
        handles->settings = LowLatencySettings(options_).release();
        handles->synth = NewSynth(handles->settings, soundFont_);
        QStringList tried;
        for (const char* name : kAudioDrivers) {
            if (!DriverCompiledIn(handles->settings, name)) continue;
            tried << QString::fromLatin1(name);
            if (!StartDriver(handles->settings, handles->synth, name, handles->driver, handles->jackWatch))
                continue;
            driver = QString::fromLatin1(name);
            break;
        }
        if (driver.isEmpty()) throw DeviceError(PortErrorCode::NoDriver, NoAudioOutputText(tried));
    } catch (const DeviceError& error) {
        handles.reset();
        Fail(error.Code(), error.Description());
        return;
    }
    audioRunning_.store(true);
    {
        const std::lock_guard lock(loadLock_);
        handles_ = std::move(handles);
        driverName_ = driver;
    }
    if (handles_->jackWatch)
        handles_->jackWatch->OnShutdown([this] {
            Fail(PortErrorCode::NoDriver, JackServerStoppedText(QStringLiteral("the built-in synthesizer")));
        });
    Load();
    if (state_.load() == State::Ready && options_.stopAfterSilence.count() > 0) KeepAudio();
}

void BuiltInSynth::Load()
{
    const bool loaded =
        fluid_synth_sfload(handles_->synth, QFile::encodeName(soundFont_).constData(), 1) != FLUID_FAILED;
    if (!loaded) {
        Fail(PortErrorCode::InvalidParameter, DamagedSoundFontText(soundFont_));
        return;
    }
    const std::lock_guard lock(loadLock_);
    ApplyVolume();
    for (const ShortMessage& message : waiting_)
        Dispatch(message);
    waiting_ = {};
    lastSend_.store(std::chrono::steady_clock::now().time_since_epoch().count());
    state_.store(State::Ready, std::memory_order_release);
    loaded_.notify_all();
}

void BuiltInSynth::Fail(int code, const QString& description)
{
    Failure failure;
    {
        const std::lock_guard lock(loadLock_);
        errorCode_ = code;
        error_ = description;
        waiting_ = {};
        state_.store(State::Failed, std::memory_order_release);
        failure = failure_;
        loaded_.notify_all();
    }
    if (failure) failure(DeviceError(code, description));
}

void BuiltInSynth::OnFailure(Failure failure)
{
    const std::lock_guard lock(loadLock_);
    failure_ = std::move(failure);
    if (failure_ && state_.load() == State::Failed) failure_(DeviceError(errorCode_, error_));
}

void BuiltInSynth::KeepAudio()
{
    using Clock = std::chrono::steady_clock;
    // How often a running output is checked for silence: it stops this much late at most.
    constexpr auto kCheck = std::chrono::milliseconds(250);
    std::unique_lock lock(keepLock_);
    while (!closing_) {
        keepWake_.wait_for(lock, kCheck, [this] { return closing_ || (audioRunning_ && !handles_->driver); });
        if (closing_ || !audioRunning_) continue;
        if (!handles_->driver) {
            if (StartDriver(handles_->settings, handles_->synth, QFile::encodeName(driverName_).constData(),
                            handles_->driver, handles_->jackWatch))
                continue;
            lock.unlock();
            Fail(PortErrorCode::NoDriver, NoAudioOutputText({driverName_}));
            return;
        }
        const Clock::time_point last{Clock::duration(lastSend_.load())};
        if (Clock::now() - last < options_.stopAfterSilence ||
            fluid_synth_get_active_voice_count(handles_->synth) > 0)
            continue;
        // Marked first: a message during the stop (PulseAudio's takes a second or
        // two) finds the output stopped and asks for it again.
        audioRunning_ = false;
        lock.unlock();
        delete_fluid_audio_driver(std::exchange(handles_->driver, nullptr));
        lock.lock();
    }
}

QString BuiltInSynth::AudioDriver() const
{
    const std::lock_guard lock(loadLock_);
    return driverName_;
}

bool BuiltInSynth::WaitUntilLoaded()
{
    std::unique_lock lock(loadLock_);
    loaded_.wait(lock, [this] { return state_.load() != State::Loading; });
    return state_.load() == State::Ready;
}

std::unique_ptr<BuiltInSynth> BuiltInSynth::Open(const QStringList& soundFontFolders)
{
    return Open(soundFontFolders, AudioOptions{});
}

std::unique_ptr<BuiltInSynth> BuiltInSynth::Open(const QStringList& soundFontFolders,
                                                 const AudioOptions& options)
{
    const QString soundFont = FindSoundFont(soundFontFolders);
    if (soundFont.isEmpty()) throw DeviceError(PortErrorCode::NoDriver, NoSoundFontText(soundFontFolders));
    if (!LooksLikeSoundFont(soundFont))
        throw DeviceError(PortErrorCode::InvalidParameter, DamagedSoundFontText(soundFont));
    return std::unique_ptr<BuiltInSynth>(new BuiltInSynth(soundFont, options));
}

std::unique_ptr<BuiltInSynth> BuiltInSynth::OpenOffline(const QString& soundFont, Loading loading)
{
    auto settings = LowLatencySettings({});
    // Effects off, so silence is exactly zero and a test can tell when sound has ended.
    fluid_settings_setint(settings.get(), "synth.reverb.active", 0);
    fluid_settings_setint(settings.get(), "synth.chorus.active", 0);
    auto handles = std::make_unique<Handles>();
    handles->settings = settings.release();
    handles->synth = NewSynth(handles->settings, soundFont);
    std::unique_ptr<BuiltInSynth> synth(new BuiltInSynth(std::move(handles), soundFont, loading));
    if (loading == Loading::Now && !synth->WaitUntilLoaded())
        throw DeviceError(PortErrorCode::InvalidParameter, DamagedSoundFontText(soundFont));
    return synth;
}

void BuiltInSynth::Send(const ShortMessage& message)
{
    if (state_.load(std::memory_order_acquire) != State::Ready) {
        const std::lock_guard lock(loadLock_);
        switch (state_.load()) {
            case State::Loading:
                if (waiting_.size() < kMaxWaiting) waiting_.push_back(message);
                return;
            case State::Failed:
                throw DeviceError(errorCode_, error_);
            case State::Ready:
                break;
        }
    }
    if (handles_->jackWatch && handles_->jackWatch->ServerGone())
        throw DeviceError(PortErrorCode::NoDriver,
                          JackServerStoppedText(QStringLiteral("the built-in synthesizer")));
    Dispatch(message);
    lastSend_.store(std::chrono::steady_clock::now().time_since_epoch().count());
    if (!audioRunning_) {
        {
            const std::lock_guard lock(keepLock_);
            audioRunning_ = true;
        }
        keepWake_.notify_all();
    }
}

void BuiltInSynth::Dispatch(const ShortMessage& message)
{
    fluid_synth_t* synth = handles_->synth;
    const int channel = message.status & 0x0F;
    const int data1 = message.data1 & 0x7F;
    const int data2 = message.data2 & 0x7F;
    // Return codes are ignored on purpose: a note-off for a note that is not
    // sounding, or a program the SoundFont lacks, is no failure of the device.
    switch (message.status & 0xF0) {
        case 0x80:
            fluid_synth_noteoff(synth, channel, data1);
            break;
        case 0x90:
            if (data2 == 0)
                fluid_synth_noteoff(synth, channel, data1);
            else
                fluid_synth_noteon(synth, channel, data1, data2);
            break;
        case 0xA0:
            fluid_synth_key_pressure(synth, channel, data1, data2);
            break;
        case 0xB0:
            fluid_synth_cc(synth, channel, data1, data2);
            break;
        case 0xC0:
            fluid_synth_program_change(synth, channel, data1);
            break;
        case 0xD0:
            fluid_synth_channel_pressure(synth, channel, data1);
            break;
        case 0xE0:
            fluid_synth_pitch_bend(synth, channel, data1 | (data2 << 7));
            break;
        default:
            break;
    }
}

std::uint32_t BuiltInSynth::Capabilities() const
{
    return kCapsVolume;
}

std::int32_t BuiltInSynth::Volume() const
{
    return volume_.load();
}

void BuiltInSynth::SetVolume(std::int32_t volume)
{
    // Windows-style volumes carry the right channel in the high word; one gain takes the low word.
    const std::lock_guard lock(loadLock_);
    volume_.store(volume & kMaxVolume);
    if (state_.load() == State::Ready) ApplyVolume();
}

void BuiltInSynth::ApplyVolume()
{
    const double level = static_cast<double>(volume_.load()) / kMaxVolume;
    fluid_synth_set_gain(handles_->synth, static_cast<float>(level * kFullGain));
}

void BuiltInSynth::Render(std::span<float> left, std::span<float> right)
{
    const auto frames = static_cast<int>(std::min(left.size(), right.size()));
    fluid_synth_write_float(handles_->synth, frames, left.data(), 0, 1, right.data(), 0, 1);
}

}  // namespace vantor
