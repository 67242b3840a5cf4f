#include <QTest>

#include "song/Midifile.h"
#include "song/StepMap.h"
#include "support/SmfWriter.h"

using namespace vantor::test;

namespace {

// The step map of a one-track file written as words:
// on<note>, z<note> (note-on, velocity 0), off<note>, cc; "@<channel>" picks the channel.
QList<int> MapOf(const QString& words)
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
    vantor::Midifile reader;
    reader.LoadFromMemory(SmfWriter::Span(w.Bytes()));
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
};

QTEST_GUILESS_MAIN(TestStepMap)
#include "test_step_map.moc"
