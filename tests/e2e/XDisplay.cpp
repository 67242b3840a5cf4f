#include "XDisplay.h"

#include <sys/prctl.h>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QThread>
#include <csignal>
#include <stdexcept>

namespace vantor::e2e {

namespace {

constexpr QPoint ParkingSpot{1270, 790};

[[noreturn]] void Fail(const QString& text)
{
    throw std::runtime_error(text.toStdString());
}

}  // namespace

XDisplay::XDisplay()
{
    // The server must not outlive this process, whatever ends it.
    server_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    server_.setProcessChannelMode(QProcess::SeparateChannels);
    server_.start(
        QStringLiteral("Xvfb"),
        {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
         QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!server_.waitForStarted(10000)) Fail(QStringLiteral("Xvfb did not start: ") + server_.errorString());
    // -displayfd writes the display number it took once the server accepts clients.
    QByteArray number;
    QElapsedTimer timer;
    timer.start();
    while (!number.contains('\n') && timer.elapsed() < 15000) {
        server_.waitForReadyRead(200);
        number += server_.readAllStandardOutput();
        if (server_.state() == QProcess::NotRunning)
            Fail(QStringLiteral("Xvfb ended at start-up: ") +
                 QString::fromLocal8Bit(server_.readAllStandardError()));
    }
    if (!number.contains('\n')) Fail(QStringLiteral("Xvfb gave no display number within 15 s"));
    name_ = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
}

XDisplay::~XDisplay()
{
    Stop();
}

bool XDisplay::Stop()
{
    if (server_.state() == QProcess::NotRunning) return true;
    server_.terminate();
    if (!server_.waitForFinished(5000)) {
        server_.kill();
        server_.waitForFinished(5000);
    }
    return server_.state() == QProcess::NotRunning;
}

QString XDisplay::Run(const QString& program, const QStringList& arguments, int timeoutMs) const
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), name_);
    tool.setProcessEnvironment(environment);
    tool.start(program, arguments);
    if (!tool.waitForFinished(timeoutMs)) {
        tool.kill();
        tool.waitForFinished(1000);
        Fail(QStringLiteral("%1 %2 did not finish within %3 ms")
                 .arg(program, arguments.join(QLatin1Char(' ')))
                 .arg(timeoutMs));
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        Fail(QStringLiteral("%1 %2 failed (exit code %3): %4")
                 .arg(program, arguments.join(QLatin1Char(' ')))
                 .arg(tool.exitCode())
                 .arg(QString::fromLocal8Bit(tool.readAllStandardError()).trimmed()));
    return QString::fromLocal8Bit(tool.readAllStandardOutput());
}

QStringList XDisplay::Windows(const QString& namePattern) const
{
    return Search({QStringLiteral("--name"), namePattern});
}

QStringList XDisplay::WindowsOf(qint64 pid) const
{
    return Search({QStringLiteral("--pid"), QString::number(pid)});
}

QStringList XDisplay::Search(const QStringList& criteria) const
{
    // xdotool search exits with 1 when nothing matches: that is an empty answer here.
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), name_);
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral("xdotool"),
               QStringList{QStringLiteral("search"), QStringLiteral("--onlyvisible")} + criteria);
    if (!tool.waitForFinished(10000)) {
        tool.kill();
        tool.waitForFinished(1000);
        Fail(QStringLiteral("xdotool search did not finish"));
    }
    return QString::fromLatin1(tool.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QRect XDisplay::Geometry(const QString& window) const
{
    const QString shell = Run(QStringLiteral("xdotool"),
                              {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
    int x = -1, y = -1, width = -1, height = -1;
    for (const QString& line : shell.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString key = line.section(QLatin1Char('='), 0, 0);
        const int value = line.section(QLatin1Char('='), 1).toInt();
        if (key == QLatin1String("X")) x = value;
        if (key == QLatin1String("Y")) y = value;
        if (key == QLatin1String("WIDTH")) width = value;
        if (key == QLatin1String("HEIGHT")) height = value;
    }
    if (width <= 0 || height <= 0) Fail(QStringLiteral("no geometry for window %1: %2").arg(window, shell));
    return {x, y, width, height};
}

void XDisplay::Focus(const QString& window) const
{
    // There is no window manager: the keyboard goes where we say.
    Run(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
}

void XDisplay::Click(QPoint screen) const
{
    // At a human pace: the pointer rests on the control before the button goes
    // down, and the button stays down a moment.
    Run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--sync"),
                                    QString::number(screen.x()), QString::number(screen.y())});
    QThread::msleep(150);
    Run(QStringLiteral("xdotool"), {QStringLiteral("mousedown"), QStringLiteral("1")});
    QThread::msleep(80);
    Run(QStringLiteral("xdotool"), {QStringLiteral("mouseup"), QStringLiteral("1")});
}

void XDisplay::ParkPointer() const
{
    Run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--sync"),
                                    QString::number(ParkingSpot.x()), QString::number(ParkingSpot.y())});
}

void XDisplay::Keys(const QStringList& keys) const
{
    QStringList arguments{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60")};
    arguments += keys;
    Run(QStringLiteral("xdotool"), arguments);
}

void XDisplay::Type(const QString& text) const
{
    Run(QStringLiteral("xdotool"),
        {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"), text}, 60000);
}

QImage XDisplay::Screenshot() const
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), name_);
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral("import"),
               {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("png:-")});
    if (!tool.waitForFinished(20000) || tool.exitCode() != 0) {
        tool.kill();
        tool.waitForFinished(1000);
        Fail(QStringLiteral("import -window root failed: ") +
             QString::fromLocal8Bit(tool.readAllStandardError()));
    }
    QImage image = QImage::fromData(tool.readAllStandardOutput(), "PNG");
    if (image.isNull()) Fail(QStringLiteral("import gave no readable PNG"));
    return image.convertToFormat(QImage::Format_RGB32);
}

}  // namespace vantor::e2e
