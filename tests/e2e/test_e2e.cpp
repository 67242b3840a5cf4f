// The real program, end to end: the vantor binary in a private X server, talking
// MIDI through a private JACK server to a peer that this test plays itself. The
// test drives the program only as a user would (keys, clicks at the controls'
// places, screenshots) and checks what reaches the peer and what the screen shows.
//
// The JACK server is the test's own, in synchronous mode (JackServer.h says why).
// Tolerances, set for the sanitizer build on two cores (the test runs alone):
// every message an action causes must reach the peer within 10 s; "nothing more
// arrives" is judged after 400 ms without a message; the screen must show the
// expected indicators within 8 s; each played note must arrive within
// PlaybackToleranceMs of the file's spacing, measured against the median latency
// (the JACK period, 5.3 ms at -p 256, quantises arrivals; the rest is scheduling).

#include <sys/prctl.h>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <functional>
#include <memory>

#include "Expectations.h"
#include "JackPeer.h"
#include "JackServer.h"
#include "XDisplay.h"
#include "support/SmfWriter.h"

using namespace vantor::e2e;
using vantor::test::SmfWriter;

namespace {

constexpr int ClientWidth = 866;
constexpr int ClientHeight = 185;
constexpr int ArrivalTimeoutMs = 10000;
constexpr int QuietMs = 400;
constexpr int ScreenTimeoutMs = 8000;
constexpr int StartTimeoutMs = 60000;
constexpr int ExitTimeoutMs = 30000;
constexpr double PlaybackToleranceMs = 15.0;

constexpr QRgb LitColour = 0x404040;
constexpr QRgb PressedColour = 0x0000A0;

// Centres of the controls in the client area, from the window's layout.
constexpr QPoint OutputDevComboAt{64 + 92, 16 + 10};
constexpr QPoint ResetMidiAt{532 + 38, 18 + 10};
constexpr QPoint ChordModeAt{534 + 7, 44 + 8};
constexpr QPoint TagMarkAt{636 + 28, 18 + 10};
constexpr QPoint TagGotoAt{762 + 28, 18 + 10};
constexpr QPoint CmdStopAt{822 + 13, 18 + 10};
constexpr QPoint TagStartAt{636 + 13, 42 + 10};
constexpr QPoint TagBackAt{666 + 13, 42 + 10};
constexpr QPoint TagNumberAt{700 + 27, 42 + 9};
constexpr QPoint CmdPlayAt{822 + 13, 42 + 10};

// The practice track ("Right hand"): event 1 is its name, these are events 2 on.
struct SongEvent
{
    std::uint32_t delta;
    Bytes message;
};

Bytes On(int note, int velocity)
{
    return Msg(0x90, note, velocity);
}

Bytes Off(int note)
{
    return Msg(0x80, note, 0x40);
}

const std::vector<SongEvent>& Melody()
{
    static const std::vector<SongEvent> melody{
        {0, On(60, 100)},       {0, On(64, 90)},  {0, On(67, 80)},   // 2-4  chord C E G
        {96, Off(60)},          {0, Off(64)},     {0, Off(67)},      // 5-7
        {0, On(62, 100)},       {0, On(66, 100)}, {0, On(69, 100)},  // 8-10 chord D F# A
        {96, Msg(0x90, 62, 0)}, {0, Off(66)},     {0, Off(69)},      // 11-13 (a velocity-0 release)
        {0, On(72, 110)},       {48, Off(72)},                       // 14-15
        {48, On(73, 100)},      {192, Off(73)},                      // 16-17 a long C#5
    };
    return melody;
}

constexpr int TempoMicroseconds = 500000;
constexpr int Division = 96;

// The message of event k (2..17) of the practice track.
Bytes Ev(int k)
{
    return Melody().at(static_cast<std::size_t>(k - 2)).message;
}

std::vector<Bytes> Events(std::initializer_list<int> indexes)
{
    std::vector<Bytes> messages;
    for (const int k : indexes)
        messages.push_back(Ev(k));
    return messages;
}

// When the program's timed queue is due to send event k after Play at event 1:
// milliseconds per tick in single precision, times the ticks, floored.
double DueMs(int k)
{
    const float msPerTick = static_cast<float>(TempoMicroseconds / 1000.0 / Division);
    std::int64_t ticks = 0;
    for (int i = 2; i <= k; ++i)
        ticks += Melody().at(static_cast<std::size_t>(i - 2)).delta;
    return std::floor(static_cast<double>(msPerTick) * static_cast<double>(ticks));
}

std::vector<Bytes> MessagesOf(const std::vector<Arrival>& arrivals)
{
    std::vector<Bytes> messages;
    for (const Arrival& arrival : arrivals)
        messages.push_back(arrival.message);
    return messages;
}

void Require(const QString& problem, const QString& action)
{
    if (!problem.isEmpty()) throw std::runtime_error((action + QStringLiteral(": ") + problem).toStdString());
}

QString Attempt(const std::function<void()>& body)
{
    try {
        body();
    } catch (const std::exception& e) {
        return QString::fromStdString(e.what());
    }
    return {};
}

void Pause(int ms)
{
    QThread::msleep(static_cast<unsigned long>(ms));
}

}  // namespace

// Overruns of the JACK server are named beside a failure: they tell a loaded
// machine from a fault of the program.
#define E2E_CONCLUDE(failure) QVERIFY2((failure).isEmpty(), qPrintable(WithOverruns(failure)))

class E2ETest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void startUpShowsTheWholeWindowAtRest();
    void choosingThePeerAsMidiOut();
    void openingTheFileWithCtrlO();
    void steppingForwardNoteByNote();
    void steppingForwardInChordMode();
    void steppingBackward();
    void typingAStepNumber();
    void settingAndReturningToTheMark();
    void playingAndStopping();
    void aChordPlayedOnThePeer();
    void theStepKeysOfThePeerKeyboard();
    void exitingThroughTheFileMenu();

private:
    QPoint Screen(QPoint client) const { return clientOrigin_ + client; }
    void Click(QPoint client);
    void Press(const QStringList& keys);
    QImage ClientArea() const;
    QString WaitForKeys(const KeyColours& expected) const;
    QString WaitForMessages(std::size_t mark, const Expected& expected,
                            std::vector<Arrival>* got = nullptr) const;
    QString Trouble() const;
    QStringList ForeignPorts() const;
    void SaveScreenshot(const QString& name) const;
    int Overruns() const { return jack_ ? jack_->Overruns() : 0; }
    QString WithOverruns(const QString& failure) const;

    std::unique_ptr<JackServer> jack_;
    std::unique_ptr<XDisplay> display_;
    std::unique_ptr<JackPeer> peer_;
    QProcess program_;
    QTemporaryDir home_{QDir::tempPath() + QStringLiteral("/vantor-e2e-XXXXXX")};
    QString outputDir_;
    QString songPath_;
    QString window_;
    QPoint clientOrigin_;
    bool started_ = false;
    bool earlierStepFailed_ = false;
    int overrunsAtStart_ = 0;
};

// ---------------------------------------------------------------- harness

void E2ETest::initTestCase()
{
    outputDir_ = QDir::current().absoluteFilePath(QStringLiteral("test_e2e-output"));
    QDir(outputDir_).removeRecursively();
    QVERIFY(QDir().mkpath(outputDir_));
    QVERIFY2(home_.isValid(), "no temporary folder");
    QVERIFY(QDir(home_.path()).mkpath(QStringLiteral("runtime")));
    QVERIFY(QFile::setPermissions(home_.filePath(QStringLiteral("runtime")),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));

    const QString binary = qEnvironmentVariable("VANTOR_BUILD_DIR") + QStringLiteral("/src/vantor");
    QVERIFY2(QFileInfo(binary).isExecutable(), qPrintable(QStringLiteral("no program at ") + binary));
    for (const char* tool : {"Xvfb", "jackd", "xdotool", "import", "jack_lsp", "jack_wait"})
        QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty(),
                 qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(tool))));
    const QString failure = Attempt([&] {
        jack_ = std::make_unique<JackServer>(outputDir_ + QStringLiteral("/jackd.log"));
        display_ = std::make_unique<XDisplay>();
        // The peer's ports exist before the program starts, so its lists show them.
        peer_ = std::make_unique<JackPeer>();
    });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    SmfWriter writer(1, Division);
    writer.AddTrack().Name(0, "Tempo").Tempo(0, TempoMicroseconds);
    auto& hand = writer.AddTrack().Name(0, "Right hand");
    for (const SongEvent& event : Melody())
        hand.Raw(event.delta, event.message);
    songPath_ = SmfWriter::WriteFile(home_, QStringLiteral("practice.mid"), writer.Bytes());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display_->Name());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home_.filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("HOME"), home_.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home_.filePath(QStringLiteral("config")));
    program_.setProcessEnvironment(environment);
    program_.setWorkingDirectory(home_.path());
    program_.setStandardOutputFile(outputDir_ + QStringLiteral("/vantor-stdout.log"));
    program_.setStandardErrorFile(outputDir_ + QStringLiteral("/vantor-stderr.log"));
    program_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    program_.start(binary, {});
    QVERIFY2(program_.waitForStarted(10000), qPrintable(program_.errorString()));

    QElapsedTimer timer;
    timer.start();
    while (window_.isEmpty() && timer.elapsed() < StartTimeoutMs) {
        QVERIFY2(program_.state() == QProcess::Running, qPrintable(Trouble()));
        const QStringList windows = display_->Windows(QStringLiteral("^Vantor Piano Tutor$"));
        if (!windows.isEmpty())
            window_ = windows.first();
        else
            Pause(100);
    }
    QVERIFY2(!window_.isEmpty(), "the main window \"Vantor Piano Tutor\" did not show within 60 s");

    // Without a window manager the window sits where it was put and has no frame:
    // the client area is its bottom 185 rows, under the menu bar.
    QRect geometry;
    for (int tries = 0; tries < 20; ++tries) {
        Pause(150);
        const QRect now = display_->Geometry(window_);
        if (now == geometry) break;
        geometry = now;
    }
    QVERIFY2(
        geometry.width() == ClientWidth && geometry.height() > ClientHeight,
        qPrintable(QStringLiteral("the window is %1 x %2; the layout wants an 866 x 185 client area under "
                                  "the menu bar")
                       .arg(geometry.width())
                       .arg(geometry.height())));
    clientOrigin_ = QPoint(geometry.x(), geometry.y() + geometry.height() - ClientHeight);
    display_->ParkPointer();
    started_ = true;
}

void E2ETest::init()
{
    if (earlierStepFailed_) QSKIP("an earlier step failed; this one builds on what it should have left");
    overrunsAtStart_ = Overruns();
}

void E2ETest::cleanup()
{
    if (!QTest::currentTestFailed()) return;
    earlierStepFailed_ = true;
    SaveScreenshot(QLatin1String(QTest::currentTestFunction()));
    qWarning().noquote() << "state after the failure:" << Trouble();
}

QString E2ETest::WithOverruns(const QString& failure) const
{
    const int overruns = Overruns() - overrunsAtStart_;
    if (failure.isEmpty() || overruns == 0) return failure;
    return failure + QStringLiteral(" [the JACK server logged %1 overruns during this step]").arg(overruns);
}

void E2ETest::cleanupTestCase()
{
    if (!started_) {
        SaveScreenshot(QStringLiteral("initTestCase"));
        qWarning().noquote() << "state after the failed start:" << Trouble();
    }
    if (program_.state() != QProcess::NotRunning) {
        program_.terminate();
        if (!program_.waitForFinished(10000)) {
            program_.kill();
            program_.waitForFinished(5000);
        }
    }
    peer_.reset();
    if (display_) display_->Stop();
    if (jack_) jack_->Stop();
}

void E2ETest::Click(QPoint client)
{
    display_->Click(Screen(client));
    display_->ParkPointer();
}

void E2ETest::Press(const QStringList& keys)
{
    display_->Focus(window_);
    display_->Keys(keys);
}

QImage E2ETest::ClientArea() const
{
    return display_->Screenshot().copy(QRect(clientOrigin_, QSize(ClientWidth, ClientHeight)));
}

QString E2ETest::WaitForKeys(const KeyColours& expected) const
{
    QElapsedTimer timer;
    timer.start();
    QString problem;
    do {
        problem = IndicatorMismatch(ClientArea(), expected);
        if (problem.isEmpty()) return {};
        Pause(150);
    } while (timer.elapsed() < ScreenTimeoutMs);
    return QStringLiteral("the keyboard shows the wrong indicators: ") + problem;
}

QString E2ETest::WaitForMessages(std::size_t mark, const Expected& expected, std::vector<Arrival>* got) const
{
    QElapsedTimer timer;
    timer.start();
    while (peer_->Count() - mark < expected.Size() && timer.elapsed() < ArrivalTimeoutMs)
        Pause(20);
    // Then a quiet spell, so that anything sent beyond what is expected shows too.
    std::size_t before = 0;
    std::size_t after = peer_->Count();
    do {
        before = after;
        Pause(QuietMs);
        after = peer_->Count();
    } while (after != before);
    const std::vector<Arrival> arrivals = peer_->Since(mark);
    if (got) *got = arrivals;
    const QString problem = expected.Mismatch(MessagesOf(arrivals));
    return problem.isEmpty() ? QString()
                             : QStringLiteral("the MIDI peer received the wrong messages: ") + problem;
}

QString E2ETest::Trouble() const
{
    QStringList notes;
    if (program_.state() == QProcess::NotRunning)
        notes << QStringLiteral("vantor has ended (exit code %1)").arg(program_.exitCode());
    if (display_) {
        const QString failure = Attempt([&] {
            const QStringList windows = display_->Windows(QStringLiteral(".+"));
            QStringList names;
            for (const QString& window : windows)
                names << display_->Run(QStringLiteral("xdotool"), {QStringLiteral("getwindowname"), window})
                             .trimmed();
            notes << QStringLiteral("windows on the screen: ") + names.join(QStringLiteral(" | "));
        });
        if (!failure.isEmpty()) notes << failure;
    }
    QFile log(outputDir_ + QStringLiteral("/vantor-stderr.log"));
    if (log.open(QIODevice::ReadOnly)) {
        const QByteArray text = log.readAll();
        notes << QStringLiteral("vantor's stderr ends: ") + QString::fromLocal8Bit(text.right(1500));
    }
    return notes.join(QStringLiteral("\n"));
}

QStringList E2ETest::ForeignPorts() const
{
    // Every port on the server that is neither the driver's nor the peer's.
    QProcess lsp;
    for (int attempt = 0; attempt < 3; ++attempt) {
        lsp.start(QStringLiteral("jack_lsp"), {});
        if (lsp.waitForFinished(10000) && lsp.exitStatus() == QProcess::NormalExit && lsp.exitCode() == 0)
            break;
        lsp.kill();
        lsp.waitForFinished(1000);
        Pause(200);
    }
    if (lsp.exitStatus() != QProcess::NormalExit || lsp.exitCode() != 0)
        throw std::runtime_error("jack_lsp cannot list the JACK server's ports");
    QStringList foreign;
    const QStringList ours{QStringLiteral("system"), peer_->RecordPort().section(QLatin1Char(':'), 0, 0),
                           peer_->PlayPort().section(QLatin1Char(':'), 0, 0)};
    for (const QString& port :
         QString::fromLocal8Bit(lsp.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (!ours.contains(port.section(QLatin1Char(':'), 0, 0))) foreign << port;
    return foreign;
}

void E2ETest::SaveScreenshot(const QString& name) const
{
    if (!display_) return;
    const QString failure = Attempt([&] {
        const QString path = outputDir_ + QLatin1Char('/') + name + QStringLiteral(".png");
        if (display_->Screenshot().save(path))
            qWarning().noquote() << "screenshot of the failed step:" << path;
    });
    if (!failure.isEmpty()) qWarning().noquote() << "no screenshot:" << failure;
}

// ---------------------------------------------------------------- the user's steps

void E2ETest::startUpShowsTheWholeWindowAtRest()
{
    const QString failure = Attempt([&] {
        const QStringList windows = display_->Windows(QStringLiteral(".+"));
        Require(windows.size() == 1 ? QString() : QStringLiteral("more than the main window is showing"),
                QStringLiteral("starting the program"));
        const QImage client = ClientArea();
        // The octave strip pins the client area down: a black tick left of C1, red before it.
        const bool strip = (client.pixel(48, 97) & 0xFFFFFF) == 0x000000 &&
                           (client.pixel(30, 97) & 0xFFFFFF) == 0xFF0000 &&
                           (client.pixel(832, 97) & 0xFFFFFF) == 0x000000;
        Require(
            strip ? QString() : QStringLiteral("the octave strip is not at y 96 to 98 of the client area"),
            QStringLiteral("starting the program"));
        Require(WaitForKeys({}), QStringLiteral("starting the program"));
        // Its MIDI ports (and the built-in synthesizer's audio) are on the server:
        // the check at exit that they are gone means something.
        Require(ForeignPorts().isEmpty() ? QStringLiteral("the program has no port on the JACK server")
                                         : QString(),
                QStringLiteral("starting the program"));
    });
    E2E_CONCLUDE(failure);
}

void E2ETest::choosingThePeerAsMidiOut()
{
    const QString failure = Attempt([&] {
        // Entry 0 is the built-in synthesizer; the ports follow in the order the MIDI
        // server lists them, the program's own left out.
        int entry = 0;
        int position = 1;
        for (const QString& port : JackPeer::WritablePorts()) {
            if (port.startsWith(QLatin1String("Vantor"))) continue;
            if (port == peer_->RecordPort()) entry = position;
            ++position;
        }
        Require(entry > 0 ? QString() : QStringLiteral("the peer's port is not on the MIDI server"),
                QStringLiteral("choosing the output"));
        const QString action = QStringLiteral("choosing \"JACK: %1\" (entry %2) in Midi Out")
                                   .arg(peer_->RecordPort())
                                   .arg(entry);
        const qsizetype before = display_->WindowsOf(program_.processId()).size();
        Click(OutputDevComboAt);
        // The list drops down as a window of its own.
        QElapsedTimer timer;
        timer.start();
        while (display_->WindowsOf(program_.processId()).size() <= before && timer.elapsed() < 5000)
            Pause(100);
        Pause(200);
        QStringList keys{QStringLiteral("Home")};
        for (int i = 0; i < entry; ++i)
            keys << QStringLiteral("Down");
        keys << QStringLiteral("Return");
        display_->Keys(keys);
        const std::size_t mark = peer_->Count();
        Require(WaitForMessages(mark, Expected{}), action);

        // Midi Reset proves the choice: with no track selected it silences channel 16.
        Click(ResetMidiAt);
        Require(WaitForMessages(mark, Expected().Reset(0x8F)),
                action + QStringLiteral(", then clicking Midi Reset"));
    });
    E2E_CONCLUDE(failure);
}

void E2ETest::openingTheFileWithCtrlO()
{
    const QString failure = Attempt([&] {
        const QString action = QStringLiteral("opening %1 with Ctrl+O and the file dialog").arg(songPath_);
        const std::size_t mark = peer_->Count();
        Press({QStringLiteral("ctrl+o")});
        QStringList dialogs;
        QElapsedTimer timer;
        timer.start();
        while (dialogs.isEmpty() && timer.elapsed() < 15000) {
            dialogs = display_->Windows(QStringLiteral("^Open MIDI File$"));
            if (dialogs.isEmpty()) Pause(100);
        }
        Require(dialogs.isEmpty() ? QStringLiteral("no dialog \"Open MIDI File\" showed") : QString(),
                action);
        display_->Focus(dialogs.first());
        Pause(300);
        display_->Type(songPath_);
        // The name box's completer may swallow the first Return.
        for (int attempt = 0; attempt < 3 && !display_->Windows(QStringLiteral("^Open MIDI File$")).isEmpty();
             ++attempt) {
            display_->Keys({QStringLiteral("Return")});
            timer.restart();
            while (!display_->Windows(QStringLiteral("^Open MIDI File$")).isEmpty() && timer.elapsed() < 3000)
                Pause(100);
        }
        Require(display_->Windows(QStringLiteral("^Open MIDI File$")).isEmpty()
                    ? QString()
                    : QStringLiteral("the dialog stayed open after Return"),
                action);
        Pause(500);
        Require(display_->Windows(QStringLiteral(".+")).size() == 1
                    ? QString()
                    : QStringLiteral("another window showed (a message box?)"),
                action);
        // Selecting the track sounds nothing and leaves every key at rest.
        Require(WaitForMessages(mark, Expected{}), action);
        Require(WaitForKeys({}), action);
    });
    E2E_CONCLUDE(failure);
}

void E2ETest::steppingForwardNoteByNote()
{
    struct Step
    {
        std::vector<Bytes> sent;
        KeyColours lit;
    };
    const std::vector<Step> steps{
        {Events({2}), {{60, LitColour}}},
        {Events({3}), {{60, LitColour}, {64, LitColour}}},
        {Events({4}), {{60, LitColour}, {64, LitColour}, {67, LitColour}}},
        // The chord's note-offs go out on the way to the next note-on.
        {Events({5, 6, 7, 8}), {{62, LitColour}}},
    };
    const QString failure = Attempt([&] {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const QString action =
                QStringLiteral("space bar, note mode, step %1 from position %2").arg(i + 1).arg(i + 1);
            const std::size_t mark = peer_->Count();
            Press({QStringLiteral("space")});
            Require(WaitForMessages(mark, Expected().Then(steps[i].sent)), action);
            Require(WaitForKeys(steps[i].lit), action);
        }
    });
    E2E_CONCLUDE(failure);
}

void E2ETest::steppingForwardInChordMode()
{
    const QString failure = Attempt([&] {
        std::size_t mark = peer_->Count();
        Click(ChordModeAt);
        Require(WaitForMessages(mark, Expected{}), QStringLiteral("ticking Chord Mode"));

        // From the note-on where note mode stopped, the chord step plays it again.
        mark = peer_->Count();
        Press({QStringLiteral("space")});
        const QString first = QStringLiteral("space bar, Chord Mode, from position 8");
        Require(WaitForMessages(mark, Expected().Then(Events({8, 9, 10}))), first);
        Require(WaitForKeys({{62, LitColour}, {66, LitColour}, {69, LitColour}}), first);

        mark = peer_->Count();
        Press({QStringLiteral("space")});
        const QString second = QStringLiteral("space bar, Chord Mode, from position 11");
        Require(WaitForMessages(mark, Expected().Then(Events({11, 12, 13, 14}))), second);
        Require(WaitForKeys({{72, LitColour}}), second);
    });
    E2E_CONCLUDE(failure);
}

void E2ETest::steppingBackward()
{
    const QString failure = Attempt([&] {
        const QString action = QStringLiteral("clicking Step Backward in Chord Mode at position 15");
        const std::size_t mark = peer_->Count();
        Click(TagBackAt);
        // Silence, then the walk back in reverse file order down to the previous
        // chord's release point; the keys show that chord again.
        Require(WaitForMessages(mark, Expected().Reset(0x90).Then(Events({15, 14, 13, 12}))), action);
        Require(WaitForKeys({{62, LitColour}, {66, LitColour}, {69, LitColour}}), action);
    });
    E2E_CONCLUDE(failure);
}

void E2ETest::typingAStepNumber()
{
    const QString failure = Attempt([&] {
        const QString action = QStringLiteral("typing 3 over the step number 11");
        const std::size_t mark = peer_->Count();
        Click(TagNumberAt);
        Press({QStringLiteral("ctrl+a")});
        display_->Type(QStringLiteral("3"));
        Require(WaitForMessages(mark, Expected().Reset(0x90)), action);
        Require(WaitForKeys({}), action);
    });
    E2E_CONCLUDE(failure);
}

void E2ETest::settingAndReturningToTheMark()
{
    const QString failure = Attempt([&] {
        std::size_t mark = peer_->Count();
        Click(TagMarkAt);
        Require(WaitForMessages(mark, Expected{}), QStringLiteral("clicking Set Mark at position 3"));

        mark = peer_->Count();
        Press({QStringLiteral("space")});
        Require(WaitForMessages(mark, Expected().Then(Events({3, 4}))),
                QStringLiteral("space bar after Set Mark, Chord Mode, from position 3"));
        Require(WaitForKeys({{64, LitColour}, {67, LitColour}}),
                QStringLiteral("space bar after Set Mark, Chord Mode, from position 3"));

        mark = peer_->Count();
        Press({QStringLiteral("space")});
        Require(WaitForMessages(mark, Expected().Then(Events({5, 6, 7, 8, 9, 10}))),
                QStringLiteral("space bar, Chord Mode, from position 5"));

        // Back at the mark: only silence is sent, and the note held there is shown.
        const QString action = QStringLiteral("clicking Goto Mark (mark 3) at position 11");
        mark = peer_->Count();
        Click(TagGotoAt);
        Require(WaitForMessages(mark, Expected().Reset(0x90)), action);
        Require(WaitForKeys({{60, LitColour}}), action);
    });
    E2E_CONCLUDE(failure);
}

void E2ETest::playingAndStopping()
{
    const QString failure = Attempt([&] {
        std::size_t mark = peer_->Count();
        Click(TagStartAt);
        Require(WaitForMessages(mark, Expected().Reset(0x90)), QStringLiteral("clicking Goto Begin"));
        Require(WaitForKeys({}), QStringLiteral("clicking Goto Begin"));

        // Play, and Stop while the long C#5 sounds.
        const QString action = QStringLiteral("clicking Play at position 1, then Stop during the last note");
        mark = peer_->Count();
        Click(CmdPlayAt);
        const std::size_t played = 15;  // events 2 to 16
        QElapsedTimer timer;
        timer.start();
        while (peer_->Count() - mark < played && timer.elapsed() < ArrivalTimeoutMs)
            Pause(5);
        Require(peer_->Count() - mark >= played ? QString()
                                                : QStringLiteral("only %1 of the first %2 messages arrived")
                                                      .arg(peer_->Count() - mark)
                                                      .arg(played),
                action);
        Click(CmdStopAt);
        // Wait past the moment the last note-off was due, to see that the queue is silent.
        const std::vector<Arrival> early = peer_->Since(mark);
        const double sinceFirst =
            std::chrono::duration<double, std::milli>(Clock::now() - early.front().time).count();
        Pause(static_cast<int>(std::max(0.0, DueMs(17) - sinceFirst)) + 800);

        std::vector<Arrival> got;
        Require(WaitForMessages(
                    mark,
                    Expected().Then(Events({2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16})).Reset(0x90),
                    &got),
                action);

        // Every note sounding when Stop was clicked has been ended.
        std::map<std::pair<int, int>, bool> sounding;
        for (std::size_t i = 0; i < got.size(); ++i) {
            const Bytes& m = got[i].message;
            const int kind = m[0] & 0xF0, channel = m[0] & 0x0F;
            if (kind == 0x90 && m[2] > 0) sounding[{channel, m[1]}] = true;
            if (kind == 0x80 || (kind == 0x90 && m[2] == 0)) sounding[{channel, m[1]}] = false;
            if (kind == 0xB0 && m[1] == 123)
                for (auto& [key, on] : sounding)
                    if (key.first == channel) on = false;
        }
        for (const auto& [key, on] : sounding)
            Require(on ? QStringLiteral("note %1 on channel %2 still sounds")
                             .arg(NoteName(key.second))
                             .arg(key.first + 1)
                       : QString(),
                    action);

        // The played notes against the file's timing. Arrival times carry the
        // latency of the path to the peer; the median of (arrival - due) stands for
        // it, so one late first note does not shift every comparison.
        std::vector<double> lag;
        for (std::size_t i = 0; i < played; ++i)
            lag.push_back(std::chrono::duration<double, std::milli>(got[i].time - got[0].time).count() -
                          DueMs(static_cast<int>(i) + 2));
        std::vector<double> sorted = lag;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(played / 2),
                         sorted.end());
        const double latency = sorted[played / 2];
        double worst = 0.0;
        QStringList late;
        for (std::size_t i = 0; i < played; ++i) {
            const double deviation = lag[i] - latency;
            worst = std::max(worst, std::abs(deviation));
            if (std::abs(deviation) > PlaybackToleranceMs)
                late << QStringLiteral("event %1 is %2 ms off").arg(i + 2).arg(deviation, 0, 'f', 1);
        }
        qInfo(
            "playback timing: worst deviation from the file's spacing %.1f ms over %zu notes (tolerance %.0f "
            "ms)",
            worst, played, PlaybackToleranceMs);
        Require(late.isEmpty() ? QString()
                               : QStringLiteral("notes off the file's timing by more than %1 ms: %2")
                                     .arg(PlaybackToleranceMs)
                                     .arg(late.join(QStringLiteral("; "))),
                action);
        Require(WaitForKeys({}), action);
    });
    E2E_CONCLUDE(failure);
}

void E2ETest::aChordPlayedOnThePeer()
{
    const QString failure = Attempt([&] {
        // Channel 2, three velocities: the echo must keep every byte.
        const std::vector<Bytes> press{Msg(0x91, 60, 80), Msg(0x91, 64, 81), Msg(0x91, 67, 82)};
        const std::vector<Bytes> release{Msg(0x81, 60, 0), Msg(0x91, 64, 0), Msg(0x81, 67, 127)};
        std::size_t mark = peer_->Count();
        for (const Bytes& m : press)
            peer_->Play(m);
        const QString pressed = QStringLiteral("the peer pressing C4 E4 G4 on channel 2");
        Require(WaitForMessages(mark, Expected().Then(press)), pressed);
        Require(WaitForKeys({{60, PressedColour}, {64, PressedColour}, {67, PressedColour}}), pressed);

        mark = peer_->Count();
        for (const Bytes& m : release)
            peer_->Play(m);
        const QString released = QStringLiteral("the peer releasing C4 E4 G4 (one as a velocity-0 note-on)");
        Require(WaitForMessages(mark, Expected().Then(release)), released);
        Require(WaitForKeys({}), released);
    });
    E2E_CONCLUDE(failure);
}

void E2ETest::theStepKeysOfThePeerKeyboard()
{
    const QString failure = Attempt([&] {
        const KeyColours chord{{60, LitColour}, {64, LitColour}, {67, LitColour}};

        // C8 steps forward (Chord Mode, from position 1) before its own echo.
        std::size_t mark = peer_->Count();
        peer_->Play(Msg(0x90, 108, 100));
        const QString c8 = QStringLiteral("the peer pressing C8 at position 1");
        Require(WaitForMessages(mark, Expected().Then(Events({2, 3, 4})).Then(Msg(0x90, 108, 100))), c8);
        KeyColours shown = chord;
        shown[108] = PressedColour;
        Require(WaitForKeys(shown), c8);

        mark = peer_->Count();
        peer_->Play(Msg(0x80, 108, 64));
        Require(WaitForMessages(mark, Expected().Then(Msg(0x80, 108, 64))),
                QStringLiteral("the peer releasing C8"));
        Require(WaitForKeys(chord), QStringLiteral("the peer releasing C8"));

        // A key of the chord shown by stepping goes back to lit, not to rest.
        mark = peer_->Count();
        peer_->Play(Msg(0x90, 64, 48));
        shown = chord;
        shown[64] = PressedColour;
        Require(WaitForMessages(mark, Expected().Then(Msg(0x90, 64, 48))),
                QStringLiteral("the peer pressing E4"));
        Require(WaitForKeys(shown), QStringLiteral("the peer pressing E4"));
        mark = peer_->Count();
        peer_->Play(Msg(0x80, 64, 0));
        Require(WaitForMessages(mark, Expected().Then(Msg(0x80, 64, 0))),
                QStringLiteral("the peer releasing E4"));
        Require(WaitForKeys(chord), QStringLiteral("the peer releasing E4"));

        // B7 steps back: silence, the walk back to position 1, then the echo.
        mark = peer_->Count();
        peer_->Play(Msg(0x90, 107, 100));
        const QString b7 = QStringLiteral("the peer pressing B7 at position 5");
        Require(WaitForMessages(mark,
                                Expected().Reset(0x90).Then(Events({5, 4, 3, 2})).Then(Msg(0x90, 107, 100))),
                b7);
        Require(WaitForKeys({{107, PressedColour}}), b7);

        mark = peer_->Count();
        peer_->Play(Msg(0x80, 107, 64));
        Require(WaitForMessages(mark, Expected().Then(Msg(0x80, 107, 64))),
                QStringLiteral("the peer releasing B7"));
        Require(WaitForKeys({}), QStringLiteral("the peer releasing B7"));
    });
    E2E_CONCLUDE(failure);
}

void E2ETest::exitingThroughTheFileMenu()
{
    const QString action = QStringLiteral("File > Exit with Alt+F, X");
    const QString failure = Attempt([&] {
        Press({QStringLiteral("alt+f")});
        Pause(500);
        display_->Keys({QStringLiteral("x")});
    });
    QVERIFY2(failure.isEmpty(), qPrintable(action + QStringLiteral(": ") + failure));
    const qint64 pid = program_.processId();
    QVERIFY2(program_.waitForFinished(ExitTimeoutMs),
             qPrintable(action + QStringLiteral(": the program is still running after 30 s\n") + Trouble()));
    QVERIFY2(program_.exitStatus() == QProcess::NormalExit && program_.exitCode() == 0,
             qPrintable(action +
                        QStringLiteral(": the program ended with exit code %1%2\n")
                            .arg(program_.exitCode())
                            .arg(program_.exitStatus() == QProcess::CrashExit ? QStringLiteral(" (crashed)")
                                                                              : QString()) +
                        Trouble()));
    QVERIFY2(::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH,
             "the program's process is still there");

    QFile log(outputDir_ + QStringLiteral("/vantor-stderr.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromLocal8Bit(log.readAll());
    static const QRegularExpression sanitizer(
        QStringLiteral("ERROR: (Address|Leak)Sanitizer|runtime error:"));
    QVERIFY2(!sanitizer.match(text).hasMatch(),
             qPrintable(QStringLiteral("a sanitizer report: ") + text.right(3000)));

    // Nothing of the program stays on the MIDI server: its clients went with it.
    QStringList left;
    const QString listed = Attempt([&] {
        QElapsedTimer timer;
        timer.start();
        do {
            left = ForeignPorts();
            if (!left.isEmpty()) Pause(100);
        } while (!left.isEmpty() && timer.elapsed() < 5000);
    });
    QVERIFY2(listed.isEmpty(), qPrintable(listed));
    QVERIFY2(left.isEmpty(),
             qPrintable(QStringLiteral("ports left on the JACK server: ") + left.join(QStringLiteral(", "))));
    const qint64 server = display_->ServerPid();
    QVERIFY2(display_->Stop(), "the X server did not end");
    QVERIFY2(::kill(static_cast<pid_t>(server), 0) != 0, "the X server's process is still there");

    // The program keeps no settings and writes no files: its home, configuration
    // and working folder hold only the song the test put there.
    QStringList written;
    QDirIterator files(home_.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next();
        if (file != songPath_) written << QDir(home_.path()).relativeFilePath(file);
    }
    QVERIFY2(written.isEmpty(),
             qPrintable(QStringLiteral("the program wrote ") + written.join(QStringLiteral(", "))));
}

QTEST_GUILESS_MAIN(E2ETest)
#include "test_e2e.moc"
