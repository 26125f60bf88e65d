#include "dataport/str_format.h"

#include <cstdarg>
#include <cstdio>

namespace volmar {

std::string StrFormat(const char* Format, ...) {
    char small[256];
    va_list args;
    va_start(args, Format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(small, sizeof small, Format, args);
    va_end(args);
    std::string out;
    if (n < 0) {
        va_end(again);
        return out;
    }
    if (static_cast<std::size_t>(n) < sizeof small) {
        out.assign(small, static_cast<std::size_t>(n));
    } else {
        out.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), Format, again);
        out.resize(static_cast<std::size_t>(n));
    }
    va_end(again);
    return out;
}

} // namespace volmar
