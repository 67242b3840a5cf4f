#include <QtTest>
#include <cstdint>

#include "ComponentError.h"
#include "midi/NoteTag.h"

using namespace vantor;

class NoteTagTest : public QObject
{
    Q_OBJECT
private slots:
    void packs_and_unpacks_data();
    void packs_and_unpacks();
    void rejects_what_does_not_fit_data();
    void rejects_what_does_not_fit();
    void no_tag_carries_no_step();
    void due_time_is_floored_in_double_precision_data();
    void due_time_is_floored_in_double_precision();
};

void NoteTagTest::packs_and_unpacks_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("note");
    QTest::addColumn<bool>("on");
    QTest::addColumn<int>("tag");
    QTest::newRow("note-on 60 at event 10") << 10 << 60 << true << 2748;
    QTest::newRow("note-off 60 at event 12") << 12 << 60 << false << 3132;
    QTest::newRow("first event, note 0, off") << 1 << 0 << false << 256;
    QTest::newRow("note 127 on") << 1 << 127 << true << 511;
    QTest::newRow("last taggable event") << MaxTaggedEvent << 108 << true << 0x7FFFFF00 + 128 + 108;
    QTest::newRow("beyond 16-bit index") << 40000 << 21 << false << 40000 * 256 + 21;
}

void NoteTagTest::packs_and_unpacks()
{
    QFETCH(int, index);
    QFETCH(int, note);
    QFETCH(bool, on);
    QFETCH(int, tag);
    const std::int32_t packed = PackNoteTag(index, note, on);
    QCOMPARE(packed, tag);
    QCOMPARE(NoteTagStep(packed), index);
    QCOMPARE(NoteTagNote(packed), note);
    QCOMPARE(NoteTagIsOn(packed), on);
}

void NoteTagTest::rejects_what_does_not_fit_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("note");
    QTest::newRow("index 0") << 0 << 60;
    QTest::newRow("negative index") << -1 << 60;
    QTest::newRow("index past the tag range") << MaxTaggedEvent + 1 << 60;
    QTest::newRow("note 128") << 5 << 128;
    QTest::newRow("negative note") << 5 << -1;
}

void NoteTagTest::rejects_what_does_not_fit()
{
    QFETCH(int, index);
    QFETCH(int, note);
    QVERIFY_THROWS_EXCEPTION(ComponentError, PackNoteTag(index, note, true));
}

void NoteTagTest::no_tag_carries_no_step()
{
    QCOMPARE(NoteTagStep(NoTag), 0);
    QCOMPARE(NoteTagIsOn(NoTag), false);
    // A tag with bit 31 set (never packed) still unpacks to an index in range.
    const std::int32_t foreign = static_cast<std::int32_t>(0x80000000u | (5u << 8) | 0x80u | 60u);
    QCOMPARE(NoteTagStep(foreign), 5);
    QCOMPARE(NoteTagNote(foreign), 60);
    QVERIFY(NoteTagIsOn(foreign));
}

void NoteTagTest::due_time_is_floored_in_double_precision_data()
{
    QTest::addColumn<float>("msPerTick");
    QTest::addColumn<qint64>("ticks");
    QTest::addColumn<double>("due");
    // 500/96 stored as single precision is 5.2083335; times 96 it is 500.0000153.
    QTest::newRow("quarter at 120 bpm, 96 ppq") << static_cast<float>(500.0 / 96.0) << qint64{96} << 500.0;
    QTest::newRow("no ticks yet") << static_cast<float>(500.0 / 96.0) << qint64{0} << 0.0;
    QTest::newRow("fraction dropped") << 0.75f << qint64{5} << 3.0;
    QTest::newRow("beyond 32-bit tick totals") << 1.0f << qint64{5'000'000'000} << 5'000'000'000.0;
}

void NoteTagTest::due_time_is_floored_in_double_precision()
{
    QFETCH(float, msPerTick);
    QFETCH(qint64, ticks);
    QFETCH(double, due);
    QCOMPARE(QueueDueTime(msPerTick, ticks), due);
}

QTEST_APPLESS_MAIN(NoteTagTest)
#include "test_note_tag.moc"
