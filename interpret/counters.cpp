#include "interpret/counters.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace volmar {

std::int32_t* MeterTotal(TCounters& Counters, int Index) {
    switch (Index) {
    case miIn: return &Counters.In;
    case miOut: return &Counters.Out;
    case miGames: return &Counters.Games;
    case miStakes: return &Counters.Stakes;
    case miWins: return &Counters.Wins;
    case miCashbox: return &Counters.Cashbox;
    case miRefills: return &Counters.Refills;
    case miDumps: return &Counters.Dumps;
    case miCancelledCredits: return &Counters.CancelledCredits;
    case miCreditsTaken: return &Counters.CreditsTaken;
    default: return nullptr;
    }
}

void ClearCounters(TCounters& Counters) { std::memset(&Counters, 0, sizeof Counters); }

void LoadCounters(TCounters& Counters, const std::string& FileName) {
    ClearCounters(Counters);
    const int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) return;
        throw ECountersFileError("Cannot open file " + FileName);
    }
    // Never more than the record: a huge or endless file is not read whole.
    auto* bytes = reinterpret_cast<unsigned char*>(&Counters);
    std::size_t got = 0;
    bool failed = false;
    while (!failed && got < sizeof Counters) {
        const ssize_t n = ::read(fd, bytes + got, sizeof Counters - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n == 0 || errno == EAGAIN) {
            break;  // end of file, or a pipe with nothing in it
        } else if (errno != EINTR) {
            failed = true;
        }
    }
    ::close(fd);
    if (failed) {
        ClearCounters(Counters);
        throw ECountersFileError("Cannot open file " + FileName);
    }
}

namespace {

bool WriteAll(int fd, const unsigned char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

void SaveCounters(const TCounters& Counters, const std::string& FileName) {
    std::string temp = FileName + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) throw ECountersFileError("Cannot create file " + FileName);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&Counters);
    const bool ok = ::fchmod(fd, 0644) == 0 && WriteAll(fd, bytes, sizeof Counters) &&
                    ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!ok || !closed || ::rename(temp.c_str(), FileName.c_str()) != 0) {
        ::unlink(temp.c_str());
        throw ECountersFileError("Unable to write to " + FileName);
    }
}

} // namespace volmar
