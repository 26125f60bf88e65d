// Bit rates that <termios.h> has no B-constant for (14400, 28800, 250, ...),
// set through the kernel's termios2 and BOTHER. Its header clashes with
// <termios.h>, so it is included by termios2_rate.cpp alone.
#pragma once

#include <cstdint>

namespace volmar {

// Runs both directions of the tty Fd at Baud, every other setting kept.
// 0, or the errno of the kernel's refusal.
int SetAnyRate(int Fd, std::uint32_t Baud);

// The rate the driver runs the tty's output at, whatever way it was set;
// 0 when the driver does not say.
std::uint32_t CurrentRate(int Fd);

} // namespace volmar
