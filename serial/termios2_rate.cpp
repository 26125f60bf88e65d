#include "serial/termios2_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace volmar {

int SetAnyRate(int Fd, std::uint32_t Baud) {
    termios2 t{};
    if (::ioctl(Fd, TCGETS2, &t) != 0) return errno;
    // No input rate of its own (CIBAUD 0): the input follows the output.
    t.c_cflag &= ~(CBAUD | CIBAUD);
    t.c_cflag |= BOTHER;
    t.c_ispeed = Baud;
    t.c_ospeed = Baud;
    return ::ioctl(Fd, TCSETS2, &t) == 0 ? 0 : errno;
}

std::uint32_t CurrentRate(int Fd) {
    termios2 t{};
    return ::ioctl(Fd, TCGETS2, &t) == 0 ? t.c_ospeed : 0;
}

} // namespace volmar
