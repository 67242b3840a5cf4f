#include "app/TerminationSignals.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <iterator>
#include <sys/socket.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#endif

namespace vantor {

#ifdef Q_OS_UNIX

namespace {

// The write end of the self-pipe. A signal handler can reach nothing but static
// storage, so this one descriptor is the only state shared with it; -1 while no
// instance watches.
std::atomic<int> signalPipeWriteEnd{-1};

extern "C" void ForwardSignal(int signalNumber)
{
    const int savedErrno = errno;
    const int fd = signalPipeWriteEnd.load();
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

constexpr int Watched[] = {SIGINT, SIGTERM};

}  // namespace

struct TerminationSignals::Impl
{
    int fds[2] = {-1, -1};
    struct sigaction previous[std::size(Watched)] = {};
    bool installed = false;
    QSocketNotifier* notifier = nullptr;
};

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent), impl_(std::make_unique<Impl>())
{
    static_assert(std::atomic<int>::is_always_lock_free);
    if (signalPipeWriteEnd.load() >= 0) {
        qWarning("TerminationSignals: another instance already watches SIGINT and SIGTERM");
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, impl_->fds) != 0) {
        qWarning("TerminationSignals: no socket pair, SIGINT and SIGTERM keep their default action");
        return;
    }
    ::fcntl(impl_->fds[1], F_SETFL, ::fcntl(impl_->fds[1], F_GETFL) | O_NONBLOCK);
    signalPipeWriteEnd.store(impl_->fds[1]);

    impl_->notifier = new QSocketNotifier(impl_->fds[0], QSocketNotifier::Read, this);
    connect(impl_->notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        if (::read(impl_->fds[0], &byte, 1) == 1) emit Requested(byte);
    });

    struct sigaction action = {};
    action.sa_handler = ForwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(Watched); ++i)
        ::sigaction(Watched[i], &action, &impl_->previous[i]);
    impl_->installed = true;
}

TerminationSignals::~TerminationSignals()
{
    if (impl_->installed)
        for (std::size_t i = 0; i < std::size(Watched); ++i)
            ::sigaction(Watched[i], &impl_->previous[i], nullptr);
    if (impl_->fds[1] >= 0) {
        signalPipeWriteEnd.store(-1);
        ::close(impl_->fds[1]);
    }
    if (impl_->notifier) impl_->notifier->setEnabled(false);
    if (impl_->fds[0] >= 0) ::close(impl_->fds[0]);
}

bool TerminationSignals::IsWatching() const
{
    return impl_->installed;
}

#else

struct TerminationSignals::Impl
{
};

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent), impl_(std::make_unique<Impl>()) {}
TerminationSignals::~TerminationSignals() = default;
bool TerminationSignals::IsWatching() const
{
    return false;
}

#endif

}  // namespace vantor
