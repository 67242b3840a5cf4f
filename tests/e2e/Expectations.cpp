#include "Expectations.h"

#include <QStringList>
#include <algorithm>
#include <array>

namespace vantor::e2e {

namespace {

constexpr int LowestNote = 21;
constexpr int HighestNote = 108;
constexpr int ResetChannelMessages = 32;

int PitchClass(int note)
{
    return note % 12;
}

// x of white key w counted from A0.
int WhiteKeyX(int w)
{
    return 16 + 16 * w;
}

int WhiteIndex(int note)
{
    int w = 0;
    for (int n = LowestNote; n < note; ++n)
        if (!IsBlackKey(n)) ++w;
    return w;
}

int BlackOffset(int pitchClass)
{
    switch (pitchClass) {
        case 1:
            return 11;
        case 3:
            return 13;
        case 6:
            return 10;
        case 8:
            return 12;
        default:
            return 14;  // A sharp
    }
}

QRgb RestingColour(int note)
{
    return IsBlackKey(note) ? 0xC0C0C0 : 0xFFFFFF;
}

QString Colour(QRgb rgb)
{
    return QStringLiteral("#%1").arg(rgb & 0xFFFFFF, 6, 16, QLatin1Char('0'));
}

QString Listing(const std::vector<Bytes>& messages, std::size_t from, std::size_t count)
{
    QStringList parts;
    for (std::size_t i = from; i < messages.size() && i < from + count; ++i)
        parts << QStringLiteral("[%1] %2").arg(i).arg(Hex(messages[i]));
    return parts.isEmpty() ? QStringLiteral("(nothing)") : parts.join(QStringLiteral(", "));
}

}  // namespace

bool IsBlackKey(int note)
{
    const int pc = PitchClass(note);
    return pc == 1 || pc == 3 || pc == 6 || pc == 8 || pc == 10;
}

QRect IndicatorRect(int note)
{
    if (!IsBlackKey(note)) return {WhiteKeyX(WhiteIndex(note)) + 4, 158, 9, 9};
    // A black key stands on the white key just below it on the left.
    return {WhiteKeyX(WhiteIndex(note - 1)) + BlackOffset(PitchClass(note)), 138, 9, 9};
}

QString NoteName(int note)
{
    static constexpr std::array<const char*, 12> Names{"C",  "C#", "D",  "D#", "E",  "F",
                                                       "F#", "G",  "G#", "A",  "A#", "B"};
    return QStringLiteral("%1%2(%3)")
        .arg(QLatin1String(Names[static_cast<std::size_t>(note % 12)]))
        .arg(note / 12 - 1)
        .arg(note);
}

QString IndicatorMismatch(const QImage& client, const KeyColours& expected)
{
    QStringList wrong;
    for (int note = LowestNote; note <= HighestNote; ++note) {
        const auto it = expected.find(note);
        const QRgb want = (it != expected.end() ? it->second : RestingColour(note)) & 0xFFFFFF;
        const QRect square = IndicatorRect(note);
        int bad = 0;
        QRgb seen = want;
        for (int y = square.top(); y <= square.bottom(); ++y)
            for (int x = square.left(); x <= square.right(); ++x) {
                const QRgb pixel = client.pixel(x, y) & 0xFFFFFF;
                if (pixel != want) {
                    if (bad == 0) seen = pixel;
                    ++bad;
                }
            }
        if (bad > 0)
            wrong << QStringLiteral("%1 should show %2 but %3 of its 81 indicator pixels differ (e.g. %4)")
                         .arg(NoteName(note), Colour(want))
                         .arg(bad)
                         .arg(Colour(seen));
    }
    return wrong.join(QStringLiteral("; "));
}

Bytes Msg(int status, int data1, int data2)
{
    return {static_cast<std::uint8_t>(status), static_cast<std::uint8_t>(data1),
            static_cast<std::uint8_t>(data2)};
}

QString Hex(const Bytes& message)
{
    QStringList bytes;
    for (const std::uint8_t b : message)
        bytes << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return bytes.join(QLatin1Char(' '));
}

Expected& Expected::Then(const Bytes& message)
{
    if (segments_.empty() || segments_.back().reset) segments_.push_back({});
    segments_.back().messages.push_back(message);
    return *this;
}

Expected& Expected::Then(const std::vector<Bytes>& messages)
{
    for (const Bytes& message : messages)
        Then(message);
    return *this;
}

Expected& Expected::Reset(int noteStatus)
{
    Segment reset{true, noteStatus, {}};
    reset.messages.push_back(Msg(0xB0, 64, 0));
    for (int note = 0; note < 128; ++note)
        reset.messages.push_back(Msg(noteStatus, note, 0));
    for (int channel = 0; channel < 16; ++channel) {
        reset.messages.push_back(Msg(0xB0 | channel, 64, 0));
        reset.messages.push_back(Msg(0xB0 | channel, 123, 0));
    }
    segments_.push_back(std::move(reset));
    return *this;
}

std::size_t Expected::Size() const
{
    std::size_t size = 0;
    for (const Segment& segment : segments_)
        size += segment.messages.size();
    return size;
}

QString Expected::Mismatch(const std::vector<Bytes>& got) const
{
    std::size_t at = 0;
    for (const Segment& segment : segments_) {
        const std::size_t ordered =
            segment.reset ? segment.messages.size() - ResetChannelMessages : segment.messages.size();
        for (std::size_t i = 0; i < ordered; ++i, ++at) {
            if (at >= got.size() || got[at] != segment.messages[i])
                return QStringLiteral("message %1 should be %2%3; received %4 messages, from %5 on: %6")
                    .arg(at)
                    .arg(
                        Hex(segment.messages[i]),
                        segment.reset ? QStringLiteral(" (Midi Reset, message %1 of 161)").arg(i) : QString())
                    .arg(got.size())
                    .arg(at >= 3 ? at - 3 : 0)
                    .arg(Listing(got, at >= 3 ? at - 3 : 0, 8));
        }
        if (!segment.reset) continue;
        // The per-channel part of a reset may come in any order.
        std::vector<Bytes> want(segment.messages.end() - ResetChannelMessages, segment.messages.end());
        if (got.size() < at + ResetChannelMessages)
            return QStringLiteral("Midi Reset stops short: %1 messages received, %2 expected")
                .arg(got.size())
                .arg(at + ResetChannelMessages);
        std::vector<Bytes> seen(got.begin() + static_cast<std::ptrdiff_t>(at),
                                got.begin() + static_cast<std::ptrdiff_t>(at + ResetChannelMessages));
        std::sort(want.begin(), want.end());
        std::sort(seen.begin(), seen.end());
        if (seen != want)
            return QStringLiteral(
                       "Midi Reset should end with sustain off and All Notes Off on all 16 channels; "
                       "messages %1 to %2 are: %3")
                .arg(at)
                .arg(at + ResetChannelMessages - 1)
                .arg(Listing(got, at, ResetChannelMessages));
        at += ResetChannelMessages;
    }
    if (got.size() > at)
        return QStringLiteral("%1 messages more than the %2 expected: %3")
            .arg(got.size() - at)
            .arg(at)
            .arg(Listing(got, at, 8));
    return {};
}

}  // namespace vantor::e2e
