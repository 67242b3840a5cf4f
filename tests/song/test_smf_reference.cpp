// Real Standard MIDI Files written by others, each with a reference dump on which
// two independent parsers agree. The files live beside the clone, never in it.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include "ComponentError.h"
#include "song/Midifile.h"
#include "song/SmfDump.h"

using vantor::Midifile;

namespace {

QString DataDir()
{
    return qEnvironmentVariable("VANTOR_TESTDATA") + QStringLiteral("/smf");
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

// Compares line by line so a failure names the first line that differs.
void CompareDumps(const QByteArray& actual, const QByteArray& expected)
{
    const QList<QByteArray> a = actual.split('\n');
    const QList<QByteArray> e = expected.split('\n');
    for (qsizetype i = 0; i < std::min(a.size(), e.size()); ++i) {
        if (a[i] != e[i]) {
            QFAIL(qPrintable(QStringLiteral("line %1: got \"%2\", expected \"%3\"")
                                 .arg(i + 1)
                                 .arg(QString::fromUtf8(a[i]), QString::fromUtf8(e[i]))));
        }
    }
    QCOMPARE(a.size(), e.size());
    QCOMPARE(actual, expected);
}

std::vector<qint64> TicksPerTrack(Midifile& song)
{
    std::vector<qint64> ticks;
    for (int t = 1; t <= song.TrackCount(); ++t) {
        song.SetCurrentTrack(t);
        qint64 sum = 0;
        for (int e = 1; e <= song.EventCount(); ++e) {
            song.SetCurrentEvent(e);
            sum += song.EventDelta();
        }
        ticks.push_back(sum);
    }
    return ticks;
}

}  // namespace

class TestSmfReference : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void matchesReferenceDump_data();
    void matchesReferenceDump();
    void filterKeepsTiming_data() { matchesReferenceDump_data(); }
    void filterKeepsTiming();
    void hostileFiles_data();
    void hostileFiles();
    void smfdumpTool();

private:
    bool haveData_ = false;
};

void TestSmfReference::initTestCase()
{
    haveData_ = QDir(DataDir() + QStringLiteral("/files")).exists();
    if (!haveData_) qInfo("%s is missing: the real-file tests are skipped", qPrintable(DataDir()));
}

void TestSmfReference::matchesReferenceDump_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("expected");
    if (!haveData_) QSKIP("no test data folder (VANTOR_TESTDATA/smf)");
    const QDir files(DataDir() + QStringLiteral("/files"));
    const QStringList names = files.entryList({QStringLiteral("*.mid")}, QDir::Files, QDir::Name);
    QVERIFY(names.size() >= 31);
    for (const QString& name : names) {
        const QString stem = name.chopped(4);
        QTest::newRow(qPrintable(stem))
            << files.filePath(name)
            << DataDir() + QStringLiteral("/expected/") + stem + QStringLiteral(".txt");
    }
}

void TestSmfReference::matchesReferenceDump()
{
    QFETCH(QString, file);
    QFETCH(QString, expected);
    Midifile song;
    song.SetFilePath(file);
    song.SetFileAction(vantor::FileActionOpen);
    const QByteArray reference = ReadAll(expected);
    QVERIFY2(!reference.isEmpty(), qPrintable(expected));
    CompareDumps(vantor::SmfDump(song), reference);
}

void TestSmfReference::filterKeepsTiming()
{
    QFETCH(QString, file);
    Midifile song;
    song.SetFilePath(file);
    song.SetFileAction(vantor::FileActionOpen);
    const std::vector<qint64> before = TicksPerTrack(song);
    std::vector<int> counts;
    for (int t = 1; t <= song.TrackCount(); ++t) {
        song.SetCurrentTrack(t);
        counts.push_back(song.EventCount());
    }
    for (const int status : {192, 0xB0, 0xF0})
        song.SetFilter(status, true);
    QCOMPARE(TicksPerTrack(song), before);
    for (int t = 1; t <= song.TrackCount(); ++t) {
        song.SetCurrentTrack(t);
        for (int e = 1; e <= song.EventCount(); ++e) {
            song.SetCurrentEvent(e);
            QVERIFY(song.EventStatus() != 192 && song.EventStatus() != 0xB0 && song.EventStatus() != 0xF0);
        }
    }
    for (const int status : {192, 0xB0, 0xF0})
        song.SetFilter(status, false);
    for (int t = 1; t <= song.TrackCount(); ++t) {
        song.SetCurrentTrack(t);
        QCOMPARE(song.EventCount(), counts[static_cast<std::size_t>(t - 1)]);
    }
}

void TestSmfReference::hostileFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("reject");
    QTest::addColumn<QString>("expected");
    if (!haveData_) QSKIP("no test data folder (VANTOR_TESTDATA/smf)");
    const QString dir = DataDir() + QStringLiteral("/hostile/");
    const QList<QByteArray> lines = ReadAll(dir + QStringLiteral("EXPECTED.tsv")).split('\n');
    QVERIFY(lines.size() > 1);
    const QList<QByteArray> columns = lines.first().split('\t');
    const auto fileColumn = columns.indexOf("file");
    const auto expectColumn = columns.indexOf("expect");
    const auto dumpColumn = columns.indexOf("expected_dump");
    QVERIFY(fileColumn >= 0 && expectColumn >= 0 && dumpColumn >= 0);
    for (const QByteArray& line : lines.mid(1)) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() < columns.size()) continue;
        const QString dump = QString::fromUtf8(fields[dumpColumn]);
        QTest::newRow(fields[fileColumn].constData())
            << dir + QString::fromUtf8(fields[fileColumn]) << (fields[expectColumn] == "reject")
            << (dump == QStringLiteral("-") ? QString() : dir + dump);
    }
}

void TestSmfReference::hostileFiles()
{
    QFETCH(QString, file);
    QFETCH(bool, reject);
    QFETCH(QString, expected);
    Midifile song;
    song.SetFilePath(file);
    QString error;
    try {
        song.SetFileAction(vantor::FileActionOpen);
    } catch (const vantor::ComponentError& e) {
        error = QString::fromStdString(e.what());
    }
    if (reject) {
        QVERIFY2(error.contains(QStringLiteral(" at byte ")), qPrintable(error));
        QCOMPARE(song.TrackCount(), 0);
        QCOMPARE(song.FilePath(), file);
    } else {
        QCOMPARE(error, QString());
        if (!expected.isEmpty()) CompareDumps(vantor::SmfDump(song), ReadAll(expected));
    }
}

void TestSmfReference::smfdumpTool()
{
    if (!haveData_) QSKIP("no test data folder (VANTOR_TESTDATA/smf)");
    const QString tool = qEnvironmentVariable("VANTOR_BUILD_DIR") + QStringLiteral("/tools/smfdump");
    QVERIFY2(QFile::exists(tool), qPrintable(tool + QStringLiteral(" is not built")));

    QProcess good;
    good.start(tool, {DataDir() + QStringLiteral("/files/jazzsoft_test-karaoke-kar.mid")});
    QVERIFY(good.waitForFinished(30000));
    QCOMPARE(good.exitStatus(), QProcess::NormalExit);
    QCOMPARE(good.exitCode(), 0);
    QCOMPARE(good.readAllStandardError(), QByteArray());
    CompareDumps(good.readAllStandardOutput(),
                 ReadAll(DataDir() + QStringLiteral("/expected/jazzsoft_test-karaoke-kar.txt")));

    QProcess bad;
    bad.start(tool, {DataDir() + QStringLiteral("/hostile/h05_trunc_in_sysex.mid")});
    QVERIFY(bad.waitForFinished(30000));
    QCOMPARE(bad.exitCode(), 1);
    QCOMPARE(bad.readAllStandardOutput(), QByteArray());
    QCOMPARE(bad.readAllStandardError(), QByteArray("error: MIDI file truncated in track 1 at byte 351\n"));
}

QTEST_GUILESS_MAIN(TestSmfReference)
#include "test_smf_reference.moc"
