#include "song/Midifile.h"

#include <QFile>
#include <QStringDecoder>
#include <algorithm>
#include <bitset>
#include <climits>
#include <cmath>
#include <limits>
#include <optional>

#include "common/ComponentError.h"
#include "song/NumberText.h"
#include "song/SmfSong.h"

namespace vantor {

namespace {

[[noreturn]] void Fail(const QString& message)
{
    throw ComponentError(message.toStdString());
}

QString DecodeText(std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty() && bytes.back() == 0)
        bytes = bytes.first(bytes.size() - 1);
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(view);
    if (!utf8.hasError()) return text;
    return QString::fromLatin1(view);  // older files carry Latin-1 (or some other 8-bit code page)
}

}  // namespace

struct Midifile::Impl
{
    QString path;
    std::optional<SmfSong> song;
    // Per track: the events left after the filter, kept only where the filter removes something.
    std::vector<SmfEventTable> filtered;
    std::vector<bool> useFiltered;
    std::bitset<256> filter;
    int track = 0;
    int event = 1;
    const SmfEventTable* table = nullptr;  // the current track's events as the filter leaves them

    void Drop()
    {
        song.reset();
        filtered.clear();
        useFiltered.clear();
        track = 0;
        event = 1;
        table = nullptr;
    }

    void Load(std::span<const std::uint8_t> bytes)
    {
        Drop();
        song = SmfSong::Parse(bytes);
        track = song->tracks.empty() ? 0 : 1;
        filtered.resize(song->tracks.size());
        useFiltered.resize(song->tracks.size());
        ApplyFilter();
    }

    void ApplyFilter()
    {
        if (!song) return;
        for (std::size_t i = 0; i < song->tracks.size(); ++i) {
            const SmfTrackEvents& source = song->tracks[i];
            SmfEventTable& kept = filtered[i];
            kept.clear();
            useFiltered[i] = (source.statuses & filter).any();
            if (!useFiltered[i]) {
                kept.shrink_to_fit();
                continue;
            }
            kept.reserve(static_cast<std::size_t>(
                std::count_if(source.events.begin(), source.events.end(),
                              [this](const SmfEvent& e) { return !filter.test(e.status); })));
            // A removed event's delta moves to the next kept event, so later timing stays put.
            std::uint64_t carried = 0;
            for (const SmfEvent& e : source.events) {
                carried += e.delta;
                if (filter.test(e.status)) continue;
                SmfEvent copy = e;
                copy.delta = static_cast<std::uint32_t>(std::min<std::uint64_t>(carried, INT_MAX));
                carried = 0;
                kept.push_back(copy);
            }
        }
        SelectTable();
        event = std::clamp(event, 1, std::max(1, EventCount()));
    }

    void SelectTable()
    {
        if (!song || track == 0) {
            table = nullptr;
            return;
        }
        const auto index = static_cast<std::size_t>(track - 1);
        table = useFiltered[index] ? &filtered[index] : &song->tracks[index].events;
    }

    int EventCount() const { return table ? static_cast<int>(table->size()) : 0; }

    const SmfEvent& Current() const
    {
        if (!table) Fail(QStringLiteral("No MIDI file is loaded"));
        if (table->empty()) Fail(QStringLiteral("Track %1 has no events").arg(track));
        return (*table)[static_cast<std::size_t>(event - 1)];
    }
};

Midifile::Midifile() : impl_(std::make_unique<Impl>()) {}

Midifile::~Midifile() = default;

void Midifile::SetFileAction(int action)
{
    if (action == FileActionClose) {
        impl_->Drop();
        return;
    }
    if (action != FileActionOpen) Fail(QStringLiteral("Unknown file action %1").arg(action));
    impl_->Drop();
    if (impl_->path.isEmpty()) Fail(QStringLiteral("No MIDI file chosen"));
    QFile file(impl_->path);
    if (!file.open(QIODevice::ReadOnly)) {
        Fail(QStringLiteral("Cannot open %1: %2").arg(impl_->path, file.errorString()));
    }
    // Read in one piece into memory that the parse can fault in cheaply; the size
    // is checked first, so a huge file costs no allocation.
    const qint64 size = file.size();
    constexpr auto kLargest = static_cast<qint64>(SmfSong::kLargestFile);
    if (size > kLargest) Fail(QStringLiteral("%1 is too large to be a MIDI file").arg(impl_->path));
    if (file.isSequential()) {
        // A pipe or device tells no size: read no further than the largest file.
        QByteArray bytes;
        for (QByteArray chunk; !(chunk = file.read(1 << 20)).isEmpty();) {
            bytes += chunk;
            if (bytes.size() > kLargest)
                Fail(QStringLiteral("%1 is too large to be a MIDI file").arg(impl_->path));
        }
        if (file.error() != QFileDevice::NoError) {
            Fail(QStringLiteral("Cannot read %1: %2").arg(impl_->path, file.errorString()));
        }
        impl_->Load({reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                     static_cast<std::size_t>(bytes.size())});
        return;
    }
    std::vector<std::uint8_t, SmfTableAllocator<std::uint8_t>> bytes(static_cast<std::size_t>(size));
    if (file.read(reinterpret_cast<char*>(bytes.data()), size) != size) {
        Fail(QStringLiteral("Cannot read %1: %2").arg(impl_->path, file.errorString()));
    }
    impl_->Load(bytes);
}

void Midifile::LoadFromMemory(std::span<const std::uint8_t> bytes)
{
    impl_->Load(bytes);
}

QString Midifile::FilePath() const
{
    return impl_->path;
}

void Midifile::SetFilePath(const QString& path)
{
    impl_->path = path;
}

int Midifile::TrackCount() const
{
    return impl_->song ? static_cast<int>(impl_->song->tracks.size()) : 0;
}

int Midifile::Division() const
{
    return impl_->song ? impl_->song->division : 0;
}

int Midifile::Tempo() const
{
    return impl_->song ? impl_->song->tempo : 500000;
}

int Midifile::CurrentTrack() const
{
    return impl_->track;
}

void Midifile::SetCurrentTrack(int track)
{
    if (track < 1 || track > TrackCount()) {
        Fail(TrackCount() == 0 ? QStringLiteral("Track %1 does not exist: no MIDI file is loaded").arg(track)
                               : QStringLiteral("Track %1 does not exist (the file has tracks 1 to %2)")
                                     .arg(track)
                                     .arg(TrackCount()));
    }
    impl_->track = track;
    impl_->event = 1;
    impl_->SelectTable();
}

int Midifile::EventCount() const
{
    return impl_->EventCount();
}

int Midifile::CurrentEvent() const
{
    return impl_->event;
}

void Midifile::SetCurrentEvent(int index)
{
    const int last = std::max(1, EventCount());
    if (index < 1 || index > last) {
        Fail(QStringLiteral("Event %1 does not exist (events go from 1 to %2)").arg(index).arg(last));
    }
    impl_->event = index;
}

void Midifile::SetCurrentEvent(const QString& text)
{
    const std::optional<double> number = ParseNumber(text);
    if (!number) Fail(QStringLiteral("\"%1\" is not an event number").arg(text));
    const double rounded = std::round(*number);  // halves away from zero
    const int last = std::max(1, EventCount());
    if (rounded < 1 || rounded > last) {
        Fail(
            QStringLiteral("Event %1 does not exist (events go from 1 to %2)").arg(text.trimmed()).arg(last));
    }
    impl_->event = static_cast<int>(rounded);
}

int Midifile::EventStatus() const
{
    return impl_->Current().status;
}

int Midifile::EventData1() const
{
    return impl_->Current().data1;
}

int Midifile::EventData2() const
{
    return impl_->Current().data2;
}

int Midifile::EventDelta() const
{
    return static_cast<int>(impl_->Current().delta);
}

QString Midifile::EventText() const
{
    const SmfEvent& event = impl_->Current();
    if (event.status != 0xFF) return {};
    return DecodeText(impl_->song->Payload(event));
}

void Midifile::SetFilter(int status, bool on)
{
    if (status < 0 || status > 255) Fail(QStringLiteral("Filter status %1 is not a status byte").arg(status));
    const auto bit = static_cast<std::size_t>(status);
    if (impl_->filter.test(bit) == on) return;
    impl_->filter.set(bit, on);
    impl_->ApplyFilter();
}

bool Midifile::Filter(int status) const
{
    if (status < 0 || status > 255) Fail(QStringLiteral("Filter status %1 is not a status byte").arg(status));
    return impl_->filter.test(static_cast<std::size_t>(status));
}

int Midifile::FileFormat() const
{
    return impl_->song ? impl_->song->format : 0;
}

int Midifile::HeaderTrackCount() const
{
    return impl_->song ? impl_->song->declaredTracks : 0;
}

int Midifile::HeaderDivision() const
{
    return impl_->song ? impl_->song->rawDivision : 0;
}

QByteArray Midifile::EventBytes() const
{
    const SmfEvent& event = impl_->Current();
    const std::span<const std::uint8_t> payload = impl_->song->Payload(event);
    return {reinterpret_cast<const char*>(payload.data()), static_cast<qsizetype>(payload.size())};
}

std::size_t Midifile::MemoryBytes() const
{
    if (!impl_->song) return 0;
    std::size_t total =
        impl_->song->pool.capacity() + impl_->song->tracks.capacity() * sizeof(SmfTrackEvents);
    for (const SmfTrackEvents& track : impl_->song->tracks)
        total += track.events.capacity() * sizeof(SmfEvent);
    for (const SmfEventTable& kept : impl_->filtered)
        total += kept.capacity() * sizeof(SmfEvent);
    return total;
}

}  // namespace vantor
