#include <QTest>

#include "song/Midifile.h"
#include "song/StepMap.h"
#include "song/WaitJudge.h"
#include "support/SmfWriter.h"

using namespace vantor::test;

namespace {

// A one-track file written as words: on<note>, z<note> (note-on, velocity 0),
// off<note>, cc; "@<channel>" picks the channel.
QByteArray SongOf(const QString& words)
{
    SmfWriter w(0, 96);
    SmfTrack& track = w.AddTrack().WithoutEndOfTrack();
    for (const QString& word : words.split(' ', Qt::SkipEmptyParts)) {
        const QString what = word.section('@', 0, 0);
        const int ch = word.section('@', 1).toInt();
        const int note = what.right(2).toInt();
        if (what.startsWith("on")) track.NoteOn(10, ch, note, 90);
        if (what.startsWith("z")) track.NoteOn(10, ch, note, 0);
        if (what.startsWith("off")) track.NoteOff(10, ch, note);
        if (what == "cc") track.Control(0, ch, 64, 127);
    }
    return w.Bytes();
}

QList<int> MapOf(const QString& words)
{
    const QByteArray song = SongOf(words);
    vantor::Midifile reader;
    reader.LoadFromMemory(SmfWriter::Span(song));
    reader.SetCurrentTrack(1);
    const std::vector<std::int16_t> map = vantor::BuildStepMap(reader);
    return {map.begin(), map.end()};
}

}  // namespace

class TestStepMap : public QObject
{
    Q_OBJECT
private slots:
    void marks_data()
    {
        QTest::addColumn<QString>("words");
        QTest::addColumn<QList<int>>("map");  // entries 0..EventCount+1
        QTest::newRow("chord") << "on60 on64 on67 off60 off64 off67" << QList<int>{0, 2, 2, 2, 1, 0, 0, 0};
        QTest::newRow("legato") << "on60 on62 off60 on64 off62 off64" << QList<int>{0, 2, 2, 1, 2, 1, 0, 0};
        QTest::newRow("velocity 0 releases") << "on60 z60" << QList<int>{0, 2, 1, 0};
        QTest::newRow("events between") << "on60 cc cc off60" << QList<int>{0, 2, 0, 0, 1, 0};
        QTest::newRow("note-off first") << "off60 on60 off60" << QList<int>{0, 0, 2, 1, 0};
        QTest::newRow("channels alike")
            << "on60@0 on64@9 off60@3 on67@15 z64@9" << QList<int>{0, 2, 2, 1, 2, 1, 0};
        QTest::newRow("0 events") << "" << QList<int>{0, 0};
        QTest::newRow("1 event") << "on60" << QList<int>{0, 0, 0};
    }
    void marks()
    {
        QFETCH(QString, words);
        QFETCH(QList<int>, map);
        QCOMPARE(MapOf(words), map);
    }

    // The notes the next Step Forward sounds, from a position, in either mode.
    void targets_data()
    {
        QTest::addColumn<QString>("words");
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("chordMode");
        QTest::addColumn<QList<int>>("targets");
        const QString chords = "on64 on60 on67 cc off60 z64 off67 on62 on65 off62 off65 on62 off62";
        QTest::newRow("note: skips the current event") << chords << 1 << false << QList<int>{60};
        QTest::newRow("note: over releases and a controller") << chords << 3 << false << QList<int>{62};
        QTest::newRow("chord: from the start, sorted") << chords << 1 << true << QList<int>{60, 64, 67};
        QTest::newRow("chord: from its release") << chords << 5 << true << QList<int>{62, 65};
        QTest::newRow("chord: a lone note") << chords << 11 << true << QList<int>{62};
        QTest::newRow("chord: at the end") << chords << 13 << true << QList<int>{};
        QTest::newRow("note: at the end") << chords << 13 << false << QList<int>{};
    }
    void targets()
    {
        QFETCH(QString, words);
        QFETCH(int, position);
        QFETCH(bool, chordMode);
        const QByteArray song = SongOf(words);
        vantor::Midifile reader;
        reader.LoadFromMemory(SmfWriter::Span(song));
        reader.SetCurrentTrack(1);
        const std::vector<std::int16_t> map = vantor::BuildStepMap(reader);
        reader.SetCurrentEvent(position);
        const std::vector<int> targets = vantor::StepTargets(reader, map, chordMode);
        QTEST((QList<int>{targets.begin(), targets.end()}), "targets");
        QCOMPARE(reader.CurrentEvent(), position);
    }
};

QTEST_GUILESS_MAIN(TestStepMap)
#include "test_step_map.moc"
