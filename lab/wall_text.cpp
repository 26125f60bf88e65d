#include "lab/wall_text.h"

#include <ctime>
#include <limits>

namespace volmar {

// The wall time in local time, to the microsecond. Records come thousands a
// second, mostly within the same one, so its date and time of day are kept
// for the next.
void AppendWall(std::string& Text, std::int64_t WallUs, char Separator) {
    thread_local std::int64_t cachedSecond = std::numeric_limits<std::int64_t>::min();
    thread_local char date[11];
    thread_local char time[9];
    std::int64_t second = WallUs / 1000000;
    std::int64_t micros = WallUs % 1000000;
    if (micros < 0) {
        micros += 1000000;
        --second;
    }
    if (second != cachedSecond) {
        const auto t = static_cast<std::time_t>(second);
        std::tm local{};
        localtime_r(&t, &local);
        std::strftime(date, sizeof date, "%Y-%m-%d", &local);
        std::strftime(time, sizeof time, "%H:%M:%S", &local);
        cachedSecond = second;
    }
    char fraction[7] = {'.'};
    for (int i = 6; i >= 1; --i, micros /= 10) fraction[i] = static_cast<char>('0' + micros % 10);
    Text.append(date).append(1, Separator).append(time).append(fraction, sizeof fraction);
}

std::string WallText(std::int64_t WallUs) {
    std::string text;
    AppendWall(text, WallUs, ' ');
    return text;
}

} // namespace volmar
