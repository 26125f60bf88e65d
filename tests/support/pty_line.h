// A pseudo-terminal in raw mode: the test plays the machine on its master
// end, the program opens the slave by name.
#pragma once

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "support/qt_pump.h"

namespace volmar::testing {

struct Pty {
    Pty() {
        char name[256] = {};
        if (::openpty(&Master, &Slave, name, nullptr, nullptr) != 0) return;
        termios raw{};
        ::tcgetattr(Master, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(Master, TCSANOW, &raw);
        Name = name;
    }
    ~Pty() { Hangup(); }
    void Hangup() {
        if (Master >= 0) ::close(Master);
        if (Slave >= 0) ::close(Slave);
        Master = Slave = -1;
    }
    // Something the program wrote is waiting to be read.
    bool Readable() const {
        pollfd p{Master, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;
    }
    int Read(int TimeoutMs) const {
        std::uint8_t b = 0;
        if (!PumpUntil([&] { return Readable(); }, TimeoutMs)) return -1;
        return ::read(Master, &b, 1) == 1 ? b : -1;
    }
    int Master = -1, Slave = -1;
    std::string Name;
};

} // namespace volmar::testing
