#include <QtTest>

#include "common/ComponentError.h"
#include "midi/NoteTag.h"

using namespace vantor;

class NoteTagTest : public QObject
{
    Q_OBJECT
private slots:
    void packs_and_unpacks()
    {
        QCOMPARE(PackNoteTag(10, 60, true), 2748);
        QCOMPARE(PackNoteTag(12, 60, false), 3132);
        const qint32 last = PackNoteTag(MaxTaggedEvent, 127, true);
        QVERIFY(NoteTagStep(last) == MaxTaggedEvent && NoteTagNote(last) == 127 && NoteTagIsOn(last));
        QVERIFY(NoteTagStep(3132) == 12 && NoteTagNote(3132) == 60 && !NoteTagIsOn(3132));
    }
    // A track longer than the tags can carry is refused, never wrapped.
    void rejects_what_does_not_fit()
    {
        QVERIFY_THROWS_EXCEPTION(ComponentError, PackNoteTag(MaxTaggedEvent + 1, 60, true));
        QVERIFY_THROWS_EXCEPTION(ComponentError, PackNoteTag(0, 60, true));
        QVERIFY_THROWS_EXCEPTION(ComponentError, PackNoteTag(5, 128, false));
        QCOMPARE(NoteTagStep(static_cast<qint32>(0x80000500u)),
                 5);  // a foreign bit 31 gives no negative step
    }
};

QTEST_APPLESS_MAIN(NoteTagTest)
#include "test_note_tag.moc"
