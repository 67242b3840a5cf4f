#include "midi/backends/JackEnvironment.h"

#include <dlfcn.h>
#include <jack/jack.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <cstring>

namespace vantor {

Q_LOGGING_CATEGORY(lcDevices, "vantor.devices", QtWarningMsg)

void KeepJackFromStartingServers()
{
    if (!qEnvironmentVariableIsSet("JACK_NO_START_SERVER")) qputenv("JACK_NO_START_SERVER", "1");
}

namespace {

bool Accepts(const QByteArray& socketPath)
{
    sockaddr_un address{};
    if (socketPath.size() >= static_cast<qsizetype>(sizeof(address.sun_path))) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.constData(), static_cast<std::size_t>(socketPath.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // A server that died leaves its socket file behind; only a live one accepts.
    const bool accepted = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return accepted;
}

bool LibjackIsPipeWire()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&jack_client_open), &info) == 0 || !info.dli_fname) return false;
    return std::strstr(QFileInfo(QString::fromLocal8Bit(info.dli_fname))
                           .canonicalFilePath()
                           .toLocal8Bit()
                           .constData(),
                       "pipewire") != nullptr;
}

// jackd2 listens on /dev/shm/jack_<server>_<uid>_0; a promiscuous server uses uid 0.
QByteArray JackdSocket()
{
    QByteArray server = qgetenv("JACK_DEFAULT_SERVER");
    if (server.isEmpty()) server = "default";
    const unsigned uid = qEnvironmentVariableIsSet("JACK_PROMISCUOUS_SERVER") ? 0U : ::geteuid();
    return "/dev/shm/jack_" + server + '_' + QByteArray::number(uid) + "_0";
}

void JackError(const char* text)
{
    if (JackServerRunning())
        qCWarning(lcDevices, "JACK: %s", text);
    else
        qCDebug(lcDevices, "JACK: %s", text);
}

void JackInfo(const char* text)
{
    qCDebug(lcDevices, "JACK: %s", text);
}

}  // namespace

bool JackServerRunning()
{
    if (Accepts(JackdSocket())) return true;
    if (!LibjackIsPipeWire()) return false;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString remote = qEnvironmentVariable("PIPEWIRE_REMOTE", QStringLiteral("pipewire-0"));
    return !runtime.isEmpty() && Accepts(QFile::encodeName(QDir(runtime).filePath(remote)));
}

void RouteJackLog()
{
    jack_set_error_function(&JackError);
    jack_set_info_function(&JackInfo);
}

}  // namespace vantor
