// The real program, end to end: the vantor binary in a private X server, talking
// MIDI through a private JACK server (synchronous mode: asynchronous clients that
// miss a period on a loaded machine get their MIDI buffers doubled or dropped) to a
// peer that this test plays itself. The test acts only as a user would (keys, clicks
// at the controls' places) and checks the bytes that reach the peer and the key
// indicators on the screen. What the window does in-process is proven by the window
// tests; these steps prove the real program, the JACK path and the screen. Tolerances
// assume the sanitizer build alone on two cores: messages within 10 s, then 400 ms
// of quiet; the screen within 8 s; played notes within PlaybackToleranceMs of the
// file's spacing, against the median latency (a JACK period is 5.3 ms).

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

constexpr int ClientWidth = 866, ClientHeight = 185;
constexpr int ArrivalTimeoutMs = 10000, QuietMs = 400, ScreenTimeoutMs = 8000;
constexpr double PlaybackToleranceMs = 15.0;
constexpr QRgb Lit = 0x404040, Pressed = 0x0000A0, Target = 0x00B000;
constexpr QPoint OutputDevComboAt{64 + 92, 16 + 10}, ChordModeAt{534 + 7, 44 + 8},
    CmdPlayAt{822 + 13, 42 + 10};

Bytes Msg(int status, int a, int b)
{
    return {std::uint8_t(status), std::uint8_t(a), std::uint8_t(b)};
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
bool WaitFor(const std::function<bool()>& done, int timeoutMs, int stepMs = 100)
{
    QElapsedTimer timer;
    timer.start();
    for (; !done(); QThread::msleep(static_cast<unsigned long>(stepMs)))
        if (timer.elapsed() > timeoutMs) return false;
    return true;
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

Messages Events(int first, int last)  // in that order, backwards when first > last
{
    Messages messages;
    for (int k = first;; k += first <= last ? 1 : -1) {
        messages.push_back(Melody.at(static_cast<std::size_t>(k - 2)).second);
        if (k == last) return messages;
    }
}

// Midi Reset: sustain off, a velocity-0 note-on of every note on the selected
// track's channel, then sustain off and All Notes Off on each of the 16 channels.
Messages Reset()
{
    Messages reset{Msg(0xB0, 64, 0)};
    for (int note = 0; note < 128; ++note)
        reset.push_back(Msg(0x90, note, 0));
    for (int channel = 0; channel < 16; ++channel)
        reset.insert(reset.end(), {Msg(0xB0 | channel, 64, 0), Msg(0xB0 | channel, 123, 0)});
    return reset;
}

QString Hex(const Messages& messages, std::size_t from)
{
    QStringList hex;
    for (std::size_t i = from; i < messages.size() && i < from + 4; ++i)
        hex << QString::fromLatin1(
            QByteArray(reinterpret_cast<const char*>(messages[i].data()), qsizetype(messages[i].size()))
                .toHex(' '));
    return u"["_s + hex.join(u", "_s) + u"]"_s;
}

// The per-channel tail of a Midi Reset may come in any order: each run of
// sustain-off and All Notes Off messages is compared as a set.
QString Mismatch(Messages got, Messages want)
{
    for (Messages* list : {&got, &want})
        for (auto it = list->begin(); it != list->end();) {
            const auto end = std::find_if_not(it, list->end(), [](const Bytes& m) {
                return (m[0] & 0xF0) == 0xB0 && (m[1] == 64 || m[1] == 123) && m[2] == 0;
            });
            std::sort(it, end);
            it = end == it ? it + 1 : end;
        }
    if (got == want) return {};
    const auto at =
        std::size_t(std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin());
    return u"the peer received %1 messages, %2 expected; from message %3 it got %4, not %5"_s.arg(got.size())
        .arg(want.size())
        .arg(at)
        .arg(Hex(got, at), Hex(want, at));
}

// Every indicator (the 9 x 9 square of each key, notes 21..108, in client-area
// pixels) against `expected`: empty when all 88 match, else the wrong keys.
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
        for (int y = square.top(); y <= square.bottom(); ++y)
            for (int x = square.left(); x <= square.right(); ++x)
                bad += (client.pixel(x, y) & 0xFFFFFF) != want;
        if (bad > 0)
            wrong << u"note %1 is not #%2 (%3 pixels)"_s.arg(note).arg(want, 6, 16, QChar(u'0')).arg(bad);
    }
    return wrong.join(u"; "_s);
}

// A helper process that must not outlive this one, whatever ends it.
void Launch(QProcess& process, const QString& program, const QString& arguments)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.start(program, arguments.split(u' ', Qt::SkipEmptyParts));
    Require(process.waitForStarted(10000), program + u" did not start: "_s + process.errorString());
}

// Runs a tool to its end: its standard output, or a throw when it fails (exit code
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

// The other program on the MIDI server: it records every message that reaches its
// input port with its arrival time, and plays notes from its output port.
class Peer
{
public:
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
    Arrivals Since(std::size_t from) const
    {
        const std::lock_guard lock(mutex_);
        return {received_.begin() + static_cast<std::ptrdiff_t>(std::min(from, received_.size())),
                received_.end()};
    }
    std::size_t Count() const { return Since(0).size(); }

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
// the indicators it leaves. A timed step's first messages are the track played at
// its ticks' times.
struct UserStep
{
    const char* action;
    std::function<void()> act;
    Messages sent;
    KeyColours shown;
    bool timed = false;
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
    void Press(const QString& key) const
    {
        X({u"windowfocus"_s, u"--sync"_s, window_});
        Keys({key});
    }
    void Menu(const QString& menu, const QString& item) const
    {
        Press(menu);
        QThread::msleep(500);
        Keys({item});
    }
    // At a human pace; then the pointer leaves every window, so no hover effect or
    // tool tip covers what the next screenshot checks.
    void Click(QPoint client) const
    {
        const QPoint at = clientOrigin_ + client;
        X({u"mousemove"_s, u"--sync"_s, QString::number(at.x()), QString::number(at.y())});
        QThread::msleep(150);
        X({u"click"_s, u"1"_s, u"mousemove"_s, u"--sync"_s, u"1270"_s, u"790"_s});
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
                    3000),
                u"jack_lsp cannot list the JACK server's ports"_s);
        return listing.split(u'\n', Qt::SkipEmptyParts)
            .filter(QRegularExpression(u"^(?!(system|E2EPeer|E2EPeerKeys):)"_s));
    }
    void ChooseOutput() const
    {
        const QString pid = QString::number(program_.processId());
        const qsizetype before = Named(pid, u"--pid"_s).size();
        Click(OutputDevComboAt);
        // The list drops down as a window of its own; the peer's port is its one JACK entry.
        WaitFor([&] { return Named(pid, u"--pid"_s).size() > before; }, 5000);
        QThread::msleep(200);
        Keys({u"J"_s, u"Return"_s});
    }
    void OpenFile() const
    {
        const QString dialog = u"^Open MIDI File$"_s;
        Press(u"ctrl+o"_s);
        Require(WaitFor([&] { return !Named(dialog).isEmpty(); }, 15000), u"no dialog \"Open MIDI File\""_s);
        X({u"windowfocus"_s, u"--sync"_s, Named(dialog).first()});
        QThread::msleep(300);
        X({u"type"_s, u"--delay"_s, u"40"_s, songPath_});
        // The name box's completer may swallow the first Return.
        for (int attempt = 0; attempt < 3 && !Named(dialog).isEmpty(); ++attempt)
            Keys({u"Return"_s}), WaitFor([&] { return Named(dialog).isEmpty(); }, 3000);
        QThread::msleep(500);
        Require(Named(u".+"_s).size() == 1, u"the dialog stayed open, or another window showed"_s);
    }

    // ------------------------------------------------------------ what the user must see and hear
    void Perform(const UserStep& step) const
    {
        const std::size_t mark = peer_->Count();
        step.act();
        WaitFor([&] { return peer_->Count() - mark >= step.sent.size(); }, ArrivalTimeoutMs, 5);
        // Then a quiet spell, so that anything sent beyond what is expected shows too.
        for (std::size_t before = SIZE_MAX, after = peer_->Count(); after != before; after = peer_->Count())
            before = after, QThread::msleep(QuietMs);
        const Peer::Arrivals arrivals = peer_->Since(mark);
        Messages got;
        for (const auto& arrival : arrivals)
            got.push_back(arrival.second);
        QString problem = Mismatch(got, step.sent);
        if (problem.isEmpty() && step.timed) problem = OffTime(arrivals);
        if (problem.isEmpty())
            WaitFor([&] { return (problem = IndicatorMismatch(ClientArea(), step.shown)).isEmpty(); },
                    ScreenTimeoutMs, 150);
        Require(problem.isEmpty(), QLatin1String(step.action) + u": "_s + problem);
    }
    // Arrival times against the track's due times; the median lag stands for the
    // path's latency, so one late first note does not shift every comparison.
    static QString OffTime(const Peer::Arrivals& arrivals)
    {
        std::vector<double> lag;
        for (std::size_t i = 0, tick = 0; i < Melody.size(); ++i)
            lag.push_back(
                std::chrono::duration<double, std::milli>(arrivals[i].first - arrivals[0].first).count() -
                double(tick += Melody[i].first) * TempoMicroseconds / 1000.0 / Division);
        std::vector<double> sorted = lag;
        std::sort(sorted.begin(), sorted.end());
        QStringList late;
        for (std::size_t i = 0; i < lag.size(); ++i)
            if (const double off = lag[i] - sorted[lag.size() / 2]; std::abs(off) > PlaybackToleranceMs)
                late << u"message %1 is %2 ms off"_s.arg(i).arg(off, 0, 'f', 1);
        return late.isEmpty() ? QString() : u"off the file's timing: "_s + late.join(u"; "_s);
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
            Launch(jack_, u"jackd"_s, u"-n %1 -S --no-realtime -d dummy -r 48000 -p 256"_s.arg(server));
            Run({}, u"jack_wait"_s, {u"--wait"_s, u"--timeout"_s, u"10"_s});

            // A display of our own, away from :0 where a desktop's server (or a stale
            // socket of one) may answer; -displayfd writes it once clients are accepted.
            const QString wanted = u":%1"_s.arg(100 + QCoreApplication::applicationPid() % 800);
            Launch(xvfb_, u"Xvfb"_s, wanted + u" -displayfd 1 -screen 0 1280x800x24 -nolisten tcp"_s);
            QByteArray number;
            WaitFor([&] { return xvfb_.waitForReadyRead(200), (number += xvfb_.readAll()).contains('\n'); },
                    15000, 0);
            Require(number.contains('\n'), u"Xvfb gave no display number"_s);
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
            const QString title = u"^Vantor Piano Tutor$"_s;
            Require(WaitFor(
                        [&] {
                            Require(program_.state() == QProcess::Running, u"vantor ended at start-up"_s);
                            return !Named(title).isEmpty();
                        },
                        60000),
                    u"the main window \"Vantor Piano Tutor\" did not show within 60 s"_s);
            window_ = Named(title).first();
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
                    u"the window is %1 x %2, not 866 wide over a 185-row client area"_s.arg(geometry.width())
                        .arg(geometry.height()));
            clientOrigin_ = QPoint(geometry.x(), geometry.y() + geometry.height() - ClientHeight);
            // Its MIDI ports are on the server, so the check at exit that they are gone means something.
            Require(!ForeignPorts().isEmpty(), u"the program has no port on the JACK server"_s);
        });
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }
    void cleanup()
    {
        if (!QTest::currentTestFailed()) return;
        const QString shot = outputDir_ + u'/' + QLatin1String(QTest::currentTestFunction()) + u".png"_s;
        Attempt([&] { ClientArea().save(shot); });
        QFile log(outputDir_ + u"/vantor-stderr.log"_s);
        qWarning().noquote() << "screen:" << shot << "\nvantor's stderr ends:"
                             << (log.open(QIODevice::ReadOnly) ? log.readAll().right(1500) : QByteArray());
    }
    void cleanupTestCase()
    {
        for (QProcess* process : {&program_, &xvfb_, &jack_}) {
            process->terminate();
            if (!process->waitForFinished(10000)) process->kill();
            process->waitForFinished(5000);
            peer_.reset();  // after the program, before the servers
        }
    }

    // Each row builds on what the rows before it left; the first that fails ends the run.
    void userSteps()
    {
        const KeyColours ceg{{60, Lit}, {64, Lit}, {67, Lit}};
        const auto peer = [this](const Messages& m) { return [this, m] { peer_->Play(m); }; };
        const Messages press{Msg(0x91, 60, 80), Msg(0x91, 64, 81), Msg(0x91, 67, 82)};
        const Messages release{Msg(0x81, 60, 0), Msg(0x91, 64, 0), Msg(0x81, 67, 127)};
        const Messages b7{Msg(0x90, 107, 100), Msg(0x80, 107, 64)},
            c8{Msg(0x90, 108, 100), Msg(0x80, 108, 0)};
        const Messages dfa{Msg(0x90, 62, 70), Msg(0x90, 66, 71), Msg(0x90, 69, 72)};
        // clang-format off
        const std::vector<UserStep> steps{
            {"choosing the peer's port in Midi Out", [this] { ChooseOutput(); }, {}, {}},
            {"opening the file with Ctrl+O and the file dialog", [this] { OpenFile(); }, {}, {}},
            // Playback follows the file's tempo and ends with silence.
            {"Play at 1", [this] { Click(CmdPlayAt); }, Events(2, 17) + Reset(), {}, true},
            {"ticking Chord Mode", [this] { Click(ChordModeAt); }, {}, {}},
            {"space bar at 1", [this] { Press(u"space"_s); }, Events(2, 4), ceg},
            // The echo keeps every byte: channel 2, each velocity, a velocity-0 release;
            // a released key of the chord shown goes back to lit, not to rest.
            {"the peer pressing C4 E4 G4 on channel 2", peer(press), press, {{60, Pressed}, {64, Pressed}, {67, Pressed}}},
            {"the peer releasing them", peer(release), release, ceg},
            // B7 steps back (silence, then the walk back to 1) and C8 forward, each before its echo.
            {"the peer playing B7 at 5", peer(b7), Reset() + Events(5, 2) + b7, {}},
            {"the peer playing C8 at 1", peer(c8), Events(2, 4) + c8, ceg},
            // The program waits for D F# A: the played chord steps and only the echoes sound.
            {"ticking Practice > Wait for My Notes at 5", [this] { Menu(u"alt+p"_s, u"w"_s); }, {},
             {{60, Lit}, {64, Lit}, {67, Lit}, {62, Target}, {66, Target}, {69, Target}}},
            {"the peer pressing D F# A", peer(dfa), dfa, {{62, Lit}, {66, Lit}, {69, Lit}, {72, Target}}}};
        // clang-format on
        for (const UserStep& step : steps) {
            const QString failure = Attempt([&] { Perform(step); });
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
            Require(
                log.isOpen() && !text.contains(QRegularExpression(u"ERROR: \\w+Sanitizer|runtime error:"_s)),
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
                if (const QString file = files.next(); file != songPath_) written << file;
            Require(written.isEmpty(), u"the program wrote "_s + written.join(u", "_s));
        });
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }
};

QTEST_GUILESS_MAIN(E2ETest)
#include "test_e2e.moc"
