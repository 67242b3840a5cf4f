// The real program, end to end: the vantor binary in a private X server, talking
// MIDI through a private JACK server to a peer that this test plays itself. The
// test drives the program only as a user would (keys, clicks at the controls'
// places, screenshots) and checks what reaches the peer and what the screen shows.
//
// The JACK server runs in synchronous mode: in the default asynchronous mode a
// client that misses its period (common on a loaded two-core machine) has its MIDI
// buffer read while it is rewritten, and whole periods arrive doubled or not at all.
// Tolerances, set for the sanitizer build on two cores (the test runs alone):
// every message an action causes must reach the peer within 10 s; "nothing more
// arrives" is judged after 400 ms without a message; the screen must show the
// expected indicators within 8 s; each played note must arrive within
// PlaybackToleranceMs of the file's spacing, measured against the median latency
// (the JACK period, 5.3 ms at -p 256, quantises arrivals; the rest is scheduling).

#include <RtMidi.h>
#include <sys/prctl.h>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "support/SmfWriter.h"

using vantor::test::SmfWriter;

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using Messages = std::vector<Bytes>;
using KeyColours = std::map<int, QRgb>;  // indicators that differ from the key's resting colour

constexpr int ClientWidth = 866;
constexpr int ClientHeight = 185;
constexpr int ArrivalTimeoutMs = 10000;
constexpr int QuietMs = 400;
constexpr int ScreenTimeoutMs = 8000;
constexpr double PlaybackToleranceMs = 15.0;
constexpr QRgb Lit = 0x404040;
constexpr QRgb Pressed = 0x0000A0;

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

Bytes Msg(int status, int data1, int data2)
{
    return {static_cast<std::uint8_t>(status), static_cast<std::uint8_t>(data1),
            static_cast<std::uint8_t>(data2)};
}

// The practice track ("Right hand"): event 1 is its name, these are events 2 to 17.
constexpr int TempoMicroseconds = 500000;
constexpr int Division = 96;
const std::vector<std::pair<std::uint32_t, Bytes>> Melody{
    {0, Msg(0x90, 60, 100)},  {0, Msg(0x90, 64, 90)},
    {0, Msg(0x90, 67, 80)},  // 2-4 chord C E G
    {96, Msg(0x80, 60, 64)},  {0, Msg(0x80, 64, 64)},
    {0, Msg(0x80, 67, 64)},  // 5-7
    {0, Msg(0x90, 62, 100)},  {0, Msg(0x90, 66, 100)},
    {0, Msg(0x90, 69, 100)},  // 8-10 chord D F# A
    {96, Msg(0x90, 62, 0)},   {0, Msg(0x80, 66, 64)},
    {0, Msg(0x80, 69, 64)},                              // 11-13, a velocity-0 release
    {0, Msg(0x90, 72, 110)},  {48, Msg(0x80, 72, 64)},   // 14-15
    {48, Msg(0x90, 73, 100)}, {192, Msg(0x80, 73, 64)},  // 16-17 a long C#5
};

Messages Events(std::initializer_list<int> indexes)
{
    Messages messages;
    for (const int k : indexes)
        messages.push_back(Melody.at(static_cast<std::size_t>(k - 2)).second);
    return messages;
}

// When the program's timed queue is due to send event k after Play at event 1:
// milliseconds per tick in single precision, times the ticks, floored.
double DueMs(int k)
{
    const float msPerTick = static_cast<float>(TempoMicroseconds / 1000.0 / Division);
    std::int64_t ticks = 0;
    for (int i = 2; i <= k; ++i)
        ticks += Melody.at(static_cast<std::size_t>(i - 2)).first;
    return std::floor(static_cast<double>(msPerTick) * static_cast<double>(ticks));
}

// Midi Reset: sustain off, a velocity-0 note-on of every note on the selected
// track's channel, then sustain off and All Notes Off on each of the 16 channels.
Messages Reset(int noteStatus)
{
    Messages reset{Msg(0xB0, 64, 0)};
    for (int note = 0; note < 128; ++note)
        reset.push_back(Msg(noteStatus, note, 0));
    for (int channel = 0; channel < 16; ++channel) {
        reset.push_back(Msg(0xB0 | channel, 64, 0));
        reset.push_back(Msg(0xB0 | channel, 123, 0));
    }
    return reset;
}

Messages operator+(Messages a, const Messages& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

QString Hex(const Bytes& message)
{
    QStringList bytes;
    for (const std::uint8_t b : message)
        bytes << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return bytes.join(QLatin1Char(' '));
}

// The per-channel tail of a Midi Reset may come in any order: each run of
// sustain-off and All Notes Off messages is compared as a set.
Messages Normalised(Messages messages)
{
    const auto channelWide = [](const Bytes& m) {
        return m.size() == 3 && (m[0] & 0xF0) == 0xB0 && (m[1] == 64 || m[1] == 123) && m[2] == 0;
    };
    for (auto it = messages.begin(); it != messages.end();) {
        const auto end = std::find_if_not(it, messages.end(), channelWide);
        std::sort(it, end);
        it = end == it ? it + 1 : end;
    }
    return messages;
}

QString Mismatch(const Messages& gotRaw, const Messages& wantRaw)
{
    const Messages got = Normalised(gotRaw), want = Normalised(wantRaw);
    if (got == want) return {};
    const std::size_t at =
        std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin();
    QStringList near;
    for (std::size_t i = at >= 3 ? at - 3 : 0; i < got.size() && i < at + 5; ++i)
        near << QStringLiteral("[%1] %2").arg(i).arg(Hex(got[i]));
    return QStringLiteral("the MIDI peer received %1 messages, %2 expected; message %3 should be %4; got: %5")
        .arg(got.size())
        .arg(want.size())
        .arg(at)
        .arg(at < want.size() ? Hex(want[at]) : QStringLiteral("nothing"))
        .arg(near.isEmpty() ? QStringLiteral("(nothing)") : near.join(QStringLiteral(", ")));
}

bool IsBlackKey(int note)
{
    const int pc = note % 12;
    return pc == 1 || pc == 3 || pc == 6 || pc == 8 || pc == 10;
}

QString NoteName(int note)
{
    static const QStringList names{QStringLiteral("C"),  QStringLiteral("C#"), QStringLiteral("D"),
                                   QStringLiteral("D#"), QStringLiteral("E"),  QStringLiteral("F"),
                                   QStringLiteral("F#"), QStringLiteral("G"),  QStringLiteral("G#"),
                                   QStringLiteral("A"),  QStringLiteral("A#"), QStringLiteral("B")};
    return QStringLiteral("%1%2(%3)").arg(names[note % 12]).arg(note / 12 - 1).arg(note);
}

// The 9 x 9 indicator square of a key (client-area pixels), notes 21..108.
QRect IndicatorRect(int note)
{
    const int base = IsBlackKey(note) ? note - 1 : note;  // a black key stands on the white key left of it
    int whites = 0;
    for (int n = 21; n < base; ++n)
        whites += IsBlackKey(n) ? 0 : 1;
    const int x = 16 + 16 * whites;
    if (!IsBlackKey(note)) return {x + 4, 158, 9, 9};
    static const std::map<int, int> offset{{1, 11}, {3, 13}, {6, 10}, {8, 12}, {10, 14}};
    return {x + offset.at(note % 12), 138, 9, 9};
}

// Every indicator against `expected`: empty when all 88 match, else one entry per wrong key.
QString IndicatorMismatch(const QImage& client, const KeyColours& expected)
{
    QStringList wrong;
    for (int note = 21; note <= 108; ++note) {
        const auto it = expected.find(note);
        const QRgb want = (it != expected.end() ? it->second : IsBlackKey(note) ? 0xC0C0C0 : 0xFFFFFF);
        const QRect square = IndicatorRect(note);
        int bad = 0;
        QRgb seen = want;
        for (int y = square.top(); y <= square.bottom(); ++y)
            for (int x = square.left(); x <= square.right(); ++x)
                if (const QRgb pixel = client.pixel(x, y) & 0xFFFFFF; pixel != want && bad++ == 0)
                    seen = pixel;
        if (bad > 0)
            wrong << QStringLiteral("%1 should show #%2 but %3 of 81 pixels differ (e.g. #%4)")
                         .arg(NoteName(note))
                         .arg(want, 6, 16, QLatin1Char('0'))
                         .arg(bad)
                         .arg(seen, 6, 16, QLatin1Char('0'));
    }
    return wrong.join(QStringLiteral("; "));
}

void Require(bool ok, const QString& problem)
{
    if (!ok) throw std::runtime_error(problem.toStdString());
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

// Waits up to timeoutMs for `done`, checking every stepMs.
bool WaitFor(const std::function<bool()>& done, int timeoutMs, int stepMs = 100)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        Pause(stepMs);
    }
    return true;
}

// A helper process that must not outlive this one, whatever ends it.
void Launch(QProcess& process, const QString& program, const QStringList& arguments)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.start(program, arguments);
    Require(process.waitForStarted(10000),
            program + QStringLiteral(" did not start: ") + process.errorString());
}

bool Stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning) return true;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
    return process.state() == QProcess::NotRunning;
}

// Runs a tool to its end; its standard output, or a throw when it fails (exit code
// 1 allowed where `oneIsEmpty`: xdotool search answers 1 when nothing matches).
QString Run(const QString& display, const QString& program, const QStringList& arguments,
            bool oneIsEmpty = false)
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!display.isEmpty()) environment.insert(QStringLiteral("DISPLAY"), display);
    tool.setProcessEnvironment(environment);
    tool.start(program, arguments);
    const bool finished = tool.waitForFinished(60000);
    if (!finished) tool.kill();
    const int code = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    Require(finished && (code == 0 || (oneIsEmpty && code == 1)),
            QStringLiteral("%1 %2 failed (exit code %3): %4")
                .arg(program, arguments.join(QLatin1Char(' ')))
                .arg(code)
                .arg(QString::fromLocal8Bit(tool.readAllStandardError()).trimmed()));
    return QString::fromLocal8Bit(tool.readAllStandardOutput());
}

// The other program on the MIDI server: one JACK client records every message that
// reaches its input port with its arrival time, another plays notes from its output.
class Peer
{
public:
    static constexpr const char* RecordPort = "E2EPeer:record";
    static constexpr const char* PlayPort = "E2EPeerKeys:play";

    Peer()
    {
        in_.ignoreTypes(false, false, false);
        in_.setCallback(&Peer::OnMessage, this);
        in_.openVirtualPort("record");
        out_.openVirtualPort("play");
    }
    ~Peer() { in_.cancelCallback(); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    void Play(const Messages& messages)
    {
        for (Bytes m : messages)
            out_.sendMessage(&m);
    }
    std::size_t Count() const
    {
        const std::lock_guard lock(mutex_);
        return received_.size();
    }
    std::vector<std::pair<Clock::time_point, Bytes>> Since(std::size_t from) const
    {
        const std::lock_guard lock(mutex_);
        return {received_.begin() + static_cast<std::ptrdiff_t>(std::min(from, received_.size())),
                received_.end()};
    }
    // The MIDI ports a program could write to, in the order a program using RtMidi lists them.
    static QStringList WritablePorts()
    {
        RtMidiOut probe(RtMidi::UNIX_JACK, "E2EProbe");
        QStringList names;
        for (unsigned int i = 0; i < probe.getPortCount(); ++i)
            names << QString::fromStdString(probe.getPortName(i));
        return names;
    }

private:
    static void OnMessage(double, std::vector<unsigned char>* message, void* self)
    {
        // Runs on the JACK process thread: the arrival time is taken at once.
        const auto now = Clock::now();
        auto* peer = static_cast<Peer*>(self);
        const std::lock_guard lock(peer->mutex_);
        peer->received_.emplace_back(now, Bytes(message->begin(), message->end()));
    }

    RtMidiIn in_{RtMidi::UNIX_JACK, "E2EPeer", 4096};
    RtMidiOut out_{RtMidi::UNIX_JACK, "E2EPeerKeys"};
    mutable std::mutex mutex_;
    std::vector<std::pair<Clock::time_point, Bytes>> received_;
};

}  // namespace

// Every step runs its body, turning a throw into a failure that names the action.
#define E2E_STEP(...) QVERIFY2(Annotated(Attempt([&] __VA_ARGS__)).isEmpty(), qPrintable(lastFailure_))

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
    QString X(const QStringList& arguments) const
    {
        return Run(display_, QStringLiteral("xdotool"), arguments);
    }
    QStringList Windows(const QStringList& criteria) const
    {
        return Run(display_, QStringLiteral("xdotool"),
                   QStringList{QStringLiteral("search"), QStringLiteral("--onlyvisible")} + criteria, true)
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QStringList Named(const QString& pattern) const { return Windows({QStringLiteral("--name"), pattern}); }
    void Keys(const QStringList& keys) const
    {
        X(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60")} + keys);
    }
    void Press(const QStringList& keys) const
    {
        // There is no window manager: the keyboard goes where we say.
        X({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window_});
        Keys(keys);
    }
    void Type(const QString& text) const
    {
        X({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"), text});
    }
    void ParkPointer() const
    {
        X({QStringLiteral("mousemove"), QStringLiteral("--sync"), QStringLiteral("1270"),
           QStringLiteral("790")});
    }
    void Click(QPoint client) const;
    QRect Geometry() const;
    QImage Screenshot() const;
    QImage ClientArea() const
    {
        return Screenshot().copy(QRect(clientOrigin_, QSize(ClientWidth, ClientHeight)));
    }
    void ExpectKeys(const KeyColours& expected, const QString& action) const;
    Messages ExpectMessages(std::size_t mark, const Messages& expected, const QString& action) const;
    // One user action: what the peer must receive after it, and the keys it leaves lit.
    void Step(const QString& action, const std::function<void()>& act, const Messages& sent,
              const KeyColours& lit)
    {
        const std::size_t mark = peer_->Count();
        act();
        ExpectMessages(mark, sent, action);
        ExpectKeys(lit, action);
    }
    QStringList ForeignPorts() const;
    QString Trouble() const;
    void SaveScreenshot(const QString& name) const;
    int Overruns() const;
    QString Annotated(const QString& failure);

    QProcess jack_, xvfb_, program_;
    std::unique_ptr<Peer> peer_;
    QTemporaryDir home_{QDir::tempPath() + QStringLiteral("/vantor-e2e-XXXXXX")};
    QString outputDir_, songPath_, display_, window_, lastFailure_;
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
    QVERIFY(home_.isValid() && QDir(home_.path()).mkpath(QStringLiteral("runtime")));
    QVERIFY(QFile::setPermissions(home_.filePath(QStringLiteral("runtime")),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    const QString binary = qEnvironmentVariable("VANTOR_BUILD_DIR") + QStringLiteral("/src/vantor");
    QVERIFY2(QFileInfo(binary).isExecutable(), qPrintable(QStringLiteral("no program at ") + binary));

    E2E_STEP({
        const QString server = QStringLiteral("vantor_e2e_%1").arg(QCoreApplication::applicationPid());
        qputenv("JACK_DEFAULT_SERVER", server.toLocal8Bit());
        qputenv("JACK_NO_START_SERVER", "1");
        jack_.setStandardOutputFile(outputDir_ + QStringLiteral("/jackd.log"));
        jack_.setStandardErrorFile(outputDir_ + QStringLiteral("/jackd.log"), QIODevice::Append);
        Launch(jack_, QStringLiteral("jackd"),
               QStringLiteral("-n %1 -S --no-realtime -d dummy -r 48000 -p 256")
                   .arg(server)
                   .split(QLatin1Char(' ')));
        Run({}, QStringLiteral("jack_wait"),
            {QStringLiteral("--wait"), QStringLiteral("--timeout"), QStringLiteral("10")});

        // -displayfd writes the display number it took once the server accepts clients.
        Launch(xvfb_, QStringLiteral("Xvfb"),
               QStringLiteral("-displayfd 1 -screen 0 1280x800x24 -nolisten tcp").split(QLatin1Char(' ')));
        QByteArray number;
        Require(WaitFor(
                    [&] {
                        xvfb_.waitForReadyRead(200);
                        number += xvfb_.readAllStandardOutput();
                        Require(xvfb_.state() == QProcess::Running, QStringLiteral("Xvfb ended at start-up"));
                        return number.contains('\n');
                    },
                    15000, 0) &&
                    number.contains('\n'),
                QStringLiteral("Xvfb gave no display number: ") +
                    QString::fromLocal8Bit(xvfb_.readAllStandardError()));
        display_ = QLatin1Char(':') + QString::fromLatin1(number.trimmed());

        // The peer's ports exist before the program starts, so its lists show them.
        peer_ = std::make_unique<Peer>();
        Require(Peer::WritablePorts().contains(QLatin1String(Peer::RecordPort)),
                QStringLiteral("the peer's port does not show in the JACK graph"));
    });

    SmfWriter writer(1, Division);
    writer.AddTrack().Name(0, "Tempo").Tempo(0, TempoMicroseconds);
    auto& hand = writer.AddTrack().Name(0, "Right hand");
    for (const auto& [delta, message] : Melody)
        hand.Raw(delta, message);
    songPath_ = SmfWriter::WriteFile(home_, QStringLiteral("practice.mid"), writer.Bytes());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display_);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home_.filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("HOME"), home_.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home_.filePath(QStringLiteral("config")));
    program_.setProcessEnvironment(environment);
    program_.setWorkingDirectory(home_.path());
    program_.setStandardOutputFile(outputDir_ + QStringLiteral("/vantor-stdout.log"));
    program_.setStandardErrorFile(outputDir_ + QStringLiteral("/vantor-stderr.log"));
    E2E_STEP({
        Launch(program_, binary, {});
        Require(WaitFor(
                    [&] {
                        Require(program_.state() == QProcess::Running,
                                QStringLiteral("vantor ended at start-up"));
                        return !Named(QStringLiteral("^Vantor Piano Tutor$")).isEmpty();
                    },
                    60000),
                QStringLiteral("the main window \"Vantor Piano Tutor\" did not show within 60 s"));
        window_ = Named(QStringLiteral("^Vantor Piano Tutor$")).first();
        // Without a window manager the window sits where it was put and has no frame:
        // the client area is its bottom 185 rows, under the menu bar.
        QRect geometry;
        WaitFor(
            [&] {
                const QRect now = Geometry();
                return std::exchange(geometry, now) == now;
            },
            3000, 150);
        Require(geometry.width() == ClientWidth && geometry.height() > ClientHeight,
                QStringLiteral(
                    "the window is %1 x %2; the layout wants an 866 x 185 client area under the menu bar")
                    .arg(geometry.width())
                    .arg(geometry.height()));
        clientOrigin_ = QPoint(geometry.x(), geometry.y() + geometry.height() - ClientHeight);
        ParkPointer();
    });
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

void E2ETest::cleanupTestCase()
{
    if (!started_) {
        SaveScreenshot(QStringLiteral("initTestCase"));
        qWarning().noquote() << "state after the failed start:" << Trouble();
    }
    Stop(program_);
    peer_.reset();
    Stop(xvfb_);
    Stop(jack_);
}

int E2ETest::Overruns() const
{
    // Periods in which some client had not finished, as the JACK server logged them.
    QFile log(outputDir_ + QStringLiteral("/jackd.log"));
    return log.open(QIODevice::ReadOnly) ? static_cast<int>(log.readAll().count("XRun")) : 0;
}

QString E2ETest::Annotated(const QString& failure)
{
    // Overruns beside a failure tell a loaded machine from a fault of the program.
    const int overruns = Overruns() - overrunsAtStart_;
    lastFailure_ =
        failure.isEmpty() || overruns == 0
            ? failure
            : failure +
                  QStringLiteral(" [the JACK server logged %1 overruns during this step]").arg(overruns);
    return lastFailure_;
}

void E2ETest::Click(QPoint client) const
{
    // At a human pace: the pointer rests on the control before the button goes
    // down, and the button stays down a moment.
    const QPoint at = clientOrigin_ + client;
    X({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(at.x()),
       QString::number(at.y())});
    Pause(150);
    X({QStringLiteral("mousedown"), QStringLiteral("1")});
    Pause(80);
    X({QStringLiteral("mouseup"), QStringLiteral("1")});
    ParkPointer();
}

QRect E2ETest::Geometry() const
{
    QMap<QString, int> values;
    for (const QString& line : X({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window_})
                                   .split(QLatin1Char('\n')))
        values[line.section(QLatin1Char('='), 0, 0)] = line.section(QLatin1Char('='), 1).toInt();
    return {values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")),
            values.value(QStringLiteral("WIDTH")), values.value(QStringLiteral("HEIGHT"))};
}

QImage E2ETest::Screenshot() const
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display_);
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral("import"),
               {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("png:-")});
    const bool finished = tool.waitForFinished(20000);
    if (!finished) tool.kill();
    const QImage image = QImage::fromData(tool.readAllStandardOutput(), "PNG");
    Require(finished && !image.isNull(), QStringLiteral("import -window root gave no screenshot"));
    return image.convertToFormat(QImage::Format_RGB32);
}

void E2ETest::ExpectKeys(const KeyColours& expected, const QString& action) const
{
    QString problem;
    WaitFor([&] { return (problem = IndicatorMismatch(ClientArea(), expected)).isEmpty(); }, ScreenTimeoutMs,
            150);
    Require(problem.isEmpty(),
            action + QStringLiteral(": the keyboard shows the wrong indicators: ") + problem);
}

Messages E2ETest::ExpectMessages(std::size_t mark, const Messages& expected, const QString& action) const
{
    WaitFor([&] { return peer_->Count() - mark >= expected.size(); }, ArrivalTimeoutMs, 20);
    // Then a quiet spell, so that anything sent beyond what is expected shows too.
    for (std::size_t before = 0, after = peer_->Count(); after != before; after = peer_->Count()) {
        before = after;
        Pause(QuietMs);
    }
    Messages got;
    for (const auto& arrival : peer_->Since(mark))
        got.push_back(arrival.second);
    const QString problem = Mismatch(got, expected);
    Require(problem.isEmpty(), action + QStringLiteral(": ") + problem);
    return got;
}

QStringList E2ETest::ForeignPorts() const
{
    // Every port on the server that is neither the driver's nor the peer's.
    QStringList foreign;
    const QStringList ours{QStringLiteral("system"), QStringLiteral("E2EPeer"),
                           QStringLiteral("E2EPeerKeys")};
    QString listing;
    Require(
        WaitFor([&] { return Attempt([&] { listing = Run({}, QStringLiteral("jack_lsp"), {}); }).isEmpty(); },
                3000, 200),
        QStringLiteral("jack_lsp cannot list the JACK server's ports"));
    for (const QString& port : listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (!ours.contains(port.section(QLatin1Char(':'), 0, 0))) foreign << port;
    return foreign;
}

QString E2ETest::Trouble() const
{
    QStringList notes;
    if (program_.state() == QProcess::NotRunning)
        notes << QStringLiteral("vantor has ended (exit code %1)").arg(program_.exitCode());
    if (!display_.isEmpty() && xvfb_.state() == QProcess::Running) {
        QStringList names;
        const QString failure = Attempt([&] {
            for (const QString& window : Named(QStringLiteral(".+")))
                names << X({QStringLiteral("getwindowname"), window}).trimmed();
        });
        notes << (failure.isEmpty()
                      ? QStringLiteral("windows on the screen: ") + names.join(QStringLiteral(" | "))
                      : failure);
    }
    QFile log(outputDir_ + QStringLiteral("/vantor-stderr.log"));
    if (log.open(QIODevice::ReadOnly))
        notes << QStringLiteral("vantor's stderr ends: ") + QString::fromLocal8Bit(log.readAll().right(1500));
    return notes.join(QLatin1Char('\n'));
}

void E2ETest::SaveScreenshot(const QString& name) const
{
    if (xvfb_.state() != QProcess::Running) return;
    const QString path = outputDir_ + QLatin1Char('/') + name + QStringLiteral(".png");
    const QString failure =
        Attempt([&] { Require(Screenshot().save(path), QStringLiteral("cannot save ") + path); });
    qWarning().noquote() << (failure.isEmpty() ? QStringLiteral("screenshot of the failed step: ") + path
                                               : failure);
}

// ---------------------------------------------------------------- the user's steps

void E2ETest::startUpShowsTheWholeWindowAtRest()
{
    E2E_STEP({
        const QString action = QStringLiteral("starting the program: ");
        Require(Named(QStringLiteral(".+")).size() == 1,
                action + QStringLiteral("more than the main window is showing"));
        // The octave strip pins the client area down: a black tick left of C1, red before it.
        const QImage client = ClientArea();
        Require((client.pixel(48, 97) & 0xFFFFFF) == 0x000000 &&
                    (client.pixel(30, 97) & 0xFFFFFF) == 0xFF0000 &&
                    (client.pixel(832, 97) & 0xFFFFFF) == 0x000000,
                action + QStringLiteral("the octave strip is not at y 96 to 98 of the client area"));
        ExpectKeys({}, action);
        // Its MIDI ports are on the server, so the check at exit that they are gone means something.
        Require(!ForeignPorts().isEmpty(),
                action + QStringLiteral("the program has no port on the JACK server"));
    });
}

void E2ETest::choosingThePeerAsMidiOut()
{
    E2E_STEP({
        // Entry 0 is the built-in synthesizer; the ports follow in the order the MIDI
        // server lists them, the program's own left out.
        QStringList ports = Peer::WritablePorts().filter(QRegularExpression(QStringLiteral("^(?!Vantor)")));
        const qsizetype entry = ports.indexOf(QLatin1String(Peer::RecordPort)) + 1;
        Require(entry > 0, QStringLiteral("the peer's port is not on the MIDI server"));
        const QString action = QStringLiteral("choosing \"JACK: %1\" (entry %2) in Midi Out")
                                   .arg(QLatin1String(Peer::RecordPort))
                                   .arg(entry);
        Step(action,
             [&] {
                 const QStringList pid{QStringLiteral("--pid"), QString::number(program_.processId())};
                 const qsizetype before = Windows(pid).size();
                 Click(OutputDevComboAt);
                 // The list drops down as a window of its own.
                 WaitFor([&] { return Windows(pid).size() > before; }, 5000);
                 Pause(200);
                 Keys(QStringList{QStringLiteral("Home")} + QStringList(entry, QStringLiteral("Down")) +
                      QStringList{QStringLiteral("Return")});
             },
             {}, {});
        // Midi Reset proves the choice: with no track selected it silences channel 16.
        Step(action + QStringLiteral(", then clicking Midi Reset"), [&] { Click(ResetMidiAt); }, Reset(0x8F),
             {});
    });
}

void E2ETest::openingTheFileWithCtrlO()
{
    E2E_STEP({
        const QString action = QStringLiteral("opening %1 with Ctrl+O and the file dialog").arg(songPath_);
        const QString dialog = QStringLiteral("^Open MIDI File$");
        // Selecting the track sounds nothing and leaves every key at rest.
        Step(action,
             [&] {
                 Press({QStringLiteral("ctrl+o")});
                 Require(WaitFor([&] { return !Named(dialog).isEmpty(); }, 15000),
                         action + QStringLiteral(": no dialog \"Open MIDI File\" showed"));
                 X({QStringLiteral("windowfocus"), QStringLiteral("--sync"), Named(dialog).first()});
                 Pause(300);
                 Type(songPath_);
                 // The name box's completer may swallow the first Return.
                 for (int attempt = 0; attempt < 3 && !Named(dialog).isEmpty(); ++attempt) {
                     Keys({QStringLiteral("Return")});
                     WaitFor([&] { return Named(dialog).isEmpty(); }, 3000);
                 }
                 Require(Named(dialog).isEmpty(),
                         action + QStringLiteral(": the dialog stayed open after Return"));
                 Pause(500);
                 Require(Named(QStringLiteral(".+")).size() == 1,
                         action + QStringLiteral(": another window showed (a message box?)"));
             },
             {}, {});
    });
}

void E2ETest::steppingForwardNoteByNote()
{
    const KeyColours ce{{60, Lit}, {64, Lit}};
    const std::vector<std::pair<Messages, KeyColours>> steps{
        {Events({2}), {{60, Lit}}},
        {Events({3}), ce},
        {Events({4}), {{60, Lit}, {64, Lit}, {67, Lit}}},
        // The chord's note-offs go out on the way to the next note-on.
        {Events({5, 6, 7, 8}), {{62, Lit}}},
    };
    E2E_STEP({
        for (std::size_t i = 0; i < steps.size(); ++i)
            Step(
                QStringLiteral("space bar, note mode, step %1 from position %1").arg(i + 1),
                [&] { Press({QStringLiteral("space")}); }, steps[i].first, steps[i].second);
    });
}

void E2ETest::steppingForwardInChordMode()
{
    const auto space = [&] { Press({QStringLiteral("space")}); };
    E2E_STEP({
        Step(QStringLiteral("ticking Chord Mode"), [&] { Click(ChordModeAt); }, {}, {{62, Lit}});
        // From the note-on where note mode stopped, the chord step plays it again.
        Step(QStringLiteral("space bar, Chord Mode, from position 8"), space, Events({8, 9, 10}),
             {{62, Lit}, {66, Lit}, {69, Lit}});
        Step(QStringLiteral("space bar, Chord Mode, from position 11"), space, Events({11, 12, 13, 14}),
             {{72, Lit}});
    });
}

void E2ETest::steppingBackward()
{
    // Silence, then the walk back in reverse file order down to the previous
    // chord's release point; the keys show that chord again.
    E2E_STEP({
        Step(QStringLiteral("clicking Step Backward in Chord Mode at position 15"), [&] { Click(TagBackAt); },
             Reset(0x90) + Events({15, 14, 13, 12}), {{62, Lit}, {66, Lit}, {69, Lit}});
    });
}

void E2ETest::typingAStepNumber()
{
    E2E_STEP({
        Step(QStringLiteral("typing 3 over the step number 11"),
             [&] {
                 Click(TagNumberAt);
                 Press({QStringLiteral("ctrl+a")});
                 Type(QStringLiteral("3"));
             },
             Reset(0x90), {});
    });
}

void E2ETest::settingAndReturningToTheMark()
{
    const auto space = [&] { Press({QStringLiteral("space")}); };
    E2E_STEP({
        Step(QStringLiteral("clicking Set Mark at position 3"), [&] { Click(TagMarkAt); }, {}, {});
        Step(QStringLiteral("space bar after Set Mark, Chord Mode, from position 3"), space, Events({3, 4}),
             {{64, Lit}, {67, Lit}});
        Step(QStringLiteral("space bar, Chord Mode, from position 5"), space, Events({5, 6, 7, 8, 9, 10}),
             {{62, Lit}, {66, Lit}, {69, Lit}});
        // Back at the mark: only silence is sent, and the note held there is shown.
        Step(QStringLiteral("clicking Goto Mark (mark 3) at position 11"), [&] { Click(TagGotoAt); },
             Reset(0x90), {{60, Lit}});
    });
}

void E2ETest::playingAndStopping()
{
    E2E_STEP({
        Step(QStringLiteral("clicking Goto Begin"), [&] { Click(TagStartAt); }, Reset(0x90), {});

        // Play, and Stop while the long C#5 sounds.
        const QString action =
            QStringLiteral("clicking Play at position 1, then Stop during the last note: ");
        const std::size_t mark = peer_->Count(), played = 15;  // events 2 to 16
        Click(CmdPlayAt);
        Require(WaitFor([&] { return peer_->Count() - mark >= played; }, ArrivalTimeoutMs, 5),
                action + QStringLiteral("only %1 of the first %2 messages arrived")
                             .arg(peer_->Count() - mark)
                             .arg(played));
        Click(CmdStopAt);
        // Wait past the moment the last note-off was due, to see that the queue is silent.
        const auto arrivals = peer_->Since(mark);
        const double sinceFirst =
            std::chrono::duration<double, std::milli>(Clock::now() - arrivals.front().first).count();
        Pause(static_cast<int>(std::max(0.0, DueMs(17) - sinceFirst)) + 800);
        const Messages got = ExpectMessages(
            mark, Events({2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}) + Reset(0x90), action);

        // Every note sounding when Stop was clicked has been ended.
        std::map<std::pair<int, int>, bool> sounding;
        for (const Bytes& m : got) {
            const int kind = m[0] & 0xF0, channel = m[0] & 0x0F;
            if (kind == 0x90 || kind == 0x80) sounding[{channel, m[1]}] = kind == 0x90 && m[2] > 0;
            if (kind == 0xB0 && m[1] == 123)
                for (auto& [key, on] : sounding)
                    on = on && key.first != channel;
        }
        for (const auto& [key, on] : sounding)
            Require(!on, action + QStringLiteral("note %1 on channel %2 still sounds")
                                      .arg(NoteName(key.second))
                                      .arg(key.first + 1));

        // The played notes against the file's timing. Arrival times carry the
        // latency of the path to the peer; the median of (arrival - due) stands for
        // it, so one late first note does not shift every comparison.
        std::vector<double> lag;
        for (std::size_t i = 0; i < played; ++i)
            lag.push_back(
                std::chrono::duration<double, std::milli>(arrivals[i].first - arrivals[0].first).count() -
                DueMs(static_cast<int>(i) + 2));
        std::vector<double> sorted = lag;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(played / 2),
                         sorted.end());
        double worst = 0.0;
        QStringList late;
        for (std::size_t i = 0; i < played; ++i) {
            const double deviation = lag[i] - sorted[played / 2];
            worst = std::max(worst, std::abs(deviation));
            if (std::abs(deviation) > PlaybackToleranceMs)
                late << QStringLiteral("event %1 is %2 ms off").arg(i + 2).arg(deviation, 0, 'f', 1);
        }
        qInfo(
            "playback timing: worst deviation from the file's spacing %.1f ms over %zu notes (tolerance %.0f "
            "ms)",
            worst, played, PlaybackToleranceMs);
        Require(late.isEmpty(), action + QStringLiteral("notes off the file's timing by more than %1 ms: %2")
                                             .arg(PlaybackToleranceMs)
                                             .arg(late.join(QStringLiteral("; "))));
        ExpectKeys({}, action);
    });
}

void E2ETest::aChordPlayedOnThePeer()
{
    // Channel 2, three velocities: the echo must keep every byte.
    const Messages press{Msg(0x91, 60, 80), Msg(0x91, 64, 81), Msg(0x91, 67, 82)};
    const Messages release{Msg(0x81, 60, 0), Msg(0x91, 64, 0), Msg(0x81, 67, 127)};
    E2E_STEP({
        Step(QStringLiteral("the peer pressing C4 E4 G4 on channel 2"), [&] { peer_->Play(press); }, press,
             {{60, Pressed}, {64, Pressed}, {67, Pressed}});
        Step(QStringLiteral("the peer releasing C4 E4 G4 (one as a velocity-0 note-on)"),
             [&] { peer_->Play(release); }, release, {});
    });
}

void E2ETest::theStepKeysOfThePeerKeyboard()
{
    struct PeerStep
    {
        const char* action;
        Bytes played;
        Messages before;  // what the program sends ahead of the echo
        KeyColours shown;
    };
    const KeyColours chord{{60, Lit}, {64, Lit}, {67, Lit}};
    const std::vector<PeerStep> steps{
        // C8 steps forward (Chord Mode, from position 1) before its own echo.
        {"the peer pressing C8 at position 1",
         Msg(0x90, 108, 100),
         Events({2, 3, 4}),
         {{60, Lit}, {64, Lit}, {67, Lit}, {108, Pressed}}},
        {"the peer releasing C8", Msg(0x80, 108, 64), {}, chord},
        // A key of the chord shown by stepping goes back to lit, not to rest.
        {"the peer pressing E4", Msg(0x90, 64, 48), {}, {{60, Lit}, {64, Pressed}, {67, Lit}}},
        {"the peer releasing E4", Msg(0x80, 64, 0), {}, chord},
        // B7 steps back: silence, the walk back to position 1, then the echo.
        {"the peer pressing B7 at position 5",
         Msg(0x90, 107, 100),
         Reset(0x90) + Events({5, 4, 3, 2}),
         {{107, Pressed}}},
        {"the peer releasing B7", Msg(0x80, 107, 64), {}, {}},
    };
    E2E_STEP({
        for (const PeerStep& s : steps)
            Step(
                QLatin1String(s.action), [&] { peer_->Play({s.played}); }, s.before + Messages{s.played},
                s.shown);
    });
}

void E2ETest::exitingThroughTheFileMenu()
{
    E2E_STEP({
        const QString action = QStringLiteral("File > Exit with Alt+F, X: ");
        Press({QStringLiteral("alt+f")});
        Pause(500);
        Keys({QStringLiteral("x")});
        const qint64 pid = program_.processId();
        Require(program_.waitForFinished(30000),
                action + QStringLiteral("the program is still running after 30 s\n") + Trouble());
        Require(program_.exitStatus() == QProcess::NormalExit && program_.exitCode() == 0,
                action +
                    QStringLiteral("the program ended with exit code %1%2\n")
                        .arg(program_.exitCode())
                        .arg(program_.exitStatus() == QProcess::CrashExit ? QStringLiteral(" (crashed)")
                                                                          : QString()) +
                    Trouble());
        Require(::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH,
                QStringLiteral("the program's process is still there"));

        QFile log(outputDir_ + QStringLiteral("/vantor-stderr.log"));
        Require(log.open(QIODevice::ReadOnly), QStringLiteral("no stderr log"));
        const QString text = QString::fromLocal8Bit(log.readAll());
        Require(!text.contains(
                    QRegularExpression(QStringLiteral("ERROR: (Address|Leak)Sanitizer|runtime error:"))),
                QStringLiteral("a sanitizer report: ") + text.right(3000));

        // Nothing of the program stays on the MIDI server: its clients went with it.
        QStringList left;
        WaitFor([&] { return (left = ForeignPorts()).isEmpty(); }, 5000);
        Require(left.isEmpty(),
                QStringLiteral("ports left on the JACK server: ") + left.join(QStringLiteral(", ")));
        const qint64 server = xvfb_.processId();
        Require(Stop(xvfb_) && ::kill(static_cast<pid_t>(server), 0) != 0,
                QStringLiteral("the X server did not end"));

        // The program keeps no settings and writes no files: its home, configuration
        // and working folder hold only the song the test put there.
        QStringList written;
        QDirIterator files(home_.path(), QDir::Files | QDir::Hidden | QDir::System,
                           QDirIterator::Subdirectories);
        while (files.hasNext())
            if (const QString file = files.next(); file != songPath_)
                written << QDir(home_.path()).relativeFilePath(file);
        Require(written.isEmpty(), QStringLiteral("the program wrote ") + written.join(QStringLiteral(", ")));
    });
}

QTEST_GUILESS_MAIN(E2ETest)
#include "test_e2e.moc"
