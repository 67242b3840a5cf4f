#include "JackPeer.h"

#include <RtMidi.h>

#include <stdexcept>

namespace vantor::e2e {

namespace {

constexpr const char* RecordClient = "E2EPeer";
constexpr const char* RecordPortName = "record";
constexpr const char* PlayClient = "E2EPeerKeys";
constexpr const char* PlayPortName = "play";

}  // namespace

JackPeer::JackPeer()
{
    try {
        in_ = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, RecordClient, 4096);
        // Record everything the program sends, whatever its kind.
        in_->ignoreTypes(false, false, false);
        in_->setCallback(&JackPeer::OnMessage, this);
        in_->openVirtualPort(RecordPortName);
        out_ = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, PlayClient);
        out_->openVirtualPort(PlayPortName);
    } catch (const RtMidiError& e) {
        throw std::runtime_error("the MIDI peer could not open its JACK ports: " + e.getMessage());
    }
    bool found = false;
    for (const QString& name : WritablePorts())
        found = found || name == RecordPort();
    if (!found)
        throw std::runtime_error("the MIDI peer's port " + RecordPort().toStdString() +
                                 " does not show in the JACK graph (was the client renamed?)");
}

JackPeer::~JackPeer()
{
    if (in_) in_->cancelCallback();
}

QString JackPeer::RecordPort() const
{
    return QStringLiteral("%1:%2").arg(QLatin1String(RecordClient), QLatin1String(RecordPortName));
}

QString JackPeer::PlayPort() const
{
    return QStringLiteral("%1:%2").arg(QLatin1String(PlayClient), QLatin1String(PlayPortName));
}

void JackPeer::Play(const Bytes& message)
{
    std::vector<unsigned char> bytes(message.begin(), message.end());
    out_->sendMessage(&bytes);
}

std::size_t JackPeer::Count() const
{
    const std::lock_guard lock(mutex_);
    return received_.size();
}

std::vector<Arrival> JackPeer::Since(std::size_t from) const
{
    const std::lock_guard lock(mutex_);
    if (from >= received_.size()) return {};
    return {received_.begin() + static_cast<std::ptrdiff_t>(from), received_.end()};
}

std::vector<QString> JackPeer::WritablePorts()
{
    RtMidiOut probe(RtMidi::UNIX_JACK, "E2EProbe");
    std::vector<QString> names;
    const unsigned int count = probe.getPortCount();
    for (unsigned int i = 0; i < count; ++i)
        names.push_back(QString::fromStdString(probe.getPortName(i)));
    return names;
}

void JackPeer::OnMessage(double, std::vector<unsigned char>* message, void* self)
{
    // Runs on the JACK process thread: the arrival time is taken at once.
    const auto now = Clock::now();
    auto* peer = static_cast<JackPeer*>(self);
    const std::lock_guard lock(peer->mutex_);
    peer->received_.push_back({now, Bytes(message->begin(), message->end())});
}

}  // namespace vantor::e2e
