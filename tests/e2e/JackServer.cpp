#include "JackServer.h"

#include <sys/prctl.h>
#include <QCoreApplication>
#include <QFile>
#include <csignal>
#include <stdexcept>

namespace vantor::e2e {

JackServer::JackServer(const QString& logPath)
    : name_(QStringLiteral("vantor_e2e_%1").arg(QCoreApplication::applicationPid())), logPath_(logPath)
{
    qputenv("JACK_DEFAULT_SERVER", name_.toLocal8Bit());
    qputenv("JACK_NO_START_SERVER", "1");
    server_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    server_.setStandardOutputFile(logPath_);
    server_.setStandardErrorFile(logPath_, QIODevice::Append);
    server_.start(QStringLiteral("jackd"),
                  {QStringLiteral("-n"), name_, QStringLiteral("-S"), QStringLiteral("--no-realtime"),
                   QStringLiteral("-d"), QStringLiteral("dummy"), QStringLiteral("-r"),
                   QStringLiteral("48000"), QStringLiteral("-p"), QStringLiteral("256")});
    if (!server_.waitForStarted(10000))
        throw std::runtime_error("jackd did not start: " + server_.errorString().toStdString());
    QProcess wait;
    wait.start(QStringLiteral("jack_wait"),
               {QStringLiteral("--wait"), QStringLiteral("--timeout"), QStringLiteral("10")});
    if (!wait.waitForFinished(15000) || wait.exitCode() != 0) {
        Stop();
        QFile log(logPath_);
        const QByteArray text = log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
        throw std::runtime_error("the JACK server did not come up: " + text.toStdString());
    }
}

JackServer::~JackServer()
{
    Stop();
}

int JackServer::Overruns() const
{
    QFile log(logPath_);
    if (!log.open(QIODevice::ReadOnly)) return 0;
    return static_cast<int>(log.readAll().count("XRun"));
}

bool JackServer::Stop()
{
    if (server_.state() == QProcess::NotRunning) return true;
    server_.terminate();
    if (!server_.waitForFinished(5000)) {
        server_.kill();
        server_.waitForFinished(5000);
    }
    return server_.state() == QProcess::NotRunning;
}

}  // namespace vantor::e2e
