// The main window: start-up, shut-down, layout, focus and the handler guard.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>
#include <QWheelEvent>
#include <csignal>

#include "ComponentError.h"
#include "app/HelpViewer.h"
#include "app/TerminationSignals.h"
#include "app/WindowLook.h"
#include "keyboard/PianoKeyboard.h"
#include "midi/MIDIInput.h"
#include "midi/MIDIOutput.h"
#include "support/FormHarness.h"
#include "support/SmfWriter.h"

using namespace vantor;
using namespace vantor::test;

Q_DECLARE_METATYPE(QRect)

class TestForm1 : public QObject
{
    Q_OBJECT
private slots:
    void startUpFillsListsOpensPortsAndSendsProgramZero();
    void startUpWithoutInputDevice();
    void startUpWithOnlyTheDefaultOutput();
    void focusRequestsBeforeShowingAreIgnored();
    void chordModeGivesFocusBack();
    void shutDownClosesBothPortsAndPutsVolumeBack_data();
    void shutDownClosesBothPortsAndPutsVolumeBack();
    void shutDownTwiceIsHarmless();
    void nothingIsHandledOnceClosing();
    void terminationSignalBecomesRequest();
    void controlsSitAtTheirRectangles_data();
    void controlsSitAtTheirRectangles();
    void transportButtonsShowSymbolsOnly();
    void captionsFitTheirControls();
    void fallbackFontIsTheLargestThatFits();
    void tabOrderFollowsTheLayout();
    void menusAreExact();
    void closedListsIgnoreTheWheel();
    void failingHandlerLeavesProgramUsable();
    void dragAcceptsOneLocalMidiFile_data();
    void dragAcceptsOneLocalMidiFile();
    void dropOpensTheFile();
    void helpOpensAtContents();
    void iconFilesMatchTheDrawing();
    void missingHelpIsNotReported();
};

void TestForm1::startUpFillsListsOpensPortsAndSendsProgramZero()
{
    FormHarness h;
    Form1& form = h.form();
    h.Load();

    QCOMPARE(form.OutputDevCombo->count(), 2);
    QCOMPARE(form.OutputDevCombo->itemText(0), QStringLiteral("Memory Default Output"));
    QCOMPARE(form.OutputDevCombo->itemText(1), QStringLiteral("Memory Out 1"));
    QCOMPARE(form.OutputDevCombo->currentIndex(), 0);
    QCOMPARE(form.InputDevCombo->count(), 1);
    QCOMPARE(form.InputDevCombo->itemText(0), QStringLiteral("Memory In 1"));
    QCOMPARE(form.InputDevCombo->currentIndex(), 0);
    QCOMPARE(form.ProgramList->count(), 128);
    QCOMPARE(form.ProgramList->currentIndex(), 0);

    // The default output is opened once, the input is running.
    QCOMPARE(h.devices().OutputOpenCount(-1), 1);
    QCOMPARE(h.devices().OutputsOpen(), 1);
    QVERIFY(form.MIDIOutput1->OpenState() >= 1);
    QVERIFY(form.MIDIInput1->OpenState() >= 1);
    QVERIFY(h.devices().InputRunning());
    QCOMPARE(h.devices().OpenInputDevice(), 0);

    // Program 0 on channel 1 is all that start-up sends.
    QCOMPARE(h.devices().SentTo(-1), (std::vector<ShortMessage>{{0xC0, 0, 0}}));
    QCOMPARE(form.ProgramChannel, std::int16_t{0});

    QVERIFY(form.isVisible());
    QCOMPARE(form.focusWidget(), form.TagForward);
    QVERIFY(!form.CmdPlay->isEnabled());
    QVERIFY(!form.CmdStop->isEnabled());
    QVERIFY(!form.ChordMode->isChecked());
    QVERIFY(h.messages.isEmpty());
    QVERIFY(form.HelpFilePath().endsWith(QStringLiteral("/Vantor.html")));
}

void TestForm1::startUpWithoutInputDevice()
{
    auto devices = FormHarness::DefaultDevices();
    devices->SetInputs({});
    FormHarness h(devices);
    h.Load();

    QCOMPARE(h.form().InputDevCombo->count(), 0);
    QCOMPARE(h.form().InputDevCombo->currentIndex(), -1);
    QCOMPARE(h.form().MIDIInput1->OpenState(), 0);
    QVERIFY(!h.devices().InputRunning());
    QVERIFY(h.messages.isEmpty());
    // Everything else came up as usual.
    QVERIFY(h.form().MIDIOutput1->OpenState() >= 1);
    QCOMPARE(h.form().focusWidget(), h.form().TagForward);
}

void TestForm1::startUpWithOnlyTheDefaultOutput()
{
    auto devices = FormHarness::DefaultDevices();
    devices->SetOutputs({});
    FormHarness h(devices);
    h.Load();

    QCOMPARE(h.form().OutputDevCombo->count(), 1);
    QCOMPARE(h.form().OutputDevCombo->currentIndex(), 0);
    QCOMPARE(h.form().OutputDevCombo->currentText(), QStringLiteral("Memory Default Output"));
    QCOMPARE(h.devices().OutputOpenCount(-1), 1);
    QCOMPARE(h.devices().SentTo(-1), (std::vector<ShortMessage>{{0xC0, 0, 0}}));
}

void TestForm1::focusRequestsBeforeShowingAreIgnored()
{
    FormHarness h;
    Form1& form = h.form();
    form.FocusStepForward();
    form.FocusStepForwardIfVisible();
    QVERIFY(!form.isVisible());
    QVERIFY(form.focusWidget() != form.TagForward);

    form.show();
    form.TagNumber->setFocus();
    form.FocusStepForwardIfVisible();
    QCOMPARE(form.focusWidget(), form.TagForward);
}

void TestForm1::chordModeGivesFocusBack()
{
    FormHarness h;
    h.Load();
    Form1& form = h.form();
    QTest::mouseClick(form.ChordMode, Qt::LeftButton);
    QVERIFY(form.ChordMode->isChecked());
    QCOMPARE(form.focusWidget(), form.TagForward);
    QTest::mouseClick(form.ChordMode, Qt::LeftButton);
    QVERIFY(!form.ChordMode->isChecked());
    QCOMPARE(form.focusWidget(), form.TagForward);
}

void TestForm1::shutDownClosesBothPortsAndPutsVolumeBack_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("window closed") << "close";
    QTest::newRow("File > Exit") << "exit";
}

void TestForm1::shutDownClosesBothPortsAndPutsVolumeBack()
{
    QFETCH(QString, path);
    auto devices = FormHarness::DefaultDevices();
    MemoryDevices::OutputSpec synth;
    synth.name = QStringLiteral("Stereo Synth");
    synth.capabilities = 1;
    synth.hasStereoVolume = true;
    synth.volume = 0x4000;
    synth.rightVolume = 0x3000;
    devices->SetDefaultOutput(synth);
    FormHarness h(devices);
    h.Load();
    QCOMPARE(h.form().SavedVolume, 0x4000);
    QCOMPARE(h.form().SavedRightVolume, 0x3000);

    // Something else turned the device down meanwhile.
    h.form().MIDIOutput1->SetVolume(5);
    h.form().MIDIOutput1->SetRightVolume(6);

    if (path == QLatin1String("close"))
        QVERIFY(!h.form().close());  // the window itself is not unloaded: the program ends
    else
        h.form().FileExit->trigger();

    QCOMPARE(h.quitCalls, 1);
    QVERIFY(h.form().IsClosing());
    QCOMPARE(h.devices().OutputsOpen(), 0);
    QVERIFY(!h.devices().InputRunning());
    QCOMPARE(h.devices().OpenInputDevice(), -1);
    QCOMPARE(h.devices().Output(-1).volume, 0x4000);
    QCOMPARE(h.devices().Output(-1).rightVolume, 0x3000);
}

void TestForm1::shutDownTwiceIsHarmless()
{
    FormHarness h;
    h.Load();
    h.form().FileExit_Click();
    h.form().Form_QueryUnload();
    QCOMPARE(h.devices().OutputsOpen(), 0);
    QCOMPARE(h.devices().OutputOpenCount(-1), 1);
    QVERIFY(h.messages.isEmpty());
    // Once closing, the opens do nothing: nothing can reopen a device on the way out.
    h.form().OpenOutput();
    h.form().OpenInput();
    QCOMPARE(h.devices().OutputsOpen(), 0);
    QVERIFY(!h.devices().InputRunning());
}

void TestForm1::nothingIsHandledOnceClosing()
{
    FormHarness h;
    h.Load();
    h.form().Form_QueryUnload();
    h.devices().ClearSent();
    int ran = 0;
    h.form().Guarded("test", [&] { ++ran; });
    QTest::mouseClick(h.form().ResetMidi, Qt::LeftButton);
    h.form().close();
    QCOMPARE(ran, 0);
    QCOMPARE(h.quitCalls, 1);
    QVERIFY(h.devices().SentMessages().empty());
}

void TestForm1::terminationSignalBecomesRequest()
{
    TerminationSignals watcher;
    QVERIFY(watcher.IsWatching());
    QSignalSpy requested(&watcher, &TerminationSignals::Requested);
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        requested.clear();
        QCOMPARE(std::raise(signalNumber), 0);
        QVERIFY(requested.wait(2000));
        QCOMPARE(requested.count(), 1);
        QCOMPARE(requested.front().front().toInt(), signalNumber);
    }
    // A second watcher does not take the signals from the first.
    QTest::ignoreMessage(QtWarningMsg,
                         "TerminationSignals: another instance already watches SIGINT and SIGTERM");
    TerminationSignals second;
    QVERIFY(!second.IsWatching());
}

void TestForm1::controlsSitAtTheirRectangles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("tip");
    const auto row = [](const char* name, QRect rect, const char* text, const char* tip) {
        QTest::newRow(name) << QString::fromLatin1(name) << rect << QString::fromLatin1(text)
                            << QString::fromLatin1(tip);
    };
    row("Label2", {18, 20, 41, 13}, "Midi Out", "");
    row("OutputDevCombo", {64, 16, 185, 21}, "", "");
    row("Label1", {26, 46, 41, 13}, "Midi In", "");
    row("InputDevCombo", {64, 42, 185, 21}, "", "");
    row("Label3", {277, 20, 33, 17}, "Track", "");
    row("TrackList", {310, 16, 185, 21}, "", "");
    row("Label4", {265, 46, 41, 17}, "Program", "");
    row("ProgramList", {310, 42, 185, 21}, "", "");
    row("ResetMidi", {532, 18, 77, 20}, "Midi Reset", "Midi Reset");
    row("ChordMode", {534, 44, 87, 17}, "Chord Mode", "");
    row("TagMark", {636, 18, 57, 20}, "Set Mark", "Set Mark");
    row("TagMarker", {700, 18, 55, 19}, "1", "Marker");
    row("TagGoto", {762, 18, 57, 20}, "Goto Mark", "Goto Mark");
    row("CmdStop", {822, 18, 27, 20}, "", "Reset");
    row("TagStart", {636, 42, 27, 20}, "", "Goto Begin");
    row("TagBack", {666, 42, 27, 20}, "", "Step Backward");
    row("TagNumber", {700, 42, 55, 19}, "1", "Message");
    row("TagForward", {762, 42, 27, 20}, "", "Step Forward");
    row("TagEnd", {792, 42, 27, 20}, "", "Goto End");
    row("CmdPlay", {822, 42, 27, 20}, "", "Play");
    row("TagSlider", {8, 68, 851, 23}, "", "");
    row("Keyboard", PianoKeyboard::Area, "", "");
}

void TestForm1::controlsSitAtTheirRectangles()
{
    QFETCH(QString, name);
    QFETCH(QRect, rect);
    QFETCH(QString, text);
    QFETCH(QString, tip);
    FormHarness h;
    h.Load();
    Form1& form = h.form();
    QCOMPARE(form.centralWidget()->size(), QSize(866, 185));
    QCOMPARE(form.centralWidget()->y(), form.menuBar()->geometry().bottom() + 1);
    QCOMPARE(form.size(), QSize(866, form.menuBar()->height() + 185));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QCOMPARE(form.windowTitle(), QStringLiteral("Vantor Piano Tutor"));
    QVERIFY(!form.windowIcon().isNull());

    auto* widget = form.findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget(), form.centralWidget());
    QCOMPARE(widget->geometry(), rect);
    QVERIFY(widget->isVisible());
    QCOMPARE(widget->toolTip(), tip);
    if (auto* label = qobject_cast<QLabel*>(widget)) QCOMPARE(label->text(), text);
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) QCOMPARE(button->text(), text);
    if (auto* box = qobject_cast<QLineEdit*>(widget)) QCOMPARE(box->text(), text);
}

void TestForm1::transportButtonsShowSymbolsOnly()
{
    FormHarness h;
    Form1& form = h.form();
    for (QPushButton* button :
         {form.CmdStop, form.TagStart, form.TagBack, form.TagForward, form.TagEnd, form.CmdPlay}) {
        QVERIFY2(button->text().isEmpty(), qPrintable(button->objectName()));
        QVERIFY2(!button->icon().isNull(), qPrintable(button->objectName()));
        QCOMPARE(button->accessibleName(), button->toolTip());
    }
    // Six different symbols: none of them stands in for another.
    QSet<QByteArray> images;
    for (QPushButton* button :
         {form.CmdStop, form.TagStart, form.TagBack, form.TagForward, form.TagEnd, form.CmdPlay}) {
        const QImage image = button->icon().pixmap(12, 12).toImage();
        images.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
    }
    QCOMPARE(images.size(), 6);
}

void TestForm1::captionsFitTheirControls()
{
    FormHarness h;
    h.Load();
    Form1& form = h.form();
    for (QLabel* label : {form.Label1, form.Label2, form.Label3, form.Label4}) {
        const int advance = QFontMetrics(label->font()).horizontalAdvance(label->text());
        QVERIFY2(advance <= label->width(), qPrintable(label->text()));
    }
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{form.ResetMidi, form.TagMark,
                                                                           form.TagGoto, form.ChordMode}) {
        const int advance = QFontMetrics(button->font()).horizontalAdvance(button->text());
        QVERIFY2(advance < button->width() - 6, qPrintable(button->text()));
    }
    const QFontMetrics list(form.ProgramList->font());
    for (int i = 0; i < form.ProgramList->count(); ++i)
        QVERIFY2(list.horizontalAdvance(form.ProgramList->itemText(i)) < form.ProgramList->width() - 20,
                 qPrintable(form.ProgramList->itemText(i)));
    QVERIFY(form.Label1->font().pixelSize() >= 8 || form.Label1->font().pointSizeF() >= 6);
}

void TestForm1::fallbackFontIsTheLargestThatFits()
{
    // The fallback where Tahoma is missing: the platform's sans-serif, shrunk until it fits.
    QFont sans(QStringLiteral("DejaVu Sans"));
    const auto width = [&sans](int pixels, const QString& text) {
        QFont font(sans);
        font.setPixelSize(pixels);
        return QFontMetrics(font).horizontalAdvance(text);
    };
    const QString caption = QStringLiteral("Program");
    const std::vector<CaptionRoom> roomy = {{caption, 200}};
    QCOMPARE(FittingPixelSize(sans, roomy), 11);

    const std::vector<CaptionRoom> tight = {{caption, width(9, caption)}, {QStringLiteral("x"), 100}};
    const int size = FittingPixelSize(sans, tight);
    QVERIFY(width(size, caption) <= tight[0].width);
    QVERIFY(width(size + 1, caption) > tight[0].width);

    const std::vector<CaptionRoom> hopeless = {{caption, 3}};
    QCOMPARE(FittingPixelSize(sans, hopeless), 8);
}

void TestForm1::tabOrderFollowsTheLayout()
{
    FormHarness h;
    Form1& form = h.form();
    const QStringList expected = {"TagStart",    "TagBack",   "TagForward",    "TagEnd",         "CmdPlay",
                                  "CmdStop",     "TagGoto",   "TagMark",       "ChordMode",      "ResetMidi",
                                  "ProgramList", "TrackList", "InputDevCombo", "OutputDevCombo", "TagNumber",
                                  "TagMarker",   "TagSlider"};
    QStringList seen;
    QWidget* widget = form.TagStart;
    do {
        if (expected.contains(widget->objectName())) seen.append(widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != form.TagStart && seen.size() < expected.size());
    QCOMPARE(seen, expected);
}

void TestForm1::menusAreExact()
{
    FormHarness h;
    Form1& form = h.form();
    const QList<QAction*> bar = form.menuBar()->actions();
    QCOMPARE(bar.size(), 2);
    QCOMPARE(bar[0]->text(), QStringLiteral("&File"));
    QCOMPARE(bar[1]->text(), QStringLiteral("&Help"));

    const QList<QAction*> file = form.FileMenu->actions();
    QCOMPARE(file.size(), 3);
    QCOMPARE(file[0], form.FileOpen);
    QCOMPARE(file[0]->text(), QStringLiteral("&Open Midifile..."));
    QCOMPARE(file[0]->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    QVERIFY(file[1]->isSeparator());
    QCOMPARE(file[2], form.FileExit);
    QCOMPARE(file[2]->text(), QStringLiteral("E&xit"));
    QVERIFY(file[2]->shortcut().isEmpty());

    const QList<QAction*> help = form.HelpMenu->actions();
    QCOMPARE(help.size(), 3);
    QCOMPARE(help[0], form.HelpContent);
    QCOMPARE(help[0]->text(), QStringLiteral("&Help Contents"));
    QCOMPARE(help[0]->shortcut(), QKeySequence(QStringLiteral("F1")));
    QVERIFY(help[1]->isSeparator());
    QCOMPARE(help[2], form.HelpAbout);
    QCOMPARE(help[2]->text(), QStringLiteral("&About Vantor"));
}

void TestForm1::closedListsIgnoreTheWheel()
{
    FormHarness h;
    h.Load();
    Form1& form = h.form();
    form.ProgramList->setCurrentIndex(5);
    h.devices().ClearSent();
    for (QComboBox* combo : {form.ProgramList, form.OutputDevCombo, form.TrackList}) {
        const int before = combo->currentIndex();
        const QPointF centre = QRectF(combo->rect()).center();
        QWheelEvent wheel(centre, combo->mapToGlobal(centre), {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(combo, &wheel);
        QCOMPARE(combo->currentIndex(), before);
    }
    QVERIFY(h.devices().SentMessages().empty());
    QCOMPARE(h.devices().OutputOpenCount(-1), 1);
}

void TestForm1::failingHandlerLeavesProgramUsable()
{
    FormHarness h;
    h.Load();
    QTest::ignoreMessage(QtWarningMsg, "Probe: broken on purpose");
    h.form().Guarded("Probe", [] { throw ComponentError("broken on purpose"); });
    // The window still answers.
    h.devices().ClearSent();
    QTest::mouseClick(h.form().ResetMidi, Qt::LeftButton);
    QVERIFY(!h.devices().SentMessages().empty());
}

void TestForm1::dragAcceptsOneLocalMidiFile_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("one .mid") << QStringList{"song.mid"} << true;
    QTest::newRow("upper-case suffix") << QStringList{"SONG.MID"} << true;
    QTest::newRow("a text file") << QStringList{"notes.txt"} << false;
    QTest::newRow("two files") << QStringList{"a.mid", "b.mid"} << false;
    QTest::newRow("missing file") << QStringList{"!gone.mid"} << false;
}

void TestForm1::dragAcceptsOneLocalMidiFile()
{
    QFETCH(QStringList, names);
    QFETCH(bool, accepted);
    FormHarness h;
    QList<QUrl> urls;
    for (const QString& name : names) {
        if (name.startsWith('!'))
            urls.append(QUrl::fromLocalFile(h.WriteFile("x", "x.mid") + name.mid(1)));
        else
            urls.append(QUrl::fromLocalFile(h.WriteFile(SmfWriter().Bytes(), name)));
    }
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    enter.setAccepted(false);
    // Straight to the window's handler: outside a real drag Qt routes no drop events.
    static_cast<QObject&>(h.form()).event(&enter);
    QCOMPARE(enter.isAccepted(), accepted);
}

void TestForm1::dropOpensTheFile()
{
    FormHarness h;
    h.Load();
    SmfWriter writer(1, 96);
    writer.AddTrack().Tempo(0, 500000);
    writer.AddTrack().NoteOn(0, 0, 60, 100).NoteOff(96, 0, 60);
    const QString path = h.WriteFile(writer.Bytes());
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    static_cast<QObject&>(h.form()).event(&drop);
    QCOMPARE(h.form().Midifile1.FilePath(), path);
}

void TestForm1::helpOpensAtContents()
{
    const QString document =
        qEnvironmentVariable("VANTOR_SOURCE_DIR") + QStringLiteral("/resources/Vantor.html");
    QVERIFY(QFileInfo::exists(document));
    FormHarness h;
    HelpViewer viewer(&h.form());
    QVERIFY(viewer.ShowContents(document));
    QVERIFY(viewer.isVisible());
    QCOMPARE(viewer.Browser->source().fragment(), QStringLiteral("contents"));
    const QString text = viewer.Browser->toPlainText();
    for (const char* topic :
         {"Chord Mode", "Step Forward", "Set Mark", "B7", "C8", "Midi Reset", "SoundFont"})
        QVERIFY2(text.contains(QLatin1String(topic)), topic);
}

void TestForm1::missingHelpIsNotReported()
{
    FormHarness h;
    h.Load();
    // The test program's folder holds no help document.
    QVERIFY(!QFileInfo::exists(h.form().HelpFilePath()));
    h.form().HelpContent->trigger();
    QVERIFY(h.messages.isEmpty());
    const auto* viewer = h.form().findChild<HelpViewer*>();
    QVERIFY(!viewer || !viewer->isVisible());
}

void TestForm1::iconFilesMatchTheDrawing()
{
    const QString folder = qEnvironmentVariable("VANTOR_SOURCE_DIR") + QStringLiteral("/resources/");
    for (const int size : {16, 32, 48}) {
        const QImage drawn = VantorIconImage(size).convertToFormat(QImage::Format_ARGB32);
        const QImage file =
            QImage(folder + QStringLiteral("vantor-%1.png").arg(size)).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(file.size(), QSize(size, size));
        QVERIFY2(file == drawn,
                 qPrintable(QStringLiteral("vantor-%1.png differs from the drawing").arg(size)));
        // Not an empty picture: the corners are clear, the middle is not.
        QCOMPARE(qAlpha(drawn.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(drawn.pixel(size / 2, size / 2)), 255);
    }
    const QList<QSize> sizes = VantorIcon().availableSizes();
    for (const int size : {16, 32, 48})
        QVERIFY(sizes.contains(QSize(size, size)));
}

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
