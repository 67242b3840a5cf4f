// The real program, end to end: the vantor binary in a private X server, talking
// MIDI through a private JACK server (synchronous mode: asynchronous clients that
// miss a period on a loaded machine get their MIDI buffers doubled or dropped) to a
// peer that this test plays itself. The test acts only as a user would (keys, clicks
// at the controls' places) and checks, step by step, the bytes that reach the peer
// and the indicators on the screen. Tolerances assume the sanitizer build running
// alone on two cores: messages within 10 s, then 400 ms of quiet; the screen within
// 8 s; played notes within PlaybackToleranceMs of the file's spacing, measured
// against the median latency (the JACK period quantises arrivals by 5.3 ms).

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
using Timeline = std::vector<std::pair<int, Messages>>;  // messages due at a tick

constexpr int ClientWidth = 866, ClientHeight = 185;
constexpr int ArrivalTimeoutMs = 10000, QuietMs = 400, ScreenTimeoutMs = 8000;
constexpr double PlaybackToleranceMs = 15.0;
constexpr QRgb Lit = 0x404040, Pressed = 0x0000A0, Target = 0x00B000, Wrong = 0xD00000;
// clang-format off
constexpr QPoint OutputDevComboAt{64 + 92, 16 + 10}, ResetMidiAt{532 + 38, 18 + 10}, ChordModeAt{534 + 7, 44 + 8},
    TagMarkAt{636 + 28, 18 + 10}, TagGotoAt{762 + 28, 18 + 10}, CmdStopAt{822 + 13, 18 + 10},
    TagStartAt{636 + 13, 42 + 10}, TagBackAt{666 + 13, 42 + 10}, TagNumberAt{700 + 27, 42 + 9},
    CmdPlayAt{822 + 13, 42 + 10};
// clang-format on

Bytes Msg(int status, int a, int b)
{
    return {std::uint8_t(status), std::uint8_t(a), std::uint8_t(b)};
}
void Require(bool ok, const QString& problem)
{
    if (!ok) throw std::runtime_error(problem.toStdString());
}
void Pause(int ms)
{
    QThread::msleep(static_cast<unsigned long>(ms));
}
QString Hex(const Bytes& m)
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(m.data()), qsizetype(m.size())).toHex(' ').toUpper());
}
Messages operator+(Messages a, const Messages& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The practice track ("Right hand"): event 1 is its name, these are events 2 to 17.
constexpr int TempoMicroseconds = 500000, Division = 96;
// clang-format off
const std::vector<std::pair<std::uint32_t, Bytes>> Melody{
    {0, Msg(0x90, 60, 100)}, {0, Msg(0x90, 64, 90)}, {0, Msg(0x90, 67, 80)},     // 2-4 chord C E G
    {96, Msg(0x80, 60, 64)}, {0, Msg(0x80, 64, 64)}, {0, Msg(0x80, 67, 64)},     // 5-7
    {0, Msg(0x90, 62, 100)}, {0, Msg(0x90, 66, 100)}, {0, Msg(0x90, 69, 100)},   // 8-10 chord D F# A
    {96, Msg(0x90, 62, 0)}, {0, Msg(0x80, 66, 64)}, {0, Msg(0x80, 69, 64)},      // 11-13, a velocity-0 release
    {0, Msg(0x90, 72, 110)}, {48, Msg(0x80, 72, 64)},                            // 14-15
    {48, Msg(0x90, 73, 100)}, {192, Msg(0x80, 73, 64)}};                         // 16-17 a long C#5
// clang-format on

Messages Events(std::initializer_list<int> indexes)
{
    Messages messages;
    for (const int k : indexes)
        messages.push_back(Melody.at(static_cast<std::size_t>(k - 2)).second);
    return messages;
}

// Midi Reset: sustain off, a velocity-0 note-on of every note on the selected
// track's channel, then sustain off and All Notes Off on each of the 16 channels.
Messages Reset(int noteStatus)
{
    Messages reset{Msg(0xB0, 64, 0)};
    for (int note = 0; note < 128; ++note)
        reset.push_back(Msg(noteStatus, note, 0));
    for (int channel = 0; channel < 16; ++channel)
        reset.insert(reset.end(), {Msg(0xB0 | channel, 64, 0), Msg(0xB0 | channel, 123, 0)});
    return reset;
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
        near << u"[%1] %2"_s.arg(i).arg(Hex(got[i]));
    return u"the MIDI peer received %1 messages, %2 expected; message %3 should be %4; got: %5"_s
        .arg(got.size())
        .arg(want.size())
        .arg(at)
        .arg(at < want.size() ? Hex(want[at]) : u"nothing"_s, near.join(u", "_s));
}

// Every indicator (the 9 x 9 square of each key, notes 21..108, in client-area
// pixels) against `expected`: empty when all 88 match, else one entry per wrong key.
QString IndicatorMismatch(const QImage& client, const KeyColours& expected)
{
    static const std::map<int, int> blackOffset{{1, 11}, {3, 13}, {6, 10}, {8, 12}, {10, 14}};
    QStringList wrong;
    for (int note = 21, whites = 0; note <= 108; ++note) {
        const bool black = blackOffset.contains(note % 12);  // it stands on the white key left of it
        const QRect square = black ? QRect(16 * whites + blackOffset.at(note % 12), 138, 9, 9)
                                   : QRect(16 * whites++ + 20, 158, 9, 9);
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

bool WaitFor(const std::function<bool()>& done, int timeoutMs, int stepMs = 100)
{
    QElapsedTimer timer;
    timer.start();
    for (; !done(); Pause(stepMs))
        if (timer.elapsed() > timeoutMs) return false;
    return true;
}

// A helper process that must not outlive this one, whatever ends it.
void Launch(QProcess& process, const QString& program, const QStringList& arguments)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.start(program, arguments);
    Require(process.waitForStarted(10000), program + u" did not start: "_s + process.errorString());
}

bool Stop(QProcess& process)
{
    process.terminate();
    if (!process.waitForFinished(10000)) process.kill();
    return process.state() == QProcess::NotRunning || process.waitForFinished(5000);
}

// Runs a tool to its end; its standard output, or a throw when it fails (exit code
// 1 allowed where `oneIsEmpty`: xdotool search answers 1 when nothing matches).
QByteArray Run(const QString& display, const QString& program, const QStringList& arguments,
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
    Require(finished && (code == 0 || (oneIsEmpty && code == 1)),
            u"%1 %2 failed (exit code %3): %4"_s.arg(program, arguments.join(u' '))
                .arg(code)
                .arg(QString::fromLocal8Bit(tool.readAllStandardError()).trimmed()));
    return tool.readAllStandardOutput();
}

// The other program on the MIDI server: one JACK client records every message that
// reaches its input port with its arrival time, another plays notes from its output.
class Peer
{
public:
    static constexpr const char* RecordPort = "E2EPeer:record";
    using Arrivals = std::vector<std::pair<Clock::time_point, Bytes>>;

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
        const auto now = Clock::now();  // on the JACK process thread: the arrival time at once
        auto* peer = static_cast<Peer*>(self);
        const std::lock_guard lock(peer->mutex_);
        peer->received_.emplace_back(now, Bytes(message->begin(), message->end()));
    }

    RtMidiIn in_{RtMidi::UNIX_JACK, "E2EPeer", 4096};
    RtMidiOut out_{RtMidi::UNIX_JACK, "E2EPeerKeys"};
    mutable std::mutex mutex_;
    Arrivals received_;
};

// One user step: what the user does, the bytes the peer must receive after it and
// the indicators it leaves. A timed step plays the track: its messages must come at
// their ticks' times at `speed` (or, with stopAfter, that many, then Stop's silence).
struct UserStep
{
    QString action;
    std::function<void()> act;
    Messages sent;
    KeyColours shown;
    Timeline timed{};
    double speed = 1.0;
    std::size_t stopAfter = 0;
};

}  // namespace

class E2ETest : public QObject
{
    Q_OBJECT

    QProcess jack_, xvfb_, program_;
    std::unique_ptr<Peer> peer_;
    QTemporaryDir home_{QDir::tempPath() + u"/vantor-e2e-XXXXXX"_s};
    QString outputDir_, songPath_, display_, window_;
    QPoint clientOrigin_;
    bool started_ = false;

    // ------------------------------------------------------------ the user's hands and eyes
    QString X(const QStringList& arguments) const
    {
        return QString::fromLocal8Bit(Run(display_, u"xdotool"_s, arguments));
    }
    QStringList Named(const QString& pattern, const QString& by = u"--name"_s) const
    {
        return QString::fromLocal8Bit(
                   Run(display_, u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, by, pattern}, true))
            .split(u'\n', Qt::SkipEmptyParts);
    }
    void Keys(const QStringList& keys) const { X(QStringList{u"key"_s, u"--delay"_s, u"60"_s} + keys); }
    // There is no window manager: the keyboard goes where we say.
    void Focus(const QString& window) const { X({u"windowfocus"_s, u"--sync"_s, window}); }
    void Press(const QString& key) const { Focus(window_), Keys({key}); }
    void Menu(const QString& menu, const QString& item) const { Press(menu), Pause(500), Keys({item}); }
    void Type(const QString& text) const { X({u"type"_s, u"--delay"_s, u"40"_s, text}); }
    void MoveTo(QPoint p) const
    {
        X({u"mousemove"_s, u"--sync"_s, QString::number(p.x()), QString::number(p.y())});
    }
    // At a human pace; then the pointer leaves every window, so no hover effect or
    // tool tip covers what the next screenshot checks.
    void Click(QPoint client) const
    {
        MoveTo(clientOrigin_ + client);
        Pause(150);
        X({u"mousedown"_s, u"1"_s});
        Pause(80);
        X({u"mouseup"_s, u"1"_s});
        MoveTo({1270, 790});
    }
    QImage ClientArea() const
    {
        const QImage image =
            QImage::fromData(Run(display_, u"import"_s, {u"-window"_s, u"root"_s, u"png:-"_s}), "PNG");
        Require(!image.isNull(), u"import -window root gave no screenshot"_s);
        return image.convertToFormat(QImage::Format_RGB32)
            .copy(QRect(clientOrigin_, QSize(ClientWidth, ClientHeight)));
    }
    // Every port on the JACK server that is neither the driver's nor the peer's.
    QStringList ForeignPorts() const
    {
        QString listing;
        Require(WaitFor(
                    [&] {
                        return Attempt([&] { listing = QString::fromLocal8Bit(Run({}, u"jack_lsp"_s, {})); })
                            .isEmpty();
                    },
                    3000, 200),
                u"jack_lsp cannot list the JACK server's ports"_s);
        return listing.split(u'\n', Qt::SkipEmptyParts)
            .filter(QRegularExpression(u"^(?!(system|E2EPeer|E2EPeerKeys):)"_s));
    }

    // ------------------------------------------------------------ what the user must see and hear
    void ExpectKeys(const KeyColours& expected, const QString& action) const
    {
        QString problem;
        WaitFor([&] { return (problem = IndicatorMismatch(ClientArea(), expected)).isEmpty(); },
                ScreenTimeoutMs, 150);
        Require(problem.isEmpty(), action + u": the keyboard shows the wrong indicators: "_s + problem);
    }
    void ExpectMessages(std::size_t mark, const Messages& expected, const QString& action) const
    {
        WaitFor([&] { return peer_->Count() - mark >= expected.size(); }, ArrivalTimeoutMs, 5);
        // Then a quiet spell, so that anything sent beyond what is expected shows too.
        for (std::size_t before = SIZE_MAX, after = peer_->Count(); after != before; after = peer_->Count())
            before = after, Pause(QuietMs);
        Messages got;
        for (const auto& arrival : peer_->Since(mark))
            got.push_back(arrival.second);
        const QString problem = Mismatch(got, expected);
        Require(problem.isEmpty(), action + u": "_s + problem);
    }
    // Arrival times against the due times; the median lag stands for the path's
    // latency, so one late first note does not shift every comparison.
    void ExpectTiming(const Peer::Arrivals& arrivals, const std::vector<double>& due, const QString& action)
    {
        std::vector<double> lag;
        for (std::size_t i = 0; i < due.size(); ++i)
            lag.push_back(
                std::chrono::duration<double, std::milli>(arrivals[i].first - arrivals[0].first).count() -
                due[i]);
        std::vector<double> sorted = lag;
        std::sort(sorted.begin(), sorted.end());
        QStringList late;
        for (std::size_t i = 0; i < lag.size(); ++i)
            if (const double off = lag[i] - sorted[lag.size() / 2]; std::abs(off) > PlaybackToleranceMs)
                late << u"message %1 (%2) is %3 ms off"_s.arg(i)
                            .arg(Hex(arrivals[i].second))
                            .arg(off, 0, 'f', 1);
        Require(late.isEmpty(), action + u": off the file's timing: "_s + late.join(u"; "_s));
    }
    void Perform(const UserStep& step)
    {
        const std::size_t mark = peer_->Count();
        step.act();
        if (step.timed.empty()) {
            ExpectMessages(mark, step.sent, step.action);
            return ExpectKeys(step.shown, step.action);
        }
        Messages heard;
        std::vector<double> due;  // the file's milliseconds at that speed, floored as the queue does
        const double msPerTick = static_cast<float>(TempoMicroseconds / 1000.0 / Division);
        for (const auto& [tick, messages] : step.timed)
            for (const Bytes& m : messages)
                heard.push_back(m), due.push_back(std::floor(msPerTick * tick / step.speed));
        const std::size_t count = step.stopAfter > 0 ? step.stopAfter : heard.size();
        Require(WaitFor([&] { return peer_->Count() - mark >= count; }, ArrivalTimeoutMs, 5),
                step.action + u": only %1 of %2 messages arrived"_s.arg(peer_->Count() - mark).arg(count));
        const Peer::Arrivals arrivals = peer_->Since(mark);
        if (step.stopAfter > 0) {
            Click(CmdStopAt);
            // Past the moment the rest was due, to see that the queue has gone silent.
            const double sinceFirst =
                std::chrono::duration<double, std::milli>(Clock::now() - arrivals[0].first).count();
            Pause(static_cast<int>(std::max(0.0, due.back() - sinceFirst)) + 800);
        }
        heard.resize(count), due.resize(count);
        ExpectMessages(mark, heard + Reset(0x90), step.action);
        ExpectTiming(arrivals, due, step.action);
        ExpectKeys({}, step.action);
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

        const QString failure = Attempt([&] {
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
            Require(WaitFor(
                        [&] {
                            Require(program_.state() == QProcess::Running, u"vantor ended at start-up"_s);
                            return !Named(u"^Vantor Piano Tutor$"_s).isEmpty();
                        },
                        60000),
                    u"the main window \"Vantor Piano Tutor\" did not show within 60 s"_s);
            window_ = Named(u"^Vantor Piano Tutor$"_s).first();
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
            // The octave strip pins the client area down: a black tick left of C1, red before it.
            const QImage client = ClientArea();
            Require(Named(u".+"_s).size() == 1 && (client.pixel(48, 97) & 0xFFFFFF) == 0x000000 &&
                        (client.pixel(30, 97) & 0xFFFFFF) == 0xFF0000 &&
                        (client.pixel(832, 97) & 0xFFFFFF) == 0x000000,
                    u"at start-up: more than the main window shows, or the octave strip is misplaced"_s);
            ExpectKeys({}, u"at start-up"_s);
            // Its MIDI ports are on the server, so the check at exit that they are gone means something.
            Require(!ForeignPorts().isEmpty(), u"the program has no port on the JACK server"_s);
        });
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        started_ = true;
    }
    void cleanup()
    {
        if (QTest::currentTestFailed()) SaveFailure(QLatin1String(QTest::currentTestFunction()));
    }
    void cleanupTestCase()
    {
        if (!started_) SaveFailure(u"initTestCase"_s);
        Stop(program_);
        peer_.reset();
        Stop(xvfb_);
        Stop(jack_);
    }

    // Each row builds on what the rows before it left; the first that fails ends the run.
    void userSteps()
    {
        const KeyColours ceg{{60, Lit}, {64, Lit}, {67, Lit}}, dfa{{62, Lit}, {66, Lit}, {69, Lit}};
        const auto space = [this] { Press(u"space"_s); };
        const auto play = [this](const Messages& m) { return [this, m] { peer_->Play(m); }; };
        const auto click = [](int note, bool on) {
            return on ? Msg(0x99, note, note == 76 ? 110 : 80) : Msg(0x89, note, 0);
        };
        Timeline track;  // the whole track at its own pace
        for (int k = 2, tick = 0; k <= 17; ++k)
            track.push_back({tick += static_cast<int>(Melody[k - 2].first), Events({k})});
        // clang-format off
        const std::vector<UserStep> steps{
            // Entry 0 is the built-in synthesizer; the ports follow as the server lists them.
            {"choosing the peer's port in Midi Out", [this] { ChooseOutput(); }, {}, {}},
            // With no track selected Midi Reset silences channel 16.
            {"clicking Midi Reset", [this] { Click(ResetMidiAt); }, Reset(0x8F), {}},
            // Selecting the track sounds nothing and leaves every key at rest.
            {"opening the file with Ctrl+O and the file dialog", [this] { OpenFile(); }, {}, {}},
            {"space bar, note mode, at 1", space, Events({2}), {{60, Lit}}},
            {"space bar, note mode, at 2", space, Events({3}), {{60, Lit}, {64, Lit}}},
            {"space bar, note mode, at 3", space, Events({4}), ceg},
            // The chord's note-offs go out on the way to the next note-on.
            {"space bar, note mode, at 4", space, Events({5, 6, 7, 8}), {{62, Lit}}},
            {"ticking Chord Mode", [this] { Click(ChordModeAt); }, {}, {{62, Lit}}},
            // From the note-on where note mode stopped, the chord step plays it again.
            {"space bar, Chord Mode, at 8", space, Events({8, 9, 10}), dfa},
            {"space bar, Chord Mode, at 11", space, Events({11, 12, 13, 14}), {{72, Lit}}},
            // Silence, then the walk back in reverse order to the previous chord's release point.
            {"Step Backward, Chord Mode, at 15", [this] { Click(TagBackAt); }, Reset(0x90) + Events({15, 14, 13, 12}), dfa},
            {"typing 3 over the step number 11", [this] { Click(TagNumberAt), Press(u"ctrl+a"_s), Type(u"3"_s); }, Reset(0x90), {}},
            {"Set Mark at 3", [this] { Click(TagMarkAt); }, {}, {}},
            {"space bar, Chord Mode, at 3", space, Events({3, 4}), {{64, Lit}, {67, Lit}}},
            {"space bar, Chord Mode, at 5", space, Events({5, 6, 7, 8, 9, 10}), dfa},
            // Back at the mark: only silence is sent, and the note held there is shown.
            {"Goto Mark (3) at 11", [this] { Click(TagGotoAt); }, Reset(0x90), {{60, Lit}}},
            {"Goto Begin", [this] { Click(TagStartAt); }, Reset(0x90), {}},
            {"Play at 1, Stop during the last note", [this] { Click(CmdPlayAt); }, {}, {}, track, 1.0, 15},
            // 4/4 (the file states none): a click on each quarter, the bar's first accented,
            // each ended half a beat later; the melody first where both fall.
            {"Ctrl+- three times (50 %), Practice > Metronome, Play at 1",
             [this] { Press(u"ctrl+minus"_s), Keys({u"ctrl+minus"_s, u"ctrl+minus"_s}), Menu(u"alt+p"_s, u"m"_s), Click(CmdPlayAt); }, {}, {},
             {{0, Events({2, 3, 4}) + Messages{click(76, true)}}, {48, {click(76, false)}},
              {96, Events({5, 6, 7, 8, 9, 10}) + Messages{click(77, true)}}, {144, {click(77, false)}},
              {192, Events({11, 12, 13, 14}) + Messages{click(77, true)}}, {240, Events({15}) + Messages{click(77, false)}},
              {288, Events({16}) + Messages{click(77, true)}}, {336, {click(77, false)}},
              {384, {click(76, true)}}, {432, {click(76, false)}}, {480, Events({17})}}, 0.5},
            // The echo keeps every byte: channel 2, three velocities, a velocity-0 release.
            {"the peer pressing C4 E4 G4 on channel 2", play({Msg(0x91, 60, 80), Msg(0x91, 64, 81), Msg(0x91, 67, 82)}),
             {Msg(0x91, 60, 80), Msg(0x91, 64, 81), Msg(0x91, 67, 82)}, {{60, Pressed}, {64, Pressed}, {67, Pressed}}},
            {"the peer releasing them", play({Msg(0x81, 60, 0), Msg(0x91, 64, 0), Msg(0x81, 67, 127)}),
             {Msg(0x81, 60, 0), Msg(0x91, 64, 0), Msg(0x81, 67, 127)}, {}},
            // C8 steps forward (Chord Mode, at 1) before its own echo.
            {"the peer pressing C8 at 1", play({Msg(0x90, 108, 100)}), Events({2, 3, 4}) + Messages{Msg(0x90, 108, 100)},
             {{60, Lit}, {64, Lit}, {67, Lit}, {108, Pressed}}},
            {"the peer releasing C8", play({Msg(0x80, 108, 64)}), {Msg(0x80, 108, 64)}, ceg},
            // A key of the chord shown by stepping goes back to lit, not to rest.
            {"the peer pressing E4", play({Msg(0x90, 64, 48)}), {Msg(0x90, 64, 48)}, {{60, Lit}, {64, Pressed}, {67, Lit}}},
            {"the peer releasing E4", play({Msg(0x80, 64, 0)}), {Msg(0x80, 64, 0)}, ceg},
            // B7 steps back: silence, the walk back to 1, then the echo.
            {"the peer pressing B7 at 5", play({Msg(0x90, 107, 100)}), Reset(0x90) + Events({5, 4, 3, 2}) + Messages{Msg(0x90, 107, 100)}, {{107, Pressed}}},
            {"the peer releasing B7", play({Msg(0x80, 107, 64)}), {Msg(0x80, 107, 64)}, {}},
            // Chord Mode at 1: the program waits for C E G; a whole chord steps and sends only the echoes.
            {"ticking Practice > Wait for My Notes", [this] { Menu(u"alt+p"_s, u"w"_s); }, {}, {{60, Target}, {64, Target}, {67, Target}}},
            {"the peer pressing C4 E4", play({Msg(0x90, 60, 70), Msg(0x90, 64, 71)}), {Msg(0x90, 60, 70), Msg(0x90, 64, 71)},
             {{60, Pressed}, {64, Pressed}, {67, Target}}},
            {"the peer pressing a wrong C#4", play({Msg(0x90, 61, 72)}), {Msg(0x90, 61, 72)},
             {{60, Pressed}, {61, Wrong}, {64, Pressed}, {67, Target}}},
            {"the peer releasing C#4, pressing G4", play({Msg(0x80, 61, 0), Msg(0x90, 67, 73)}), {Msg(0x80, 61, 0), Msg(0x90, 67, 73)},
             {{60, Lit}, {64, Lit}, {67, Lit}, {62, Target}, {66, Target}, {69, Target}}},
            {"the peer releasing the chord", play({Msg(0x80, 60, 0), Msg(0x90, 64, 0), Msg(0x80, 67, 64)}),
             {Msg(0x80, 60, 0), Msg(0x90, 64, 0), Msg(0x80, 67, 64)}, {{60, Lit}, {64, Lit}, {67, Lit}, {62, Target}, {66, Target}, {69, Target}}},
            {"unticking Wait for My Notes", [this] { Menu(u"alt+p"_s, u"w"_s); }, {}, ceg}};
        // clang-format on
        for (const UserStep& step : steps) {
            const int overruns = Overruns();
            QString failure = Attempt([&] { Perform(step); });
            // Named beside a failure, the server's overruns tell a loaded machine from a fault.
            if (!failure.isEmpty() && Overruns() > overruns)
                failure += u" [the JACK server logged %1 overruns in this step]"_s.arg(Overruns() - overruns);
            QVERIFY2(failure.isEmpty(), qPrintable(failure));
        }
    }
    void exitingLeavesNothingBehind()
    {
        const QString failure = Attempt([&] {
            Menu(u"alt+f"_s, u"x"_s);
            const qint64 pid = program_.processId();
            Require(program_.waitForFinished(30000), u"the program still runs 30 s after File > Exit"_s);
            Require(program_.exitStatus() == QProcess::NormalExit && program_.exitCode() == 0 &&
                        ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH,
                    u"File > Exit: the program ended with exit code %1"_s.arg(program_.exitCode()));
            QFile log(outputDir_ + u"/vantor-stderr.log"_s);
            const QString text =
                log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : QString();
            Require(log.isOpen() && !text.contains(QRegularExpression(
                                        u"ERROR: (Address|Leak)Sanitizer|runtime error:"_s)),
                    u"a sanitizer report: "_s + text.right(3000));
            // Its clients went with it: nothing of the program stays on the MIDI server.
            QStringList left;
            WaitFor([&] { return (left = ForeignPorts()).isEmpty(); }, 5000);
            Require(left.isEmpty(), u"ports left on the JACK server: "_s + left.join(u", "_s));
            // It keeps no settings and writes no files: its home holds only the song.
            QStringList written;
            QDirIterator files(home_.path(), QDir::Files | QDir::Hidden | QDir::System,
                               QDirIterator::Subdirectories);
            while (files.hasNext())
                if (const QString file = files.next(); file != songPath_)
                    written << QDir(home_.path()).relativeFilePath(file);
            Require(written.isEmpty(), u"the program wrote "_s + written.join(u", "_s));
        });
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

private:
    int Overruns() const
    {
        QFile log(outputDir_ + u"/jackd.log"_s);
        return log.open(QIODevice::ReadOnly) ? static_cast<int>(log.readAll().count("XRun")) : 0;
    }
    void SaveFailure(const QString& name) const
    {
        const QString path = outputDir_ + u'/' + name + u".png"_s;
        const QString failure = Attempt([&] { Require(ClientArea().save(path), u"cannot save "_s + path); });
        QFile log(outputDir_ + u"/vantor-stderr.log"_s);
        qWarning().noquote() << (failure.isEmpty() ? u"client area after the failure: "_s + path : failure)
                             << "\nvantor's stderr ends:"
                             << (log.open(QIODevice::ReadOnly) ? log.readAll().right(1500) : QByteArray());
    }
    void ChooseOutput()
    {
        const qsizetype entry = Peer::WritablePorts()
                                    .filter(QRegularExpression(u"^(?!Vantor)"_s))
                                    .indexOf(QLatin1String(Peer::RecordPort)) +
                                1;
        Require(entry > 0, u"the peer's port is not on the MIDI server"_s);
        const QString pid = QString::number(program_.processId());
        const qsizetype before = Named(pid, u"--pid"_s).size();
        Click(OutputDevComboAt);
        // The list drops down as a window of its own.
        WaitFor([&] { return Named(pid, u"--pid"_s).size() > before; }, 5000);
        Pause(200);
        Keys(QStringList{u"Home"_s} + QStringList(entry, u"Down"_s) + QStringList{u"Return"_s});
    }
    void OpenFile()
    {
        const QString dialog = u"^Open MIDI File$"_s;
        Press(u"ctrl+o"_s);
        Require(WaitFor([&] { return !Named(dialog).isEmpty(); }, 15000), u"no dialog \"Open MIDI File\""_s);
        Focus(Named(dialog).first());
        Pause(300);
        Type(songPath_);
        // The name box's completer may swallow the first Return.
        for (int attempt = 0; attempt < 3 && !Named(dialog).isEmpty(); ++attempt)
            Keys({u"Return"_s}), WaitFor([&] { return Named(dialog).isEmpty(); }, 3000);
        Pause(500);
        Require(Named(u".+"_s).size() == 1, u"the dialog stayed open, or another window showed"_s);
    }
};

QTEST_GUILESS_MAIN(E2ETest)
#include "test_e2e.moc"
