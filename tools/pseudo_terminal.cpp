#include "tools/pseudo_terminal.h"

#include "tools/port_line.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace volmar::machine {

namespace {

[[noreturn]] void Fail(const std::string& What) {
    throw std::runtime_error(What + ": " + std::strerror(errno));
}

// How often the hung-up master is looked at while nobody holds the slave.
constexpr int kFarEndPollMs = 10;

} // namespace

TPseudoTerminal::TPseudoTerminal() {
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FMaster < 0) Fail("cannot make a pseudo-terminal");
    char name[128] = {};
    if (::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0 ||
        ::ptsname_r(FMaster, name, sizeof name) != 0) {
        const int e = errno;
        ::close(FMaster);
        errno = e;
        Fail("cannot set up the pseudo-terminal");
    }
    FSlavePath = name;
    // A fresh slave echoes and waits for whole lines; the simulator sets its
    // own settings when it opens, but bytes sent before that must not come
    // back. Closing the slave leaves the master hung up until the far end
    // opens it, which is how WaitForFarEnd sees it come.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        const int e = errno;
        ::close(FMaster);
        errno = e;
        Fail("cannot open " + FSlavePath);
    }
    termios t{};
    if (::tcgetattr(slave, &t) == 0) {
        ::cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        ::tcsetattr(slave, TCSANOW, &t);
    }
    ::close(slave);
}

TPseudoTerminal::~TPseudoTerminal() {
    RemoveLink();
    if (FMaster >= 0) ::close(FMaster);
}

void TPseudoTerminal::MakeLink(const std::string& Link) {
    struct stat st {};
    if (::lstat(Link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode))
            throw std::runtime_error(Link + " exists and is not a symlink; not replacing it");
        if (::unlink(Link.c_str()) != 0) Fail("cannot replace the symlink " + Link);
    }
    if (::symlink(FSlavePath.c_str(), Link.c_str()) != 0) Fail("cannot make the symlink " + Link);
    FLink = Link;
}

void TPseudoTerminal::RemoveLink() {
    if (FLink.empty()) return;
    char target[256] = {};
    const ssize_t n = ::readlink(FLink.c_str(), target, sizeof target - 1);
    if (n > 0 && FSlavePath == std::string(target, static_cast<std::size_t>(n)))
        ::unlink(FLink.c_str());
    FLink.clear();
}

bool TPseudoTerminal::WaitForFarEnd(const TStopRequest& Stop) {
    for (;;) {
        if (Stop.Requested()) return false;
        pollfd p{FMaster, POLLIN, 0};
        const int ready = ::poll(&p, 1, 0);
        if (ready == 0 || (ready > 0 && (p.revents & POLLHUP) == 0)) return true;
        pollfd s{Stop.Fd(), POLLIN, 0};
        ::poll(&s, 1, kFarEndPollMs);
    }
}

int TPseudoTerminal::ReleaseMaster() {
    return std::exchange(FMaster, -1);
}

} // namespace volmar::machine
