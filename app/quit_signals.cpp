#include "app/quit_signals.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace volmar {

namespace {

constexpr int QuitSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler only writes a byte here; everything else happens on the UI
// thread, where the read end is watched. Both ends stay open for the life of
// the process, since a signal may come at any time.
int gPipe[2] = {-1, -1};

std::function<void()> gOnQuit;
QPointer<QSocketNotifier> gNotifier;
bool gQuitting = false;

extern "C" void QuitSignalHandler(int Signal) {
    const int savedErrno = errno;
    const char byte = static_cast<char>(Signal);
    // Non-blocking: a full pipe already holds a request, so a lost byte is no loss.
    [[maybe_unused]] const ssize_t written =
        ::send(gPipe[1], &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    errno = savedErrno;
}

// Reads whatever the handler has written so far.
bool DrainPipe() {
    bool any = false;
    char buffer[64];
    while (true) {
        const ssize_t n = ::recv(gPipe[0], buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            any = true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return any;
    }
}

void OnPipeReadable() {
    if (!DrainPipe()) return;
    // OnQuit may run the event loop (a close that asks a question, say), and
    // a signal then must not start a second shut-down inside the first.
    if (gQuitting) return;
    gQuitting = true;
    // A copy, so that OnQuit may install a new handler without destroying
    // itself while it runs.
    const std::function<void()> onQuit = gOnQuit;
    if (onQuit) onQuit();
    DrainPipe();
    gQuitting = false;
}

bool OpenPipe() {
    if (gPipe[0] >= 0) return true;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) {
        qWarning("Quit signals: socketpair failed: %s", std::strerror(errno));
        return false;
    }
    gPipe[0] = fds[0];
    gPipe[1] = fds[1];
    return true;
}

bool InstallHandlers() {
    struct sigaction action {};
    action.sa_handler = QuitSignalHandler;
    action.sa_flags = SA_RESTART;
    // One handler at a time; it is safe either way, but this keeps it simple.
    sigemptyset(&action.sa_mask);
    for (const int signal : QuitSignals) sigaddset(&action.sa_mask, signal);
    for (const int signal : QuitSignals) {
        if (::sigaction(signal, &action, nullptr) != 0) {
            qWarning("Quit signals: sigaction(%d) failed: %s", signal, std::strerror(errno));
            return false;
        }
    }
    return true;
}

} // namespace

void InstallQuitSignals(std::function<void()> OnQuit) {
    gOnQuit = std::move(OnQuit);
    if (!OpenPipe()) return;
    // The notifier belongs to the application object: made anew if an earlier
    // application object is gone.
    if (!gNotifier) {
        gNotifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read,
                                        QCoreApplication::instance());
        QObject::connect(gNotifier, &QSocketNotifier::activated, gNotifier,
                         [] { OnPipeReadable(); });
    }
    InstallHandlers();
}

} // namespace volmar
