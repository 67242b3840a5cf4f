// The real program, end to end: the vantor binary in a private X server, talking
// MIDI through the tests' JACK server to a peer that this test plays itself. The
// test acts only as a user would (keys, clicks at the controls' places) and checks
// the bytes that reach the peer and the key indicators on the screen. What the
// window does in-process the window tests prove; these steps prove the real
// program, the JACK path and the screen. Tolerances assume the sanitizer build
// alone on two cores: messages within 10 s, then 400 ms of quiet; the screen within
// 8 s; played notes within 15 ms of the file's spacing, against the median latency
// (a JACK period is 5.3 ms).

#include <RtMidi.h>
#include <sys/prctl.h>
#include <QImage>
#include <QtTest>
#include <csignal>
#include <functional>
#include <map>

#include "support/SmfWriter.h"

using namespace Qt::StringLiterals;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Messages = std::vector<Bytes>;
using KeyColours = std::map<int, QRgb>;  // indicators that differ from the key's resting colour

constexpr int ClientWidth = 866, ClientHeight = 185;
constexpr QRgb Lit = 0x404040, Pressed = 0x0000A0, Target = 0x00B000;
constexpr QPoint OutputDevComboAt{156, 26}, ChordModeAt{541, 52}, CmdPlayAt{835, 52};  // in the client area

Bytes Msg(int status, int a, int b)
{
    return {std::uint8_t(status), std::uint8_t(a), std::uint8_t(b)};
}
Messages operator+(Messages a, const Messages& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
bool WaitFor(const std::function<bool()>& done, int timeoutMs, unsigned long stepMs = 100)
{
    for (const QDeadlineTimer deadline(timeoutMs); !done(); QThread::msleep(stepMs))
        if (deadline.hasExpired()) return false;
    return true;
}
// A tool's standard output; its complaints go to the test's log, and what it failed
// to do shows in the check that follows.
QByteArray Run(const QString& program, const QStringList& arguments)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(program, arguments);
    tool.waitForFinished(60000);
    return tool.readAllStandardOutput();
}

// The practice track ("Right hand"): event 1 is its name, these are events 2 to 17.
constexpr int TempoMicroseconds = 400000, Division = 96;  // not the 500000 a file without one gets
constexpr int TempoChangeTick = 240;                      // from here on, ticks twice as long
// clang-format off
const std::vector<std::pair<std::uint32_t, Bytes>> Melody{
    {0, Msg(0x90, 60, 100)}, {0, Msg(0x90, 64, 90)}, {0, Msg(0x90, 67, 80)},     // 2-4 chord C E G
    {96, Msg(0x80, 60, 64)}, {0, Msg(0x80, 64, 64)}, {0, Msg(0x80, 67, 64)},     // 5-7
    {0, Msg(0x90, 62, 100)}, {0, Msg(0x90, 66, 100)}, {0, Msg(0x90, 69, 100)},   // 8-10 chord D F# A
    {96, Msg(0x90, 62, 0)}, {0, Msg(0x80, 66, 64)}, {0, Msg(0x80, 69, 64)},      // 11-13 (velocity 0)
    {0, Msg(0x90, 72, 110)}, {48, Msg(0x80, 72, 64)},                            // 14-15
    {48, Msg(0x90, 73, 100)}, {192, Msg(0x80, 73, 64)}};                         // 16-17 a long C#5
// clang-format on

Messages Events(int first, int last)  // backwards when first > last
{
    Messages messages;
    for (int k = first, step = first <= last ? 1 : -1; k != last + step; k += step)
        messages.push_back(Melody.at(static_cast<std::size_t>(k - 2)).second);
    return messages;
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

// Empty when the peer got what was expected, else where the two first differ.
QString Mismatch(const Messages& got, const Messages& want)
{
    if (got == want) return {};
    const auto at =
        std::size_t(std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin());
    const Bytes m = at < got.size() ? got[at] : Bytes{};
    const QByteArray bytes(reinterpret_cast<const char*>(m.data()), qsizetype(m.size()));
    return QString::asprintf("%zu messages, %zu expected; message %zu is [%s]", got.size(), want.size(), at,
                             bytes.toHex(' ').constData());
}

// Every indicator (the middle of the 9 x 9 square on each key, notes 21..108, in
// client-area pixels) against `expected`: empty when all 88 match.
QString IndicatorMismatch(const QImage& client, const KeyColours& expected)
{
    static const std::map<int, int> blackOffset{{1, 11}, {3, 13}, {6, 10}, {8, 12}, {10, 14}};
    QStringList wrong;
    for (int note = 21, whites = 0; note <= 108; ++note) {
        const bool black = blackOffset.contains(note % 12);  // it stands on the white key left of it
        const QPoint middle = black ? QPoint(16 * whites + blackOffset.at(note % 12) + 4, 142)
                                    : QPoint(16 * whites++ + 24, 162);
        const QRgb want = expected.contains(note) ? expected.at(note) : black ? 0xC0C0C0 : 0xFFFFFF;
        if (const QRgb seen = client.pixel(middle) & 0xFFFFFF; seen != want)
            wrong << u"note %1 shows #%2, not #%3"_s.arg(note).arg(seen, 6, 16).arg(want, 6, 16);
    }
    return wrong.join(u"; "_s);
}

// Arrival times (ms) against the track's due times; the median lag stands for the
// path's latency, so one late first note does not shift every comparison.
QString OffTime(const std::vector<double>& arrivals)
{
    std::vector<double> lag;
    for (std::size_t i = 0, tick = 0; i < Melody.size(); ++i) {
        tick += Melody[i].first;
        const std::size_t slow = tick > TempoChangeTick ? tick - TempoChangeTick : 0;
        lag.push_back(arrivals[i] - double(tick + slow) * TempoMicroseconds / 1000.0 / Division);
    }
    std::vector<double> sorted = lag;
    std::nth_element(sorted.begin(), sorted.begin() + long(lag.size() / 2), sorted.end());
    for (std::size_t i = 0; i < lag.size(); ++i)
        if (const double off = lag[i] - sorted[lag.size() / 2]; std::abs(off) > 15.0)
            return u"message %1 is %2 ms off the file's timing"_s.arg(i).arg(off, 0, 'f', 1);
    return {};
}

// Every port on the JACK server that is neither the driver's nor the peer's.
QStringList ForeignPorts()
{
    return QString::fromLocal8Bit(Run(u"jack_lsp"_s, {}))
        .split(u'\n', Qt::SkipEmptyParts)
        .filter(QRegularExpression(u"^(?!(system|E2EPeer|E2EPeerKeys):)"_s));
}

// One user step: what the user does, the bytes the peer must receive after it and
// the indicators it leaves. A timed step's first messages are the track, played at
// its ticks' times.
struct UserStep
{
    const char* action;
    std::function<void()> act;  // or the peer plays `played`
    Messages played, sent;
    KeyColours shown;
    bool timed = false;
};

}  // namespace

class E2ETest : public QObject
{
    Q_OBJECT

    QProcess xvfb_, program_;
    QTemporaryDir home_{QDir::tempPath() + u"/vantor-e2e-XXXXXX"_s};
    QString songPath_, window_;
    int clientTop_ = 0;  // no window manager: no frame, the client area under the menu bar
    // The peer: one JACK client records what reaches it, another plays as a MIDI keyboard.
    RtMidiIn record_{RtMidi::UNIX_JACK, "E2EPeer", 4096};
    RtMidiOut keys_{RtMidi::UNIX_JACK, "E2EPeerKeys"};
    Messages received_;
    std::vector<double> arrivals_;  // ms since the first message; RtMidi stamps them as they come

    std::size_t Received()
    {
        Bytes m;
        for (double seconds = record_.getMessage(&m); !m.empty(); seconds = record_.getMessage(&m)) {
            received_.push_back(m);
            arrivals_.push_back((arrivals_.empty() ? 0.0 : arrivals_.back()) + seconds * 1000.0);
        }
        return received_.size();
    }
    // There is no window manager: the keyboard goes to the window focused here (%W).
    void X(QString command) const { Run(u"xdotool"_s, command.replace(u"%W"_s, window_).split(u' ')); }
    QStringList Named(const QString& search) const
    {
        return QString::fromLocal8Bit(Run(u"xdotool"_s, (u"search --onlyvisible "_s + search).split(u' ')))
            .split(u'\n', Qt::SkipEmptyParts);
    }
    // Then the pointer leaves the window, so no hover effect or tool tip covers what
    // the next screenshot checks.
    void Click(QPoint at) const
    {
        X(u"mousemove --window %W --sync %1 %2 sleep 0.15 click 1 mousemove --sync 1270 790"_s.arg(at.x())
              .arg(clientTop_ + at.y()));
    }
    QImage Window() const
    {
        return QImage::fromData(Run(u"import"_s, {u"-window"_s, window_, u"png:-"_s}), "PNG")
            .convertToFormat(QImage::Format_RGB32);
    }
    void ChooseOutput() const
    {
        Click(OutputDevComboAt);
        // The list drops down as a window of its own beside the main window; the peer's
        // port is its one JACK entry.
        WaitFor([&] { return Named(u"--pid "_s + QString::number(program_.processId())).size() > 1; }, 5000);
        X(u"sleep 0.2 key J Return"_s);
    }
    void OpenFile() const
    {
        const QString dialog = u"--name ^Open.MIDI.File$"_s;
        X(u"windowfocus --sync %W key ctrl+o"_s);
        QVERIFY2(WaitFor([&] { return !Named(dialog).isEmpty(); }, 15000), "no dialog \"Open MIDI File\"");
        QThread::msleep(300);
        Run(u"xdotool"_s, {u"windowfocus"_s, u"--sync"_s, Named(dialog).first(), u"type"_s, songPath_});
        // The name box's completer may swallow the first Return.
        for (int attempt = 0; attempt < 3 && !Named(dialog).isEmpty(); ++attempt) {
            X(u"key Return"_s);
            WaitFor([&] { return Named(dialog).isEmpty(); }, 3000);
        }
        QThread::msleep(500);
        QVERIFY2(Named(u"--name .+"_s).size() == 1, "the dialog stayed open, or another window showed");
    }
    void Perform(const UserStep& step)
    {
        QString problem = u"not done"_s;
        // A loaded machine may hold up one playback: the file's timing must hold in one of two.
        for (int round = step.timed ? 2 : 1; round > 0 && !problem.isEmpty(); --round) {
            const std::size_t mark = Received();
            for (const Bytes& message : step.played)
                keys_.sendMessage(&message);
            if (step.act) step.act();
            WaitFor([&] { return Received() - mark >= step.sent.size(); }, 10000, 5);
            // Then a quiet spell, so that anything sent beyond what is expected shows too.
            for (std::size_t before = SIZE_MAX; Received() != before; QThread::msleep(400))
                before = Received();
            problem = Mismatch({received_.begin() + long(mark), received_.end()}, step.sent);
            if (problem.isEmpty() && step.timed)
                problem = OffTime({arrivals_.begin() + long(mark), arrivals_.end()});
        }
        if (problem.isEmpty()) {
            const auto client = [this] { return Window().copy(0, clientTop_, ClientWidth, ClientHeight); };
            WaitFor([&] { return (problem = IndicatorMismatch(client(), step.shown)).isEmpty(); }, 8000, 150);
        }
        QVERIFY2(problem.isEmpty(), qPrintable(QLatin1String(step.action) + u": "_s + problem));
    }

private slots:
    void initTestCase()
    {
        vantor::test::SmfWriter writer(1, Division);
        auto& conductor = writer.AddTrack().Name(0, "Tempo").Tempo(0, TempoMicroseconds);
        conductor.Tempo(TempoChangeTick, 2 * TempoMicroseconds);
        auto& hand = writer.AddTrack().Name(0, "Right hand");
        for (const auto& [delta, message] : Melody)
            hand.Raw(delta, message);
        songPath_ = vantor::test::SmfWriter::WriteFile(home_, u"practice.mid"_s, writer.Bytes());
        // The peer's ports exist before the program starts, so its lists show them.
        record_.ignoreTypes(false, false, false);
        record_.openVirtualPort("record");
        keys_.openVirtualPort("play");

        // A display of our own, away from :0 where a desktop's server (or a stale
        // socket of one) may answer; -displayfd writes it once clients are accepted.
        for (QProcess* process : {&xvfb_, &program_})
            process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        xvfb_.start(u"Xvfb"_s, u":%1 -displayfd 1 -screen 0 1280x800x24 -nolisten tcp"_s
                                   .arg(100 + QCoreApplication::applicationPid() % 800)
                                   .split(u' '));
        QVERIFY(xvfb_.waitForReadyRead(15000));  // the number comes in one short write
        // The tools and the program share the display, and a home that holds only the song.
        qputenv("DISPLAY", ':' + xvfb_.readAll().trimmed());
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("HOME", home_.path().toLocal8Bit());
        program_.setWorkingDirectory(home_.path());
        program_.setProcessChannelMode(QProcess::ForwardedChannels);
        program_.start(qEnvironmentVariable("VANTOR_BUILD_DIR") + u"/src/vantor"_s, {});
        QVERIFY2(program_.waitForStarted(10000), qPrintable(program_.program()));
        QSize size;
        WaitFor(
            [&] {
                window_ = Named(u"--name ^Vantor.Piano.Tutor$"_s).value(0);
                return program_.state() != QProcess::Running ||
                       (!window_.isEmpty() && (size = Window().size()).width() == ClientWidth);
            },
            60000);
        QVERIFY2(size.width() == ClientWidth && size.height() > ClientHeight,
                 "no main window with its client area");
        clientTop_ = size.height() - ClientHeight;
        // Its MIDI ports are on the server, so the check at exit that they are gone means something.
        QVERIFY(!ForeignPorts().isEmpty());
    }
    void cleanupTestCase()
    {
        xvfb_.terminate();  // so it removes its lock file and socket
        xvfb_.waitForFinished();
    }

    // Each row builds on what the rows before it left; the first that fails ends the run.
    void userSteps()
    {
        const KeyColours ceg{{60, Lit}, {64, Lit}, {67, Lit}};
        const Messages press{Msg(0x91, 60, 80), Msg(0x91, 64, 81), Msg(0x91, 67, 82)};
        const Messages release{Msg(0x81, 60, 0), Msg(0x91, 64, 0), Msg(0x81, 67, 127)};
        const Messages b7{Msg(0x90, 107, 100), Msg(0x80, 107, 64)},
            c8{Msg(0x90, 108, 100), Msg(0x80, 108, 0)};
        const Messages dfa{Msg(0x90, 62, 70), Msg(0x90, 66, 71), Msg(0x90, 69, 72)};
        // clang-format off
        const std::vector<UserStep> steps{
            {"choosing the peer's port in Midi Out", [this] { ChooseOutput(); }, {}, {}, {}},
            {"opening the file with Ctrl+O and the file dialog", [this] { OpenFile(); }, {}, {}, {}},
            // Playback follows the file's tempo and its change, and ends with silence.
            {"Play at 1, through the tempo change", [this] { Click(CmdPlayAt); }, {},
             Events(2, 17) + Reset(), {}, true},
            {"ticking Chord Mode", [this] { Click(ChordModeAt); }, {}, {}, {}},
            {"space bar at 1", [this] { X(u"windowfocus --sync %W key space"_s); }, {}, Events(2, 4), ceg},
            // The echo keeps every byte: channel 2, each velocity, a velocity-0 release;
            // a released key of the chord shown goes back to lit, not to rest.
            {"the peer pressing C4 E4 G4 on channel 2", {}, press, press,
             {{60, Pressed}, {64, Pressed}, {67, Pressed}}},
            {"the peer releasing them", {}, release, release, ceg},
            // B7 steps back (silence, then the walk back to 1) and C8 forward, each before its echo.
            {"the peer playing B7 at 5", {}, b7, Reset() + Events(5, 2) + b7, {}},
            {"the peer playing C8 at 1", {}, c8, Events(2, 4) + c8, ceg},
            // The program waits for D F# A: the played chord steps and only the echoes sound.
            {"ticking Practice > Wait for My Notes at 5",
             [this] { X(u"windowfocus --sync %W key alt+p sleep 0.5 key w"_s); }, {}, {},
             {{60, Lit}, {64, Lit}, {67, Lit}, {62, Target}, {66, Target}, {69, Target}}},
            {"the peer pressing D F# A", {}, dfa, dfa, {{62, Lit}, {66, Lit}, {69, Lit}, {72, Target}}}};
        // clang-format on
        for (auto step = steps.begin(); step != steps.end() && !QTest::currentTestFailed(); ++step)
            Perform(*step);
    }
    void exitingLeavesNothingBehind()
    {
        X(u"windowfocus --sync %W key alt+f sleep 0.5 key x"_s);
        QVERIFY2(program_.waitForFinished(30000), "the program still runs 30 s after File > Exit");
        // A sanitizer's report ends the program with another code.
        QVERIFY2(program_.exitStatus() == QProcess::NormalExit && program_.exitCode() == 0,
                 qPrintable(u"File > Exit: exit code %1"_s.arg(program_.exitCode())));
        // Its clients went with it: nothing of the program stays on the MIDI server.
        QTRY_COMPARE_WITH_TIMEOUT(ForeignPorts(), QStringList(), 5000);
        // It keeps no settings and writes no files: its home holds only the song.
        QCOMPARE(QDir(home_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{u"practice.mid"_s});
    }
};

QTEST_GUILESS_MAIN(E2ETest)
#include "test_e2e.moc"
