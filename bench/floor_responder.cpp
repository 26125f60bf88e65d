// The floor of the machine latency benchmark: a plain poll/read/write loop,
// no Qt, that answers ACK to every two bytes until the line goes away.
//
//   bench_floor_responder DEVICE
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const int fd = ::open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0) return 1;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    std::uint8_t buf[64];
    long have = 0;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, -1) <= 0) continue;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return 0;
        for (have += n; have >= 2; have -= 2) {
            const std::uint8_t ack = 0x06;
            if (::write(fd, &ack, 1) != 1) return 0;
        }
    }
}
