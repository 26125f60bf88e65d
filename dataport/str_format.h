// printf-style formatting into a std::string. The format is always a
// literal of the program's own (the compiler checks it); data goes in as
// arguments only.
#pragma once

#include <string>

namespace volmar {

std::string StrFormat(const char* Format, ...) __attribute__((format(printf, 1, 2)));

} // namespace volmar
