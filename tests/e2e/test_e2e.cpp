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

using namespace Qt::StringLiterals;
using vantor::test::SmfWriter;

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using Messages = std::vector<Bytes>;
using KeyColours = std::map<int, QRgb>;  // indicators that differ from the key's resting colour
using Arrivals = std::vector<std::pair<Clock::time_point, Bytes>>;

constexpr int ClientWidth = 866, ClientHeight = 185;
constexpr int ArrivalTimeoutMs = 10000, QuietMs = 400, ScreenTimeoutMs = 8000;
constexpr double PlaybackToleranceMs = 15.0;
constexpr QRgb Lit = 0x404040, Pressed = 0x0000A0, Target = 0x00B000, Wrong = 0xD00000;

// Centres of the controls in the client area, from the window's layout.
// clang-format off
constexpr QPoint OutputDevComboAt{64 + 92, 16 + 10}, ResetMidiAt{532 + 38, 18 + 10}, ChordModeAt{534 + 7, 44 + 8},
    TagMarkAt{636 + 28, 18 + 10}, TagGotoAt{762 + 28, 18 + 10}, CmdStopAt{822 + 13, 18 + 10},
    TagStartAt{636 + 13, 42 + 10}, TagBackAt{666 + 13, 42 + 10}, TagNumberAt{700 + 27, 42 + 9},
    CmdPlayAt{822 + 13, 42 + 10};
// clang-format on

struct Tools
{
    static Bytes Msg(int status, int a, int b)
    {
        return {std::uint8_t(status), std::uint8_t(a), std::uint8_t(b)};
    }
    static void Require(bool ok, const QString& problem)
    {
        if (!ok) throw std::runtime_error(problem.toStdString());
    }
    static void Pause(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }
    static QString Hex(const Bytes& m)
    {
        return QString::fromLatin1(
            QByteArray(reinterpret_cast<const char*>(m.data()), qsizetype(m.size())).toHex(' ').toUpper());
    }
    static bool IsBlackKey(int note) { return QList<int>{1, 3, 6, 8, 10}.contains(note % 12); }
};
using T = Tools;

// The practice track ("Right hand"): event 1 is its name, these are events 2 to 17.
constexpr int TempoMicroseconds = 500000, Division = 96;
// clang-format off
const std::vector<std::pair<std::uint32_t, Bytes>> Melody{
    {0, T::Msg(0x90, 60, 100)}, {0, T::Msg(0x90, 64, 90)}, {0, T::Msg(0x90, 67, 80)},     // 2-4 chord C E G
    {96, T::Msg(0x80, 60, 64)}, {0, T::Msg(0x80, 64, 64)}, {0, T::Msg(0x80, 67, 64)},     // 5-7
    {0, T::Msg(0x90, 62, 100)}, {0, T::Msg(0x90, 66, 100)}, {0, T::Msg(0x90, 69, 100)},   // 8-10 chord D F# A
    {96, T::Msg(0x90, 62, 0)}, {0, T::Msg(0x80, 66, 64)}, {0, T::Msg(0x80, 69, 64)},      // 11-13, a velocity-0 release
    {0, T::Msg(0x90, 72, 110)}, {48, T::Msg(0x80, 72, 64)},                               // 14-15
    {48, T::Msg(0x90, 73, 100)}, {192, T::Msg(0x80, 73, 64)}};                            // 16-17 a long C#5
// clang-format on

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
    Messages reset{T::Msg(0xB0, 64, 0)};
    for (int note = 0; note < 128; ++note)
        reset.push_back(T::Msg(noteStatus, note, 0));
    for (int channel = 0; channel < 16; ++channel)
        reset.insert(reset.end(), {T::Msg(0xB0 | channel, 64, 0), T::Msg(0xB0 | channel, 123, 0)});
    return reset;
}

Messages operator+(Messages a, const Messages& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

KeyColours operator+(KeyColours a, const KeyColours& b)
{
    a.insert(b.begin(), b.end());
    return a;
}

// The per-channel tail of a Midi Reset may come in any order: each run of
// sustain-off and All Notes Off messages is compared as a set.
QString Mismatch(Messages got, Messages want)
{
    for (Messages* list : {&got, &want})
        for (auto it = list->begin(); it != list->end();) {
            const auto end = std::find_if_not(it, list->end(), [](const Bytes& m) {
                return m.size() == 3 && (m[0] & 0xF0) == 0xB0 && (m[1] == 64 || m[1] == 123) && m[2] == 0;
            });
            std::sort(it, end);
            it = end == it ? it + 1 : end;
        }
    if (got == want) return {};
    const std::size_t at =
        std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin();
    QStringList near;
    for (std::size_t i = at >= 3 ? at - 3 : 0; i < got.size() && i < at + 5; ++i)
        near << u"[%1] %2"_s.arg(i).arg(T::Hex(got[i]));
    return u"the MIDI peer received %1 messages, %2 expected; message %3 should be %4; got: %5"_s
        .arg(got.size())
        .arg(want.size())
        .arg(at)
        .arg(at < want.size() ? T::Hex(want[at]) : u"nothing"_s, near.join(u", "_s));
}

// Every indicator (the 9 x 9 square of each key, notes 21..108, in client-area
// pixels) against `expected`: empty when all 88 match, else one entry per wrong key.
QString IndicatorMismatch(const QImage& client, const KeyColours& expected)
{
    static const std::map<int, int> blackOffset{{1, 11}, {3, 13}, {6, 10}, {8, 12}, {10, 14}};
    QStringList wrong;
    for (int note = 21, whites = 0; note <= 108; whites += T::IsBlackKey(note) ? 0 : 1, ++note) {
        // A black key stands on the white key left of it.
        const bool black = T::IsBlackKey(note);
        const QRect square = black ? QRect(16 * whites + blackOffset.at(note % 12), 138, 9, 9)
                                   : QRect(16 * whites + 20, 158, 9, 9);
        const auto it = expected.find(note);
        const QRgb want = it != expected.end() ? it->second : black ? 0xC0C0C0 : 0xFFFFFF;
        int bad = 0;
        QRgb seen = want;
        for (int y = square.top(); y <= square.bottom(); ++y)
            for (int x = square.left(); x <= square.right(); ++x)
                if (const QRgb pixel = client.pixel(x, y) & 0xFFFFFF; pixel != want && bad++ == 0)
                    seen = pixel;
        if (bad > 0)
            wrong << u"note %1 should show #%2 but %3 of 81 pixels differ (e.g. #%4)"_s.arg(note)
                         .arg(want, 6, 16, QChar(u'0'))
                         .arg(bad)
                         .arg(seen, 6, 16, QChar(u'0'));
    }
    return wrong.join(u"; "_s);
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

// Waits up to timeoutMs for `done`, checking every stepMs.
bool WaitFor(const std::function<bool()>& done, int timeoutMs, int stepMs = 100)
{
    QElapsedTimer timer;
    timer.start();
    for (; !done(); T::Pause(stepMs))
        if (timer.elapsed() > timeoutMs) return false;
    return true;
}

// A helper process that must not outlive this one, whatever ends it.
void Launch(QProcess& process, const QString& program, const QStringList& arguments)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.start(program, arguments);
    T::Require(process.waitForStarted(10000), program + u" did not start: "_s + process.errorString());
}

bool Stop(QProcess& process)
{
    process.terminate();
    if (!process.waitForFinished(10000)) process.kill();
    return process.state() == QProcess::NotRunning || process.waitForFinished(5000);
}

// Runs a tool to its end; its standard output, or a throw when it fails (exit code
// 1 allowed where `oneIsEmpty`: xdotool search answers 1 when nothing matches).
QString Run(const QString& display, const QString& program, const QStringList& arguments,
            bool oneIsEmpty = false)
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"DISPLAY"_s, display);
    tool.setProcessEnvironment(environment);
    tool.start(program, arguments);
    const bool finished = tool.waitForFinished(60000);
    if (!finished) tool.kill();
    const int code = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    T::Require(finished && (code == 0 || (oneIsEmpty && code == 1)),
               u"%1 %2 failed (exit code %3): %4"_s.arg(program, arguments.join(u' '))
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

    void Play(Messages messages)
    {
        for (Bytes& m : messages)
            out_.sendMessage(&m);
    }
    std::size_t Count() const { return Since(0).size(); }
    Arrivals Since(std::size_t from) const
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
    Arrivals received_;
};

}  // namespace

// Every step runs its body, turning a throw into a failure that names the action.
#define E2E_STEP(...) QVERIFY2(Annotated(Attempt([&] __VA_ARGS__)).isEmpty(), qPrintable(lastFailure_))

class E2ETest : public QObject, Tools
{
    Q_OBJECT

    QProcess jack_, xvfb_, program_;
    std::unique_ptr<Peer> peer_;
    QTemporaryDir home_{QDir::tempPath() + u"/vantor-e2e-XXXXXX"_s};
    QString outputDir_, songPath_, display_, window_, lastFailure_;
    QPoint clientOrigin_;
    bool started_ = false, earlierStepFailed_ = false;
    int overrunsAtStart_ = 0;

    // ------------------------------------------------------------ the user's hands and eyes
    QString X(const QStringList& arguments) const { return Run(display_, u"xdotool"_s, arguments); }
    QStringList Windows(const QStringList& criteria) const
    {
        return Run(display_, u"xdotool"_s, QStringList{u"search"_s, u"--onlyvisible"_s} + criteria, true)
            .split(u'\n', Qt::SkipEmptyParts);
    }
    QStringList Named(const QString& pattern) const { return Windows({u"--name"_s, pattern}); }
    void Keys(const QStringList& keys) const { X(QStringList{u"key"_s, u"--delay"_s, u"60"_s} + keys); }
    // There is no window manager: the keyboard goes where we say.
    void Focus(const QString& window) const { X({u"windowfocus"_s, u"--sync"_s, window}); }
    void Press(const QString& key) const { Focus(window_), Keys({key}); }
    void Type(const QString& text) const { X({u"type"_s, u"--delay"_s, u"40"_s, text}); }
    void MoveTo(QPoint p) const
    {
        X({u"mousemove"_s, u"--sync"_s, QString::number(p.x()), QString::number(p.y())});
    }
    void Click(QPoint client) const
    {
        // At a human pace: the pointer rests on the control before the button goes
        // down, and the button stays down a moment; then it moves off every window,
        // so no hover effect or tool tip covers what the next screenshot checks.
        MoveTo(clientOrigin_ + client);
        Pause(150);
        X({u"mousedown"_s, u"1"_s});
        Pause(80);
        X({u"mouseup"_s, u"1"_s});
        MoveTo({1270, 790});
    }
    QImage Screenshot() const
    {
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DISPLAY"_s, display_);
        tool.setProcessEnvironment(environment);
        tool.start(u"import"_s, {u"-window"_s, u"root"_s, u"png:-"_s});
        const bool finished = tool.waitForFinished(20000);
        if (!finished) tool.kill();
        const QImage image = QImage::fromData(tool.readAllStandardOutput(), "PNG");
        Require(finished && !image.isNull(), u"import -window root gave no screenshot"_s);
        return image.convertToFormat(QImage::Format_RGB32);
    }
    QImage ClientArea() const
    {
        return Screenshot().copy(QRect(clientOrigin_, QSize(ClientWidth, ClientHeight)));
    }

    // ------------------------------------------------------------ what the user must see and hear
    void ExpectKeys(const KeyColours& expected, const QString& action) const
    {
        QString problem;
        WaitFor([&] { return (problem = IndicatorMismatch(ClientArea(), expected)).isEmpty(); },
                ScreenTimeoutMs, 150);
        Require(problem.isEmpty(), action + u": the keyboard shows the wrong indicators: "_s + problem);
    }
    Messages ExpectMessages(std::size_t mark, const Messages& expected, const QString& action) const
    {
        WaitFor([&] { return peer_->Count() - mark >= expected.size(); }, ArrivalTimeoutMs, 20);
        // Then a quiet spell, so that anything sent beyond what is expected shows too.
        for (std::size_t before = SIZE_MAX, after = peer_->Count(); after != before; after = peer_->Count())
            before = after, Pause(QuietMs);
        Messages got;
        for (const auto& arrival : peer_->Since(mark))
            got.push_back(arrival.second);
        const QString problem = Mismatch(got, expected);
        Require(problem.isEmpty(), action + u": "_s + problem);
        return got;
    }
    // One user action: what the peer must receive after it, and the keys it leaves lit.
    void Step(const QString& action, const std::function<void()>& act, const Messages& sent,
              const KeyColours& lit)
    {
        const std::size_t mark = peer_->Count();
        act();
        ExpectMessages(mark, sent, action);
        ExpectKeys(lit, action);
    }
    void Space(const QString& action, const Messages& sent, const KeyColours& lit)
    {
        Step(
            action, [&] { Press(u"space"_s); }, sent, lit);
    }
    // Every port on the JACK server that is neither the driver's nor the peer's.
    QStringList ForeignPorts() const
    {
        QString listing;
        Require(WaitFor([&] { return Attempt([&] { listing = Run({}, u"jack_lsp"_s, {}); }).isEmpty(); },
                        3000, 200),
                u"jack_lsp cannot list the JACK server's ports"_s);
        return listing.split(u'\n', Qt::SkipEmptyParts)
            .filter(QRegularExpression(u"^(?!(system|E2EPeer|E2EPeerKeys):)"_s));
    }
    // Periods in which some client had not finished, as the JACK server logged them:
    // named beside a failure, they tell a loaded machine from a fault of the program.
    int Overruns() const
    {
        QFile log(outputDir_ + u"/jackd.log"_s);
        return log.open(QIODevice::ReadOnly) ? static_cast<int>(log.readAll().count("XRun")) : 0;
    }
    QString Annotated(const QString& failure)
    {
        const int overruns = Overruns() - overrunsAtStart_;
        return lastFailure_ =
                   failure.isEmpty() || overruns == 0
                       ? failure
                       : failure + u" [the JACK server logged %1 overruns during this step]"_s.arg(overruns);
    }
    QString Trouble() const
    {
        QStringList notes;
        if (program_.state() == QProcess::NotRunning)
            notes << u"vantor has ended (exit code %1)"_s.arg(program_.exitCode());
        QStringList names;
        const QString failure = Attempt([&] {
            for (const QString& window : Named(u".+"_s))
                names << X({u"getwindowname"_s, window}).trimmed();
        });
        notes << (failure.isEmpty() ? u"windows on the screen: "_s + names.join(u" | "_s) : failure);
        QFile log(outputDir_ + u"/vantor-stderr.log"_s);
        if (log.open(QIODevice::ReadOnly))
            notes << u"vantor's stderr ends: "_s + QString::fromLocal8Bit(log.readAll().right(1500));
        return notes.join(u'\n');
    }
    void SaveScreenshot(const QString& name) const
    {
        const QString path = outputDir_ + u'/' + name + u".png"_s;
        const QString failure = Attempt([&] { Require(Screenshot().save(path), u"cannot save "_s + path); });
        qWarning().noquote() << (failure.isEmpty() ? u"screenshot of the failed step: "_s + path : failure)
                             << "\nstate after the failure:" << Trouble();
    }

private slots:
    void initTestCase()
    {
        outputDir_ = QDir::current().absoluteFilePath(u"test_e2e-output"_s);
        QDir(outputDir_).removeRecursively();
        QVERIFY(QDir().mkpath(outputDir_) && home_.isValid() && QDir(home_.path()).mkpath(u"runtime"_s));
        QVERIFY(QFile::setPermissions(home_.filePath(u"runtime"_s), QFileDevice::ReadOwner |
                                                                        QFileDevice::WriteOwner |
                                                                        QFileDevice::ExeOwner));
        const QString binary = qEnvironmentVariable("VANTOR_BUILD_DIR") + u"/src/vantor"_s;
        QVERIFY2(QFileInfo(binary).isExecutable(), qPrintable(u"no program at "_s + binary));

        SmfWriter writer(1, Division);
        writer.AddTrack().Name(0, "Tempo").Tempo(0, TempoMicroseconds);
        auto& hand = writer.AddTrack().Name(0, "Right hand");
        for (const auto& [delta, message] : Melody)
            hand.Raw(delta, message);
        songPath_ = SmfWriter::WriteFile(home_, u"practice.mid"_s, writer.Bytes());

        E2E_STEP({
            const QString server = u"vantor_e2e_%1"_s.arg(QCoreApplication::applicationPid());
            qputenv("JACK_DEFAULT_SERVER", server.toLocal8Bit());
            qputenv("JACK_NO_START_SERVER", "1");
            jack_.setStandardOutputFile(outputDir_ + u"/jackd.log"_s);
            jack_.setStandardErrorFile(outputDir_ + u"/jackd.log"_s, QIODevice::Append);
            Launch(jack_, u"jackd"_s,
                   u"-n %1 -S --no-realtime -d dummy -r 48000 -p 256"_s.arg(server).split(u' '));
            Run({}, u"jack_wait"_s, {u"--wait"_s, u"--timeout"_s, u"10"_s});

            // A display of our own, away from :0 where a desktop's server (or a stale
            // socket of one) may answer; -displayfd writes it once clients are accepted.
            const QString wanted = u":%1"_s.arg(100 + QCoreApplication::applicationPid() % 800);
            Launch(xvfb_, u"Xvfb"_s,
                   (wanted + u" -displayfd 1 -screen 0 1280x800x24 -nolisten tcp"_s).split(u' '));
            QByteArray number;
            WaitFor(
                [&] {
                    return xvfb_.waitForReadyRead(200),
                           (number += xvfb_.readAllStandardOutput()).contains('\n');
                },
                15000, 0);
            Require(number.contains('\n'), u"Xvfb gave no display number: "_s +
                                               QString::fromLocal8Bit(xvfb_.readAllStandardError()));
            display_ = u':' + QString::fromLatin1(number.trimmed());

            // The peer's ports exist before the program starts, so its lists show them.
            peer_ = std::make_unique<Peer>();
            Require(Peer::WritablePorts().contains(QLatin1String(Peer::RecordPort)),
                    u"the peer's port does not show in the JACK graph"_s);

            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(u"DISPLAY"_s, display_);
            environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
            environment.insert(u"XDG_RUNTIME_DIR"_s, home_.filePath(u"runtime"_s));
            environment.insert(u"HOME"_s, home_.path());
            environment.insert(u"XDG_CONFIG_HOME"_s, home_.filePath(u"config"_s));
            program_.setProcessEnvironment(environment);
            program_.setWorkingDirectory(home_.path());
            program_.setStandardOutputFile(outputDir_ + u"/vantor-stdout.log"_s);
            program_.setStandardErrorFile(outputDir_ + u"/vantor-stderr.log"_s);
            Launch(program_, binary, {});
            const auto mainWindow = [&] { return Named(u"^Vantor Piano Tutor$"_s); };
            Require(WaitFor(
                        [&] {
                            Require(program_.state() == QProcess::Running, u"vantor ended at start-up"_s);
                            return !mainWindow().isEmpty();
                        },
                        60000),
                    u"the main window \"Vantor Piano Tutor\" did not show within 60 s"_s);
            window_ = mainWindow().first();
            // Without a window manager the window sits where it was put and has no frame:
            // the client area is its bottom 185 rows, under the menu bar.
            QRect geometry;
            WaitFor(
                [&] {
                    QMap<QString, int> values;
                    for (const QString& line :
                         X({u"getwindowgeometry"_s, u"--shell"_s, window_}).split(u'\n'))
                        values[line.section(u'=', 0, 0)] = line.section(u'=', 1).toInt();
                    const QRect now(values[u"X"_s], values[u"Y"_s], values[u"WIDTH"_s], values[u"HEIGHT"_s]);
                    return std::exchange(geometry, now) == now;
                },
                3000, 150);
            Require(geometry.width() == ClientWidth && geometry.height() > ClientHeight,
                    u"the window is %1 x %2; the layout wants an 866 x 185 client area under the menu bar"_s
                        .arg(geometry.width())
                        .arg(geometry.height()));
            clientOrigin_ = QPoint(geometry.x(), geometry.y() + geometry.height() - ClientHeight);
            MoveTo({1270, 790});
        });
        started_ = true;
    }
    void init()
    {
        if (earlierStepFailed_) QSKIP("an earlier step failed; this one builds on what it should have left");
        overrunsAtStart_ = Overruns();
    }
    void cleanup()
    {
        if (!QTest::currentTestFailed()) return;
        earlierStepFailed_ = true;
        SaveScreenshot(QLatin1String(QTest::currentTestFunction()));
    }
    void cleanupTestCase()
    {
        if (!started_) SaveScreenshot(u"initTestCase"_s);
        Stop(program_);
        peer_.reset();
        Stop(xvfb_);
        Stop(jack_);
    }

    // ------------------------------------------------------------ the user's steps
    void startUpShowsTheWholeWindowAtRest()
    {
        E2E_STEP({
            const QString action = u"starting the program: "_s;
            Require(Named(u".+"_s).size() == 1, action + u"more than the main window is showing"_s);
            // The octave strip pins the client area down: a black tick left of C1, red before it.
            const QImage client = ClientArea();
            Require((client.pixel(48, 97) & 0xFFFFFF) == 0x000000 &&
                        (client.pixel(30, 97) & 0xFFFFFF) == 0xFF0000 &&
                        (client.pixel(832, 97) & 0xFFFFFF) == 0x000000,
                    action + u"the octave strip is not at y 96 to 98 of the client area"_s);
            ExpectKeys({}, action);
            // Its MIDI ports are on the server, so the check at exit that they are gone means something.
            Require(!ForeignPorts().isEmpty(), action + u"the program has no port on the JACK server"_s);
        });
    }
    void choosingThePeerAsMidiOut()
    {
        E2E_STEP({
            // Entry 0 is the built-in synthesizer; the ports follow in the order the MIDI
            // server lists them, the program's own left out.
            const qsizetype entry = Peer::WritablePorts()
                                        .filter(QRegularExpression(u"^(?!Vantor)"_s))
                                        .indexOf(QLatin1String(Peer::RecordPort)) +
                                    1;
            Require(entry > 0, u"the peer's port is not on the MIDI server"_s);
            const QString action =
                u"choosing \"JACK: %1\" (entry %2) in Midi Out"_s.arg(QLatin1String(Peer::RecordPort))
                    .arg(entry);
            const QStringList pid{u"--pid"_s, QString::number(program_.processId())};
            const qsizetype before = Windows(pid).size();
            Step(action,
                 [&] {
                     Click(OutputDevComboAt);
                     // The list drops down as a window of its own.
                     WaitFor([&] { return Windows(pid).size() > before; }, 5000);
                     Pause(200);
                     Keys(QStringList{u"Home"_s} + QStringList(entry, u"Down"_s) + QStringList{u"Return"_s});
                 },
                 {}, {});
            // Midi Reset proves the choice: with no track selected it silences channel 16.
            Step(action + u", then clicking Midi Reset"_s, [&] { Click(ResetMidiAt); }, Reset(0x8F), {});
        });
    }
    void openingTheFileWithCtrlO()
    {
        const QString action = u"opening %1 with Ctrl+O and the file dialog"_s.arg(songPath_);
        const QString dialog = u"^Open MIDI File$"_s;
        // Selecting the track sounds nothing and leaves every key at rest.
        E2E_STEP({
            Step(action,
                 [&] {
                     Press(u"ctrl+o"_s);
                     Require(WaitFor([&] { return !Named(dialog).isEmpty(); }, 15000),
                             action + u": no dialog \"Open MIDI File\" showed"_s);
                     Focus(Named(dialog).first());
                     Pause(300);
                     Type(songPath_);
                     // The name box's completer may swallow the first Return.
                     for (int attempt = 0; attempt < 3 && !Named(dialog).isEmpty(); ++attempt)
                         Keys({u"Return"_s}), WaitFor([&] { return Named(dialog).isEmpty(); }, 3000);
                     Require(Named(dialog).isEmpty(), action + u": the dialog stayed open after Return"_s);
                     Pause(500);
                     Require(Named(u".+"_s).size() == 1,
                             action + u": another window showed (a message box?)"_s);
                 },
                 {}, {});
        });
    }
    void steppingForwardNoteByNote()
    {
        E2E_STEP({
            Space(u"space bar, note mode, from position 1"_s, Events({2}), {{60, Lit}});
            Space(u"space bar, note mode, from position 2"_s, Events({3}), {{60, Lit}, {64, Lit}});
            Space(u"space bar, note mode, from position 3"_s, Events({4}), {{60, Lit}, {64, Lit}, {67, Lit}});
            // The chord's note-offs go out on the way to the next note-on.
            Space(u"space bar, note mode, from position 4"_s, Events({5, 6, 7, 8}), {{62, Lit}});
        });
    }
    void steppingForwardInChordMode()
    {
        E2E_STEP({
            Step(u"ticking Chord Mode"_s, [&] { Click(ChordModeAt); }, {}, {{62, Lit}});
            // From the note-on where note mode stopped, the chord step plays it again.
            Space(u"space bar, Chord Mode, from position 8"_s, Events({8, 9, 10}),
                  {{62, Lit}, {66, Lit}, {69, Lit}});
            Space(u"space bar, Chord Mode, from position 11"_s, Events({11, 12, 13, 14}), {{72, Lit}});
        });
    }
    void steppingBackward()
    {
        // Silence, then the walk back in reverse file order down to the previous
        // chord's release point; the keys show that chord again.
        E2E_STEP({
            Step(u"clicking Step Backward in Chord Mode at position 15"_s, [&] { Click(TagBackAt); },
                 Reset(0x90) + Events({15, 14, 13, 12}), {{62, Lit}, {66, Lit}, {69, Lit}});
        });
    }
    void typingAStepNumber()
    {
        E2E_STEP({
            Step(u"typing 3 over the step number 11"_s,
                 [&] { Click(TagNumberAt), Press(u"ctrl+a"_s), Type(u"3"_s); }, Reset(0x90), {});
        });
    }
    void settingAndReturningToTheMark()
    {
        E2E_STEP({
            Step(u"clicking Set Mark at position 3"_s, [&] { Click(TagMarkAt); }, {}, {});
            Space(u"space bar after Set Mark, Chord Mode, from position 3"_s, Events({3, 4}),
                  {{64, Lit}, {67, Lit}});
            Space(u"space bar, Chord Mode, from position 5"_s, Events({5, 6, 7, 8, 9, 10}),
                  {{62, Lit}, {66, Lit}, {69, Lit}});
            // Back at the mark: only silence is sent, and the note held there is shown.
            Step(u"clicking Goto Mark (mark 3) at position 11"_s, [&] { Click(TagGotoAt); }, Reset(0x90),
                 {{60, Lit}});
        });
    }
    void playingAndStopping()
    {
        E2E_STEP({
            Step(u"clicking Goto Begin"_s, [&] { Click(TagStartAt); }, Reset(0x90), {});

            // Play, and Stop while the long C#5 sounds.
            const QString action = u"clicking Play at position 1, then Stop during the last note: "_s;
            const std::size_t mark = peer_->Count(), played = 15;  // events 2 to 16
            Click(CmdPlayAt);
            Require(WaitFor([&] { return peer_->Count() - mark >= played; }, ArrivalTimeoutMs, 5),
                    action +
                        u"only %1 of the first %2 messages arrived"_s.arg(peer_->Count() - mark).arg(played));
            Click(CmdStopAt);
            // Wait past the moment the last note-off was due, to see that the queue is silent.
            const Arrivals arrivals = peer_->Since(mark);
            const double sinceFirst =
                std::chrono::duration<double, std::milli>(Clock::now() - arrivals[0].first).count();
            Pause(static_cast<int>(std::max(0.0, DueMs(17) - sinceFirst)) + 800);
            const Messages got = ExpectMessages(
                mark, Events({2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}) + Reset(0x90), action);

            // Every note sounding when Stop was clicked has been ended.
            std::map<std::pair<int, int>, bool> sounding;
            for (const Bytes& m : got) {
                const int kind = m[0] & 0xF0, channel = m[0] & 0x0F;
                if (kind == 0x90 || kind == 0x80) sounding[{channel, m[1]}] = kind == 0x90 && m[2] > 0;
                for (auto& [key, on] : sounding)
                    on = on && !(kind == 0xB0 && m[1] == 123 && key.first == channel);
            }
            for (const auto& [key, on] : sounding)
                Require(!on,
                        action + u"note %1 on channel %2 still sounds"_s.arg(key.second).arg(key.first + 1));

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
                    late << u"event %1 is %2 ms off"_s.arg(i + 2).arg(deviation, 0, 'f', 1);
            }
            qInfo(
                "playback timing: worst deviation from the file's spacing %.1f ms over %zu notes (tolerance "
                "%.0f ms)",
                worst, played, PlaybackToleranceMs);
            Require(late.isEmpty(),
                    action + u"notes off the file's timing by more than %1 ms: %2"_s.arg(PlaybackToleranceMs)
                                 .arg(late.join(u"; "_s)));
            ExpectKeys({}, action);
        });
    }
    void playingAtHalfSpeedWithTheMetronome()
    {
        // 4/4 (the file states none): a click on every quarter, the bar's first
        // accented, each ended half a beat later; the melody first where both fall.
        const auto click = [](int note, bool on) {
            return on ? Msg(0x99, note, note == 76 ? 110 : 80) : Msg(0x89, note, 0);
        };
        const std::vector<std::pair<int, Messages>> heard{
            {0, Events({2, 3, 4}) + Messages{click(76, true)}},
            {48, {click(76, false)}},
            {96, Events({5, 6, 7, 8, 9, 10}) + Messages{click(77, true)}},
            {144, {click(77, false)}},
            {192, Events({11, 12, 13, 14}) + Messages{click(77, true)}},
            {240, Events({15}) + Messages{click(77, false)}},
            {288, Events({16}) + Messages{click(77, true)}},
            {336, {click(77, false)}},
            {384, {click(76, true)}},
            {432, {click(76, false)}},
            {480, Events({17})}};
        Messages expected;
        std::vector<double> due;  // at 50 %: twice the file's milliseconds, floored
        const double msPerTick = static_cast<float>(TempoMicroseconds / 1000.0 / Division);
        for (const auto& [ticks, messages] : heard)
            for (const Bytes& m : messages)
                expected.push_back(m), due.push_back(std::floor(msPerTick * ticks / 0.5));
        E2E_STEP({
            const QString action = u"Ctrl+- three times (50%), Practice > Metronome, Play at position 1: "_s;
            Press(u"ctrl+minus"_s);
            Keys({u"ctrl+minus"_s, u"ctrl+minus"_s, u"alt+p"_s});
            Pause(500);
            Keys({u"m"_s});
            const std::size_t mark = peer_->Count();
            Click(CmdPlayAt);
            Require(
                WaitFor([&] { return peer_->Count() - mark >= expected.size(); }, ArrivalTimeoutMs, 5),
                action + u"only %1 of %2 messages arrived"_s.arg(peer_->Count() - mark).arg(expected.size()));
            const Arrivals arrivals = peer_->Since(mark);
            ExpectMessages(mark, expected + Reset(0x90), action);
            std::vector<double> lag;
            for (std::size_t i = 0; i < expected.size(); ++i)
                lag.push_back(
                    std::chrono::duration<double, std::milli>(arrivals[i].first - arrivals[0].first).count() -
                    due[i]);
            std::vector<double> sorted = lag;
            std::sort(sorted.begin(), sorted.end());
            for (std::size_t i = 0; i < lag.size(); ++i)
                Require(std::abs(lag[i] - sorted[lag.size() / 2]) <= PlaybackToleranceMs,
                        action + u"message %1 (%2) is %3 ms off its time"_s.arg(i)
                                     .arg(Hex(expected[i]))
                                     .arg(lag[i] - sorted[lag.size() / 2], 0, 'f', 1));
            ExpectKeys({}, action);
        });
    }
    void aChordPlayedOnThePeer()
    {
        // Channel 2, three velocities: the echo must keep every byte.
        const Messages press{Msg(0x91, 60, 80), Msg(0x91, 64, 81), Msg(0x91, 67, 82)};
        const Messages release{Msg(0x81, 60, 0), Msg(0x91, 64, 0), Msg(0x81, 67, 127)};
        E2E_STEP({
            Step(u"the peer pressing C4 E4 G4 on channel 2"_s, [&] { peer_->Play(press); }, press,
                 {{60, Pressed}, {64, Pressed}, {67, Pressed}});
            Step(u"the peer releasing C4 E4 G4 (one as a velocity-0 note-on)"_s,
                 [&] { peer_->Play(release); }, release, {});
        });
    }
    void theStepKeysOfThePeerKeyboard()
    {
        struct PeerStep
        {
            const char* action;
            Bytes played;
            Messages before;  // what the program sends ahead of the echo
            KeyColours shown;
        };
        const KeyColours chord{{60, Lit}, {64, Lit}, {67, Lit}};
        // clang-format off
        const std::vector<PeerStep> steps{
            // C8 steps forward (Chord Mode, from position 1) before its own echo.
            {"the peer pressing C8 at position 1", Msg(0x90, 108, 100), Events({2, 3, 4}), {{60, Lit}, {64, Lit}, {67, Lit}, {108, Pressed}}},
            {"the peer releasing C8", Msg(0x80, 108, 64), {}, chord},
            // A key of the chord shown by stepping goes back to lit, not to rest.
            {"the peer pressing E4", Msg(0x90, 64, 48), {}, {{60, Lit}, {64, Pressed}, {67, Lit}}},
            {"the peer releasing E4", Msg(0x80, 64, 0), {}, chord},
            // B7 steps back: silence, the walk back to position 1, then the echo.
            {"the peer pressing B7 at position 5", Msg(0x90, 107, 100), Reset(0x90) + Events({5, 4, 3, 2}), {{107, Pressed}}},
            {"the peer releasing B7", Msg(0x80, 107, 64), {}, {}}};
        // clang-format on
        E2E_STEP({
            for (const PeerStep& s : steps)
                Step(
                    QLatin1String(s.action), [&] { peer_->Play({s.played}); }, s.before + Messages{s.played},
                    s.shown);
        });
    }
    void waitingForNotesPlayedOnThePeer()
    {
        // Chord Mode at position 1: the program waits for C E G.
        const auto tick = [&] { Press(u"alt+p"_s), Pause(500), Keys({u"w"_s}); };
        const Messages firstTwo{Msg(0x90, 60, 70), Msg(0x90, 64, 71)};
        const Messages wrong{Msg(0x90, 61, 72)};
        const Messages last{Msg(0x80, 61, 0), Msg(0x90, 67, 73)};
        const Messages letGo{Msg(0x80, 60, 0), Msg(0x90, 64, 0), Msg(0x80, 67, 64)};
        const KeyColours nextChord{{62, Target}, {66, Target}, {69, Target}};
        E2E_STEP({
            Step(u"ticking Practice > Wait for My Notes with Alt+P, W"_s, tick, {},
                 {{60, Target}, {64, Target}, {67, Target}});
            Step(u"the peer pressing C4 E4 of the chord waited for"_s, [&] { peer_->Play(firstTwo); },
                 firstTwo, {{60, Pressed}, {64, Pressed}, {67, Target}});
            Step(u"the peer pressing a wrong C#4"_s, [&] { peer_->Play(wrong); }, wrong,
                 {{60, Pressed}, {61, Wrong}, {64, Pressed}, {67, Target}});
            // The chord is whole: the step lights it and sends nothing beyond the echoes.
            Step(
                u"the peer releasing C#4 and pressing G4"_s, [&] { peer_->Play(last); }, last,
                KeyColours{{60, Lit}, {64, Lit}, {67, Lit}} + nextChord);
            Step(
                u"the peer releasing the chord"_s, [&] { peer_->Play(letGo); }, letGo,
                KeyColours{{60, Lit}, {64, Lit}, {67, Lit}} + nextChord);
            Step(u"unticking Wait for My Notes"_s, tick, {}, {{60, Lit}, {64, Lit}, {67, Lit}});
        });
    }
    void exitingThroughTheFileMenu()
    {
        E2E_STEP({
            const QString action = u"File > Exit with Alt+F, X: "_s;
            Press(u"alt+f"_s);
            Pause(500);
            Keys({u"x"_s});
            const qint64 pid = program_.processId();
            Require(program_.waitForFinished(30000),
                    action + u"the program is still running after 30 s\n"_s + Trouble());
            Require(program_.exitStatus() == QProcess::NormalExit && program_.exitCode() == 0,
                    action +
                        u"the program ended with exit code %1%2\n"_s.arg(program_.exitCode())
                            .arg(program_.exitStatus() == QProcess::CrashExit ? u" (crashed)"_s : QString()) +
                        Trouble());
            Require(::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH,
                    u"the program's process is still there"_s);

            QFile log(outputDir_ + u"/vantor-stderr.log"_s);
            const QString text =
                log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : u"no stderr log"_s;
            Require(log.isOpen() && !text.contains(QRegularExpression(
                                        u"ERROR: (Address|Leak)Sanitizer|runtime error:"_s)),
                    u"a sanitizer report: "_s + text.right(3000));

            // Nothing of the program stays on the MIDI server: its clients went with it.
            QStringList left;
            WaitFor([&] { return (left = ForeignPorts()).isEmpty(); }, 5000);
            Require(left.isEmpty(), u"ports left on the JACK server: "_s + left.join(u", "_s));
            const qint64 server = xvfb_.processId();
            Require(Stop(xvfb_) && ::kill(static_cast<pid_t>(server), 0) != 0, u"the X server did not end"_s);

            // The program keeps no settings and writes no files: its home, configuration
            // and working folder hold only the song the test put there.
            QStringList written;
            QDirIterator files(home_.path(), QDir::Files | QDir::Hidden | QDir::System,
                               QDirIterator::Subdirectories);
            while (files.hasNext())
                if (const QString file = files.next(); file != songPath_)
                    written << QDir(home_.path()).relativeFilePath(file);
            Require(written.isEmpty(), u"the program wrote "_s + written.join(u", "_s));
        });
    }
};

QTEST_GUILESS_MAIN(E2ETest)
#include "test_e2e.moc"
