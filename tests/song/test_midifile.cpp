#include <QTemporaryDir>
#include <QTest>
#include <cstdint>
#include <span>

#include "ComponentError.h"
#include "song/Midifile.h"
#include "support/SmfWriter.h"

using vantor::ComponentError;
using vantor::Midifile;
using vantor::test::SmfTrack;
using vantor::test::SmfWriter;

namespace {

std::span<const std::uint8_t> Span(const QByteArray& bytes)
{
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())};
}

QByteArray Chunk(const char* id, const QByteArray& body, std::uint32_t declared)
{
    return QByteArray(id) + SmfWriter::Be32(declared) + body;
}

QByteArray Chunk(const char* id, const QByteArray& body)
{
    return Chunk(id, body, static_cast<std::uint32_t>(body.size()));
}

QByteArray Header(int format, int tracks, int division)
{
    return Chunk("MThd", SmfWriter::Be16(format) + SmfWriter::Be16(tracks) + SmfWriter::Be16(division));
}

QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (const int v : values)
        out += static_cast<char>(v);
    return out;
}

const QByteArray kEnd = Bytes({0x00, 0xFF, 0x2F, 0x00});

// One track as "delta status data1 data2" rows joined by "|".
QString Rows(Midifile& song, int track)
{
    song.SetCurrentTrack(track);
    QStringList rows;
    for (int e = 1; e <= song.EventCount(); ++e) {
        song.SetCurrentEvent(e);
        rows << QStringLiteral("%1 %2 %3 %4")
                    .arg(song.EventDelta())
                    .arg(song.EventStatus())
                    .arg(song.EventData1())
                    .arg(song.EventData2());
    }
    return rows.join(QLatin1Char('|'));
}

QString AllRows(Midifile& song)
{
    QStringList tracks;
    for (int t = 1; t <= song.TrackCount(); ++t)
        tracks << Rows(song, t);
    return tracks.join(QStringLiteral(" / "));
}

// Loads and returns the error message, or an empty string on success.
QString LoadError(Midifile& song, const QByteArray& bytes)
{
    try {
        song.LoadFromMemory(Span(bytes));
    } catch (const ComponentError& e) {
        return QString::fromStdString(e.what());
    }
    return {};
}

template <typename F>
QString ErrorOf(F&& call)
{
    try {
        call();
    } catch (const ComponentError& e) {
        return QString::fromStdString(e.what());
    }
    return {};
}

}  // namespace

class TestMidifile : public QObject
{
    Q_OBJECT

private slots:
    void events_data();
    void events();
    void text_data();
    void text();
    void tempoAndDivision_data();
    void tempoAndDivision();
    void riffWrapped();
    void filter();
    void filterAppliesToLaterFiles();
    void positionBounds();
    void positionFromText_data();
    void positionFromText();
    void malformed_data();
    void malformed();
    void truncatedAtEveryOffset();
    void openFromDisk();
    void millionEventTrack();
};

void TestMidifile::events_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("rows");

    {
        SmfWriter w(0);
        w.AddTrack().NoteOn(0, 0, 60, 100).Raw(10, {62, 90}).Raw(5, {60, 0}).NoteOff(7, 0, 62);
        QTest::newRow("running status, velocity 0 kept as written")
            << w.Bytes() << "0 144 60 100|10 144 62 90|5 144 60 0|7 128 62 64|0 255 47 0";
    }
    {
        SmfWriter w(0);
        w.AddTrack()
            .NoteOn(0, 3, 60, 1)
            .Name(4, "x")
            .Raw(2, {61, 2})
            .SysEx(1, 0xF0, Bytes({0x7E, 0xF7}))
            .Raw(3, {62, 3});
        QTest::newRow("running status survives meta and sysex")
            << w.Bytes() << "0 147 60 1|4 255 3 0|2 147 61 2|1 240 0 0|3 147 62 3|0 255 47 0";
    }
    {
        SmfWriter w(0);
        w.AddTrack()
            .Program(0, 1, 5)
            .Raw(1, {6})
            .Raw(2, {0xD2, 70})
            .Raw(0, {0xE0, 0x00, 0x40})
            .Raw(0, {0xA4, 60, 9});
        QTest::newRow("one-data-byte messages have data2 0")
            << w.Bytes() << "0 193 5 0|1 193 6 0|2 210 70 0|0 224 0 64|0 164 60 9|0 255 47 0";
    }
    {
        SmfWriter w(0);
        w.AddTrack()
            .SysEx(0, 0xF0, Bytes({0x43, 0x12}))
            .SysEx(96, 0xF7, Bytes({0x00, 0xF7}))
            .SysEx(0, 0xF7, Bytes({0xF8}));
        QTest::newRow("sysex packets and escapes")
            << w.Bytes() << "0 240 0 0|96 247 0 0|0 247 0 0|0 255 47 0";
    }
    {
        SmfWriter w(1);
        w.AddTrack().Tempo(0, 400000).Meta(0, 0x58, Bytes({4, 2, 24, 8})).Meta(0, 0x7F, Bytes({0, 0, 0x41}));
        w.AddTrack().WithoutEndOfTrack();
        w.AddTrack().Name(0, "Piano").NoteOn(0, 0, 21, 1).NoteOn(0xFFFFFFF, 0, 108, 127);
        QTest::newRow("meta types, an empty chunk, largest delta")
            << w.Bytes()
            << "0 255 81 0|0 255 88 0|0 255 127 0|0 255 47 0 /  / "
               "0 255 3 0|0 144 21 1|268435455 144 108 127|0 255 47 0";
    }
    {
        SmfWriter w(2, 480);
        w.AddTrack().EndOfTrack(30);
        QTest::newRow("single track, End of Track with a delta") << w.Bytes() << "30 255 47 0";
    }
}

void TestMidifile::events()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, rows);
    Midifile song;
    QCOMPARE(LoadError(song, file), QString());
    QCOMPARE(AllRows(song), rows);
}

void TestMidifile::text_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("ascii") << QByteArray("Piano") << "Piano";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("utf-8") << QByteArray("Fl\xC3\xBCgel \xE2\x99\xAA") << QString::fromUtf8("Flügel ♪");
    QTest::newRow("latin-1 when not utf-8") << QByteArray("Fl\xFCgel") << QString::fromUtf8("Flügel");
    QTest::newRow("cut utf-8 sequence is latin-1") << QByteArray("a\xC3") << QString::fromUtf8("aÃ");
    QTest::newRow("trailing NULs removed") << QByteArray("Bass\0\0", 6) << "Bass";
    QTest::newRow("inner NUL kept") << QByteArray("a\0b", 3) << QString(QStringLiteral("a") + QChar(0) + "b");
    QTest::newRow("only NULs") << QByteArray("\0\0", 2) << "";
}

void TestMidifile::text()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    SmfWriter w(0);
    w.AddTrack().Name(0, bytes).Meta(0, 0x05, bytes).NoteOn(0, 0, 60, 1);
    Midifile song;
    song.LoadFromMemory(Span(w.Bytes()));
    song.SetCurrentTrack(1);
    for (const int e : {1, 2}) {
        song.SetCurrentEvent(e);
        QCOMPARE(song.EventText(), text);
        QCOMPARE(song.EventBytes(), bytes);  // raw bytes, NULs and all
    }
    song.SetCurrentEvent(3);
    QCOMPARE(song.EventText(), QString());
    QCOMPARE(song.EventBytes(), QByteArray());
}

void TestMidifile::tempoAndDivision_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("division");
    QTest::addColumn<int>("tempo");

    {
        SmfWriter w(1, 384);
        w.AddTrack().NoteOn(0, 0, 60, 1);
        QTest::newRow("no tempo") << w.Bytes() << 384 << 500000;
    }
    {
        SmfWriter w(1, 96);
        w.AddTrack().NoteOn(0, 0, 60, 1).Tempo(10, 300000).Tempo(10, 200000);
        w.AddTrack().Tempo(0, 100000);
        QTest::newRow("first of several") << w.Bytes() << 96 << 300000;
    }
    {
        SmfWriter w(1, 96);
        w.AddTrack().Name(0, "conductor");
        w.AddTrack().Tempo(0, 0).Tempo(0, 640000);
        QTest::newRow("in a later track, zero skipped") << w.Bytes() << 96 << 640000;
    }
    {
        SmfWriter w(1, 96);
        w.AddTrack().Meta(0, 0x51, Bytes({0x07})).Tempo(5, 0xFFFFFF);
        QTest::newRow("short tempo skipped, largest tempo") << w.Bytes() << 96 << 0xFFFFFF;
    }
    {
        SmfWriter w(1, 0xE728);  // -25 frames per second, 40 ticks per frame
        w.AddTrack().Tempo(0, 300000);
        QTest::newRow("SMPTE 25 x 40") << w.Bytes() << 1000 << 1000000;
    }
    {
        SmfWriter w(1, 0xE250);  // 30 frames per second, 80 ticks per frame
        w.AddTrack();
        QTest::newRow("SMPTE 30 x 80") << w.Bytes() << 2400 << 1000000;
    }
}

void TestMidifile::tempoAndDivision()
{
    QFETCH(QByteArray, file);
    QFETCH(int, division);
    QFETCH(int, tempo);
    Midifile song;
    song.LoadFromMemory(Span(file));
    for (int t = 1; t <= song.TrackCount(); ++t) {
        song.SetCurrentTrack(t);
        QCOMPARE(song.Division(), division);
        QCOMPARE(song.Tempo(), tempo);
    }
}

void TestMidifile::riffWrapped()
{
    SmfWriter w(0, 120);
    w.AddTrack().NoteOn(0, 0, 60, 100);
    const QByteArray smf = w.Bytes();
    auto le32 = [](std::uint32_t v) {
        return Bytes({int(v & 0xFF), int(v >> 8 & 0xFF), int(v >> 16 & 0xFF), 0});
    };
    const QByteArray info = QByteArray("LIST") + le32(3) + "abc" + QByteArray(1, '\0');  // odd size, padded
    const QByteArray body = QByteArray("RMID") + info + "data" + le32(smf.size()) + smf;
    Midifile song;
    QCOMPARE(LoadError(song, QByteArray("RIFF") + le32(body.size()) + body), QString());
    QCOMPARE(song.Division(), 120);
    QCOMPARE(AllRows(song), QStringLiteral("0 144 60 100|0 255 47 0"));

    const QByteArray noData = QByteArray("RMID") + info;
    QVERIFY(LoadError(song, QByteArray("RIFF") + le32(noData.size()) + noData).contains("\"data\" chunk"));
    QCOMPARE(song.TrackCount(), 0);
    QVERIFY(LoadError(song, QByteArray("RIFF") + le32(8) + "WAVEfmt ").contains("RMID"));
}

void TestMidifile::filter()
{
    SmfWriter w(1);
    w.AddTrack().Program(0, 0, 5).NoteOn(10, 0, 60, 1).Program(4, 0, 6).Program(3, 1, 7).NoteOff(2, 0, 60);
    w.AddTrack().NoteOn(0, 0, 50, 1);
    Midifile song;
    song.LoadFromMemory(Span(w.Bytes()));
    const QString all = AllRows(song);
    QCOMPARE(song.Filter(192), false);

    song.SetCurrentTrack(1);
    song.SetCurrentEvent(6);
    song.SetFilter(192, true);
    QVERIFY(song.Filter(192));
    QCOMPARE(song.EventCount(), 4);
    QCOMPARE(song.CurrentEvent(), 4);  // the position stays on an event
    QCOMPARE(Rows(song, 1), QStringLiteral("10 144 60 1|7 193 7 0|2 128 60 64|0 255 47 0"));
    QCOMPARE(Rows(song, 2), QStringLiteral("0 144 50 1|0 255 47 0"));

    song.SetFilter(192, true);  // no change
    song.SetFilter(255, true);
    QCOMPARE(Rows(song, 1), QStringLiteral("10 144 60 1|7 193 7 0|2 128 60 64"));
    QCOMPARE(Rows(song, 2), QStringLiteral("0 144 50 1"));

    song.SetFilter(192, false);
    song.SetFilter(255, false);
    QCOMPARE(AllRows(song), all);

    for (const int bad : {-1, 256}) {
        QVERIFY(!ErrorOf([&] { song.SetFilter(bad, true); }).isEmpty());
        QVERIFY(!ErrorOf([&] { (void)song.Filter(bad); }).isEmpty());
    }
}

void TestMidifile::filterAppliesToLaterFiles()
{
    Midifile song;
    song.SetFilter(192, true);
    song.SetFilter(0xF0, true);
    SmfWriter w(0);
    w.AddTrack().Program(5, 0, 1).SysEx(6, 0xF0, Bytes({1, 0xF7})).Program(7, 0, 2);
    song.LoadFromMemory(Span(w.Bytes()));
    QCOMPARE(AllRows(song), QStringLiteral("18 255 47 0"));
    song.SetFilter(192, false);
    QCOMPARE(AllRows(song), QStringLiteral("5 192 1 0|13 192 2 0|0 255 47 0"));
}

void TestMidifile::positionBounds()
{
    Midifile song;
    QCOMPARE(song.TrackCount(), 0);
    QCOMPARE(song.EventCount(), 0);
    QCOMPARE(song.CurrentEvent(), 1);
    QCOMPARE(song.FilePath(), QString());
    song.SetCurrentEvent(1);
    QVERIFY(!ErrorOf([&] { song.SetCurrentEvent(2); }).isEmpty());
    QVERIFY(!ErrorOf([&] { song.SetCurrentTrack(1); }).isEmpty());
    QVERIFY(ErrorOf([&] { (void)song.EventStatus(); }).contains("No MIDI file"));
    QVERIFY(!ErrorOf([&] { (void)song.EventText(); }).isEmpty());

    SmfWriter w(1);
    w.AddTrack().NoteOn(0, 0, 60, 1).NoteOn(0, 0, 62, 1);
    w.AddTrack().WithoutEndOfTrack();
    song.LoadFromMemory(Span(w.Bytes()));
    QCOMPARE(song.TrackCount(), 2);
    QCOMPARE(song.CurrentTrack(), 1);
    QCOMPARE(song.EventCount(), 3);
    song.SetCurrentEvent(3);
    QCOMPARE(song.EventStatus(), 255);
    for (const int bad : {0, 4, -1})
        QVERIFY(!ErrorOf([&] { song.SetCurrentEvent(bad); }).isEmpty());
    QCOMPARE(song.CurrentEvent(), 3);
    for (const int bad : {0, 3})
        QVERIFY(ErrorOf([&] { song.SetCurrentTrack(bad); }).contains("does not exist"));
    QCOMPARE(song.CurrentTrack(), 1);

    song.SetCurrentTrack(1);
    QCOMPARE(song.CurrentEvent(), 1);

    song.SetCurrentTrack(2);  // an empty track still has position 1, but no event there
    QCOMPARE(song.EventCount(), 0);
    QCOMPARE(song.CurrentEvent(), 1);
    song.SetCurrentEvent(1);
    QVERIFY(!ErrorOf([&] { song.SetCurrentEvent(2); }).isEmpty());
    QVERIFY(ErrorOf([&] { (void)song.EventDelta(); }).contains("no events"));
    QVERIFY(!ErrorOf([&] { (void)song.EventData1(); }).isEmpty());

    song.SetFileAction(vantor::FileActionClose);
    QCOMPARE(song.TrackCount(), 0);
    QCOMPARE(song.EventCount(), 0);
    QCOMPARE(song.CurrentEvent(), 1);
    QVERIFY(ErrorOf([&] { song.SetFileAction(3); }).contains("Unknown file action"));
}

void TestMidifile::positionFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("position");  // 0: rejected

    QTest::newRow("whole") << "3" << 3;
    QTest::newRow("spaces") << " 4 " << 4;
    QTest::newRow("half rounds up") << "2.5" << 3;
    QTest::newRow("below half rounds down") << "2.49" << 2;
    QTest::newRow("last") << "10" << 10;
    QTest::newRow("near last") << "10.4" << 10;
    QTest::newRow("first") << "0.5" << 1;
    QTest::newRow("rounds to zero") << "0.4" << 0;
    QTest::newRow("past the end") << "10.5" << 0;
    QTest::newRow("negative") << "-1" << 0;
    QTest::newRow("huge") << "1e300" << 0;
    QTest::newRow("letters") << "abc" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("number then letters") << "5x" << 0;
}

void TestMidifile::positionFromText()
{
    QFETCH(QString, text);
    QFETCH(int, position);
    SmfWriter w(0);
    SmfTrack& track = w.AddTrack();
    for (int i = 0; i < 9; ++i)
        track.NoteOn(1, 0, 60 + i, 1);
    Midifile song;
    song.LoadFromMemory(Span(w.Bytes()));
    QCOMPARE(song.EventCount(), 10);
    song.SetCurrentEvent(7);
    const QString error = ErrorOf([&] { song.SetCurrentEvent(text); });
    if (position == 0) {
        QVERIFY(!error.isEmpty());
        QCOMPARE(song.CurrentEvent(), 7);
    } else {
        QCOMPARE(error, QString());
        QCOMPARE(song.CurrentEvent(), position);
    }
}

void TestMidifile::malformed_data()
{
    // outcome: the error message, or for an accepted file its events as AllRows shows them
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("outcome");

    const QByteArray h1 = Header(0, 1, 96);
    const QByteArray note = Bytes({0x00, 0x90, 60, 100});
    const QByteArray track = Chunk("MTrk", note + kEnd);  // 8 + 8 bytes, starting at byte 14

    QTest::newRow("empty file") << QByteArray() << false
                                << "Not a Standard MIDI File (no MThd header) at byte 0";
    QTest::newRow("no MThd") << QByteArray("MTrk\0\0\0\0", 8) << false
                             << "Not a Standard MIDI File (no MThd header) at byte 0";
    QTest::newRow("header cut") << h1.left(11) << false << "MIDI file header truncated at byte 11";
    QTest::newRow("header length 4") << Chunk("MThd", Bytes({0, 0, 0, 1})) + track << false
                                     << "MIDI file header too short (4 bytes) at byte 4";
    QTest::newRow("header length 10, extra skipped")
        << Chunk("MThd", SmfWriter::Be16(0) + SmfWriter::Be16(1) + SmfWriter::Be16(96) + "xxxx") + track
        << true << "0 144 60 100|0 255 47 0";
    QTest::newRow("header length past the end")
        << Chunk("MThd", h1.mid(8), 0x7FFFFFF0) << false << "MIDI file header truncated at byte 14";
    QTest::newRow("division 0") << Header(0, 1, 0) + track << false
                                << "MIDI file header gives a time division of 0 at byte 12";
    QTest::newRow("SMPTE, 0 ticks per frame")
        << Header(0, 1, 0xE700) + track << false << "MIDI file header gives a time division of 0 at byte 12";
    QTest::newRow("no tracks declared") << Header(1, 0, 96) + track << true << "";
    QTest::newRow("fewer tracks than declared")
        << Header(1, 3, 96) + track << true << "0 144 60 100|0 255 47 0";
    QTest::newRow("more tracks than declared") << h1 + track + track << true << "0 144 60 100|0 255 47 0";
    QTest::newRow("unknown chunk skipped")
        << h1 + Chunk("XFIH", "abcde") + track << true << "0 144 60 100|0 255 47 0";
    QTest::newRow("unknown chunk too long") << h1 + Chunk("XFIH", "ab", 1000) + track << true << "";
    QTest::newRow("garbage after the last track")
        << h1 + track + "\x01\xFF garbage" << true << "0 144 60 100|0 255 47 0";
    QTest::newRow("chunk header cut after the last track")
        << Header(1, 2, 96) + track + "MTr" << true << "0 144 60 100|0 255 47 0";
    QTest::newRow("End of Track before a too-long length, file ends")
        << h1 + Chunk("MTrk", note + kEnd, 0x0FFFFFFF) << true << "0 144 60 100|0 255 47 0";
    QTest::newRow("End of Track before the declared end, next chunk at declared end")
        << Header(1, 2, 96) + Chunk("MTrk", note + kEnd + "\x01\x02\x03") + track << true
        << "0 144 60 100|0 255 47 0 / 0 144 60 100|0 255 47 0";
    QTest::newRow("no End of Track, chunk ends at its length")
        << Header(1, 2, 96) + Chunk("MTrk", note) + track << true << "0 144 60 100 / 0 144 60 100|0 255 47 0";
    QTest::newRow("no End of Track, file ends before the chunk")
        << h1 + Chunk("MTrk", note, 9) << false << "MIDI file truncated in track 1 at byte 26";
    QTest::newRow("event crosses the chunk end")
        << h1 + Chunk("MTrk", note + kEnd, 6) + "\0\0" << false
        << "Event runs past the end of its track chunk in track 1 at byte 26";
    QTest::newRow("huge meta length")
        << h1 + Chunk("MTrk", Bytes({0x00, 0xFF, 0x01, 0x8F, 0xFF, 0xFF, 0x7F}) + kEnd, 0x7FFFFFFF) << false
        << "MIDI file truncated in track 1 at byte 33";
    QTest::newRow("huge sysex length in a short chunk")
        << h1 + Chunk("MTrk", Bytes({0x00, 0xF0, 0x8F, 0xFF, 0xFF, 0x7F, 0x01})) + "garbage" << false
        << "Event runs past the end of its track chunk in track 1 at byte 22";
    QTest::newRow("5-byte delta") << h1 + Chunk("MTrk",
                                                Bytes({0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 1}) + kEnd)
                                  << false
                                  << "Variable-length number longer than 4 bytes in track 1 at byte 22";
    QTest::newRow("4-byte delta") << h1 + Chunk("MTrk", Bytes({0xFF, 0xFF, 0xFF, 0x7F, 0x90, 60, 1}) + kEnd)
                                  << true << "268435455 144 60 1|0 255 47 0";
    QTest::newRow("5-byte meta length")
        << h1 + Chunk("MTrk", Bytes({0x00, 0xFF, 0x01, 0x80, 0x80, 0x80, 0x80, 0x00}) + kEnd) << false
        << "Variable-length number longer than 4 bytes in track 1 at byte 25";
    QTest::newRow("data byte without status") << h1 + Chunk("MTrk", Bytes({0x00, 60, 100}) + kEnd) << false
                                              << "Data byte without a status byte in track 1 at byte 23";
    QTest::newRow("data byte after meta only")
        << h1 + Chunk("MTrk", Bytes({0x00, 0xFF, 0x01, 0x00, 0x00, 60, 1})) << false
        << "Data byte without a status byte in track 1 at byte 27";
    QTest::newRow("running status carried from a previous track")
        << Header(1, 2, 96) + track + Chunk("MTrk", Bytes({0x00, 62, 100}) + kEnd) << false
        << "Data byte without a status byte in track 2 at byte 39";
    QTest::newRow("status 0xF4") << h1 + Chunk("MTrk", Bytes({0x00, 0xF4}) + kEnd) << false
                                 << "Status byte 0xF4 has no place in a MIDI file in track 1 at byte 23";
    QTest::newRow("status 0xF8") << h1 + Chunk("MTrk", note + Bytes({0x00, 0xF8}) + kEnd) << false
                                 << "Status byte 0xF8 has no place in a MIDI file in track 1 at byte 27";
    QTest::newRow("status where a data byte belongs")
        << h1 + Chunk("MTrk", Bytes({0x00, 0x90, 60, 0x80}) + kEnd) << false
        << "Status byte 0x80 where a data byte belongs in track 1 at "
           "byte 25";
    QTest::newRow("meta type missing") << h1 + Chunk("MTrk", Bytes({0x00, 0xFF})) << false
                                       << "Event runs past the end of its track chunk in track 1 at byte 22";
}

void TestMidifile::malformed()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, accepted);
    QFETCH(QString, outcome);
    Midifile song;
    SmfWriter good(0);
    good.AddTrack().NoteOn(0, 0, 1, 1);
    song.LoadFromMemory(Span(good.Bytes()));

    const QString error = LoadError(song, file);
    if (accepted) {
        QCOMPARE(error, QString());
        QCOMPARE(AllRows(song), outcome);
    } else {
        QCOMPARE(error, outcome);
        QCOMPARE(song.TrackCount(), 0);  // nothing of the earlier song remains
        QCOMPARE(song.EventCount(), 0);
    }
}

void TestMidifile::truncatedAtEveryOffset()
{
    SmfWriter w(1, 96);
    w.AddTrack().Name(0, "Strings").Tempo(0, 450000).SysEx(0, 0xF0, Bytes({0x41, 0x10, 0xF7}));
    w.AddTrack().NoteOn(0, 0, 60, 90).Raw(0x3FFF, {64, 90}).Raw(0x200000, {60, 0}).Raw(1, {64, 0});
    const QByteArray file = w.Bytes();
    const qsizetype track2 = file.indexOf("MTrk", 14 + 4);
    Midifile song;
    for (qsizetype cut = 0; cut < file.size(); ++cut) {
        const QString error = LoadError(song, file.left(cut));
        // Cut before a track chunk begins, the tracks before it are all there is; cut
        // inside one, before its End of Track, the file is truncated.
        const bool between = (cut >= 14 && cut < 22) || (cut >= track2 && cut < track2 + 8);
        if (between) {
            QVERIFY2(error.isEmpty(), qPrintable(QStringLiteral("cut %1: %2").arg(cut).arg(error)));
            QCOMPARE(song.TrackCount(), cut < track2 ? 0 : 1);
        } else {
            QVERIFY2(error.contains(QStringLiteral(" at byte ")),
                     qPrintable(QStringLiteral("cut %1").arg(cut)));
            if (cut >= 22) {
                const int track = cut < track2 ? 1 : 2;
                QCOMPARE(error,
                         QStringLiteral("MIDI file truncated in track %1 at byte %2").arg(track).arg(cut));
            }
            QCOMPARE(song.TrackCount(), 0);
        }
    }
    QCOMPARE(LoadError(song, file), QString());
    QCOMPARE(song.TrackCount(), 2);
}

void TestMidifile::openFromDisk()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SmfWriter w(0, 192);
    w.AddTrack().NoteOn(0, 0, 60, 1);
    const QString good = SmfWriter::WriteFile(dir, QStringLiteral("good.mid"), w.Bytes());
    const QString bad = SmfWriter::WriteFile(dir, QStringLiteral("bad.mid"), w.Bytes().left(25));

    Midifile song;
    QVERIFY(ErrorOf([&] { song.SetFileAction(vantor::FileActionOpen); }).contains("No MIDI file chosen"));
    song.SetFilePath(good);
    song.SetFileAction(vantor::FileActionOpen);
    QCOMPARE(song.FilePath(), good);
    QCOMPARE(song.TrackCount(), 1);
    QCOMPARE(song.Division(), 192);

    song.SetFilePath(bad);
    QCOMPARE(ErrorOf([&] { song.SetFileAction(vantor::FileActionOpen); }),
             QStringLiteral("MIDI file truncated in track 1 at byte 25"));
    QCOMPARE(song.TrackCount(), 0);
    QCOMPARE(song.FilePath(), bad);

    const QString missing = dir.filePath(QStringLiteral("missing.mid"));
    song.SetFilePath(missing);
    QVERIFY(
        ErrorOf([&] { song.SetFileAction(vantor::FileActionOpen); }).startsWith("Cannot open " + missing));
    QCOMPARE(song.FilePath(), missing);
    QCOMPARE(song.TrackCount(), 0);
}

void TestMidifile::millionEventTrack()
{
    // Large enough that the tables and the file buffer take the huge-page path.
    constexpr int kNotes = 1'500'000;
    QByteArray body = Bytes({0x00, 0x90, 0, 1});
    body.reserve(kNotes * 3 + 8);
    for (int i = 1; i < kNotes; ++i) {
        body += static_cast<char>(1);
        body += static_cast<char>(i % 128);
        body += static_cast<char>(1 + i % 127);
    }
    body += Bytes({0x00, 0xC0, 0x05}) + kEnd;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Midifile song;
    song.SetFilePath(
        SmfWriter::WriteFile(dir, QStringLiteral("long.mid"), Header(0, 1, 96) + Chunk("MTrk", body)));
    song.SetFileAction(vantor::FileActionOpen);
    song.SetCurrentTrack(1);
    QCOMPARE(song.EventCount(), kNotes + 2);
    song.SetCurrentEvent(kNotes);
    QCOMPARE(song.EventData1(), (kNotes - 1) % 128);
    QCOMPARE(song.EventData2(), 1 + (kNotes - 1) % 127);
    QCOMPARE(song.EventStatus(), 0x90);
    song.SetCurrentEvent(QStringLiteral("1500002"));
    QCOMPARE(song.EventStatus(), 255);
    QVERIFY(song.MemoryBytes() / static_cast<std::size_t>(song.EventCount()) <= 32);

    song.SetFilter(192, true);
    QCOMPARE(song.EventCount(), kNotes + 1);
    QCOMPARE(song.CurrentEvent(), kNotes + 1);
    QCOMPARE(song.EventStatus(), 255);
    song.SetCurrentEvent(1);
    QCOMPARE(song.EventData2(), 1);
    QVERIFY(song.MemoryBytes() / static_cast<std::size_t>(song.EventCount()) <= 32);
}

QTEST_GUILESS_MAIN(TestMidifile)
#include "test_midifile.moc"
