// The machine's side of a latency run: writes a frame on the master of a
// pseudo-terminal and times the one-byte answer.
#pragma once

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace volmar::bench {

struct PtyPair {
    int Master = -1;
    int Slave = -1;
    std::string SlavePath;
    PtyPair() {
        char name[256] = {};
        if (::openpty(&Master, &Slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        SlavePath = name;
        termios t{};
        ::tcgetattr(Master, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(Master, TCSANOW, &t);
    }
    ~PtyPair() {
        if (Slave >= 0) ::close(Slave);
        if (Master >= 0) ::close(Master);
    }
    // Keeps the master only: the port under test opens the slave by path.
    void ReleaseSlave() {
        ::close(Slave);
        Slave = -1;
    }
};

// Sends Frame and waits for one byte; returns the microseconds, or -1.
inline double Exchange(int Fd, const std::vector<std::uint8_t>& Frame, int TimeoutMs = 2000) {
    const auto start = std::chrono::steady_clock::now();
    if (::write(Fd, Frame.data(), Frame.size()) != static_cast<ssize_t>(Frame.size())) return -1;
    pollfd p{Fd, POLLIN, 0};
    if (::poll(&p, 1, TimeoutMs) <= 0) return -1;
    std::uint8_t reply = 0;
    if (::read(Fd, &reply, 1) != 1) return -1;
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
        .count();
}

// The floor's other end: a plain poll/read/write loop on Fd, no Qt, no port
// component, that answers ACK to every FrameSize bytes until Done is set.
inline void AnswerEveryFrame(int Fd, const std::atomic<bool>& Done, int FrameSize = 2) {
    std::uint8_t buf[64];
    int have = 0;
    while (!Done) {
        pollfd p{Fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = ::read(Fd, buf, sizeof buf);
        if (n <= 0) continue;
        have += static_cast<int>(n);
        while (have >= FrameSize) {
            const std::uint8_t ack = 0x06;
            if (::write(Fd, &ack, 1) != 1) return;
            have -= FrameSize;
        }
    }
}

} // namespace volmar::bench
