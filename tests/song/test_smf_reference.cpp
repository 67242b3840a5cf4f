// Real Standard MIDI Files written by others, each with a reference dump on which
// two independent parsers agree. The files live beside the clone, never in it.
#include <QDir>
#include <QFile>
#include <QTest>

#include "common/ComponentError.h"
#include "song/Midifile.h"
#include "song/SmfDump.h"

class TestSmfReference : public QObject
{
    Q_OBJECT
    const QString dir_ = qEnvironmentVariable("VANTOR_TESTDATA") + "/smf/";

private slots:
    void initTestCase()
    {
        if (!QDir(dir_ + "files").exists()) QSKIP(qPrintable(dir_ + " is missing: real files skipped"));
    }

    void matchesReference_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("expected");  // reference dump file, or the error
        const QStringList names = QDir(dir_ + "files").entryList({"*.mid"}, QDir::Files, QDir::Name);
        QVERIFY(names.size() >= 31);
        for (const QString& name : names)
            QTest::newRow(qPrintable(name)) << "files/" + name << "expected/" + name.chopped(4) + ".txt";
        // A file cut inside a sysex: rejected, saying where, as smfdump reports it.
        QTest::newRow("hostile") << "hostile/h05_trunc_in_sysex.mid"
                                 << "MIDI file truncated in track 1 at byte 351";
    }
    void matchesReference()
    {
        QFETCH(QString, file);
        QFETCH(QString, expected);
        vantor::Midifile song;
        song.SetFilePath(dir_ + file);
        try {
            song.SetFileAction(vantor::FileActionOpen);
        } catch (const vantor::ComponentError& e) {
            QCOMPARE(QString(e.what()), expected);
            QCOMPARE(song.TrackCount(), 0);
            return;
        }
        QFile reference(dir_ + expected);
        QVERIFY(reference.open(QIODevice::ReadOnly));
        // As lines, so a failure names the first line that differs.
        QCOMPARE(vantor::SmfDump(song).split('\n'), reference.readAll().split('\n'));
    }
};

QTEST_GUILESS_MAIN(TestSmfReference)
#include "test_smf_reference.moc"
