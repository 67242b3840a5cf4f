#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "common/ComponentError.h"
#include "song/Midifile.h"
#include "song/SmfDump.h"
#include "support/SmfWriter.h"

using namespace vantor;
using namespace vantor::test;

namespace {

const auto Hex = [](const char* bytes) { return QByteArray::fromHex(bytes); };

QByteArray Chunk(const char* id, const QByteArray& body, qint64 declared = -1)
{
    return id + SmfWriter::Be32(static_cast<std::uint32_t>(declared < 0 ? body.size() : declared)) + body;
}

// A 14-byte header unless length says otherwise.
QByteArray Header(int tracks, int division = 96, int length = 6)
{
    const QByteArray fields = SmfWriter::Be16(1) + SmfWriter::Be16(tracks) + SmfWriter::Be16(division);
    return Chunk("MThd", fields.leftJustified(length, 'x'));
}

QByteArray Smf(const QList<QByteArray>& bodies)
{
    QByteArray out = Header(static_cast<int>(bodies.size()));
    for (const QByteArray& body : bodies)
        out += Chunk("MTrk", body);
    return out;
}

const QByteArray kEnd = Hex("00 FF 2F 00");
const QByteArray kTrack = Chunk("MTrk", Hex("00 90 3C 64") + kEnd);  // at byte 14 after a Header
const QString kRows = "96 500000 / 0 144 60 100|0 255 47 0";

// Division and tempo, then every event as "delta status data1 data2[ text or sysex bytes]",
// events joined by "|", tracks by " / ".
QString AllRows(Midifile& song)
{
    QStringList tracks;
    for (int t = 1; t <= song.TrackCount(); ++t) {
        song.SetCurrentTrack(t);
        QStringList rows;
        for (int e = 1; e <= song.EventCount(); ++e) {
            song.SetCurrentEvent(e);
            const bool sysex = song.EventStatus() == 0xF0 || song.EventStatus() == 0xF7;
            QString text = sysex ? QString::fromLatin1(song.EventBytes().toHex()) : song.EventText();
            if (song.EventStatus() == 0xFF && song.EventData1() == 0x51) text.clear();  // tempo: no text
            rows << QString::asprintf("%d %d %d %d", song.EventDelta(), song.EventStatus(), song.EventData1(),
                                      song.EventData2()) +
                        (text.isEmpty() ? QString() : " " + text);
        }
        tracks << rows.join('|');
    }
    // The tempo is the first Set Tempo in track order, whatever track is current.
    return QString::asprintf("%d %d / ", song.Division(), song.Tempo()) + tracks.join(" / ");
}

// Loads the bytes, or the file at a path; returns the error, or "" when the file was accepted.
QString LoadError(Midifile& song, const QByteArray& bytes, const QString& path = {})
{
    try {
        song.SetFilePath(path);
        if (path.isEmpty()) song.LoadFromMemory(SmfWriter::Span(bytes));
        if (!path.isEmpty()) song.SetFileAction(FileActionOpen);
    } catch (const ComponentError& e) {
        return e.what();
    }
    return {};
}

}  // namespace

class TestMidifile : public QObject
{
    Q_OBJECT
    const QString testdata_ = qEnvironmentVariable("VANTOR_TESTDATA") + "/smf/";

private slots:
    void load_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("outcome");  // an accepted file's AllRows, or the error
        const auto row = [](const char* name, const QByteArray& file, const QString& outcome) {
            QTest::newRow(name) << file << outcome;
        };
        row("running status across meta and sysex, velocity 0 kept, channel pressure",
            Smf({Hex("00 93 3C 01 04 FF 03 01 78 02 3D 00 01 F0 02 7E F7 02 F7 01 45 03 3E "
                     "03 07 83 3E 40 01 D3 05") +
                 kEnd}),
            "96 500000 / 0 147 60 1|4 255 3 0 x|2 147 61 0|1 240 0 0 7ef7|2 247 0 0 45|3 147 62 3|"
            "7 131 62 64|1 211 5 0|0 255 47 0");
        SmfTrack texts = SmfTrack().Name(0, "Fl\xC3\xBCgel \xE2\x99\xAA");
        texts.Meta(0, 5, QByteArray("Fl\xFCgel\0\0", 8));
        row("text: UTF-8, else Latin-1 without trailing NULs", Smf({texts.Body()}),
            "96 500000 / 0 255 3 0 Flügel ♪|0 255 5 0 Flügel|0 255 47 0");
        row("the first tempo of the first track that has one",
            Smf({kEnd, SmfTrack().Tempo(0, 300000).Tempo(9, 200000).Body()}),
            "96 300000 / 0 255 47 0 / 0 255 81 0|9 255 81 0|0 255 47 0");
        const QByteArray list = "LIST" + Hex("03 00 00 00") + QByteArray("abc", 4);  // odd length, padded
        const QByteArray rmid = "RMID" + list + "data" + Hex("1E 00 00 00") + Header(1) + kTrack;
        row("RMID", "RIFF" + QByteArray(1, char(rmid.size())) + QByteArray(3, '\0') + rmid, kRows);
        row("longer header, unknown chunk and garbage after the last track skipped",
            Header(1, 96, 10) + Chunk("XFIH", "abcde") + kTrack + "\x01\xFF garbage", kRows);
        row("division 0", Header(1, 0) + kTrack, "MIDI file header gives a time division of 0 at byte 12");
        row("fewer tracks than declared", Header(3) + kTrack, "MIDI file truncated: track 2 of 3 is missing");
        row("End of Track before a too-long length", Header(1) + Chunk("MTrk", kTrack.mid(8), 0x0FFFFFFF),
            kRows);
        row("meta length a variable-length number, running past the end",
            Header(1) + Chunk("MTrk", Hex("00 FF 01 8F FF FF 7F"), 0x7FFFFFFF),
            "MIDI file truncated in track 1 at byte 29");
        row("5-byte delta", Smf({Hex("81 80 80 80 00 90 3C 01")}),
            "Variable-length number longer than 4 bytes in track 1 at byte 22");
        row("running status carried from a previous track",
            Header(2) + kTrack + Chunk("MTrk", Hex("00 3E 64") + kEnd),
            "Data byte without a status byte in track 2 at byte 39");
        row("status byte for a second data byte", Smf({Hex("00 90 3C 90")}),
            "Status byte 0x90 where a data byte belongs in track 1 at byte 25");
    }
    void load()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, outcome);
        Midifile song;
        const QString error = LoadError(song, file);
        QCOMPARE(error.isEmpty() ? AllRows(song) : error, outcome);
    }

    void filter()
    {
        Midifile song;
        song.SetFilter(0xF0, true);  // also for files loaded later
        song.LoadFromMemory(
            SmfWriter::Span(Smf({Hex("02 C0 05 0A 90 3C 01 04 F0 02 01 F7 03 C1 07 02 C0 06") + kEnd})));
        QCOMPARE(AllRows(song), "96 500000 / 2 192 5 0|10 144 60 1|7 193 7 0|2 192 6 0|0 255 47 0");
        song.SetCurrentEvent(5);
        song.SetFilter(192, true);
        QCOMPARE(song.CurrentEvent(), 3);  // still on an event
        QCOMPARE(AllRows(song), "96 500000 / 12 144 60 1|7 193 7 0|2 255 47 0");
    }

    void trackChangeStartsAtTheFirstEvent()
    {
        Midifile song;
        song.LoadFromMemory(SmfWriter::Span(Smf({kTrack.mid(8), QByteArray()})));
        song.SetCurrentEvent(2);
        song.SetCurrentTrack(2);  // empty: position 1 all the same
        QCOMPARE(song.CurrentEvent(), 1);
    }

    void tooLargeIsRefusedBeforeReading()
    {
        QTemporaryDir dir;
        QFile huge(dir.filePath("huge.mid"));
        // Sparse: no disk used, and a reader that allocates first would take a GiB.
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.write(Header(1) + kTrack) > 0 &&
                huge.resize(qint64{1} << 30 | 1));
        huge.close();
        Midifile song;
        QCOMPARE(LoadError(song, {}, huge.fileName()), huge.fileName() + " is too large to be a MIDI file");
    }

    // Real files written by others, each with a reference dump on which two
    // independent parsers agree. They live beside the clone, never in it.
    void realFiles_data()
    {
        QTest::addColumn<QString>("name");
        const QStringList names = QDir(testdata_ + "files").entryList({"*.mid"}, QDir::Files, QDir::Name);
        if (names.isEmpty()) QSKIP(qPrintable(testdata_ + " is missing: real files skipped"));
        QVERIFY(names.size() >= 31);
        for (const QString& name : names)
            QTest::newRow(qPrintable(name)) << name.chopped(4);
    }
    void realFiles()
    {
        QFETCH(QString, name);
        Midifile song;
        QCOMPARE(LoadError(song, {}, testdata_ + "files/" + name + ".mid"), QString());
        QFile reference(testdata_ + "expected/" + name + ".txt");
        QVERIFY(reference.open(QIODevice::ReadOnly));
        // As lines, so a failure names the first line that differs.
        QCOMPARE(SmfDump(song).split('\n'), reference.readAll().split('\n'));
    }
};

QTEST_GUILESS_MAIN(TestMidifile)
#include "test_midifile.moc"
