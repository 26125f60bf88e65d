// The simulator's end of a pseudo-terminal played by a test thread: it
// frames what the machine sends and answers each frame as the test says.
#pragma once

#include "dataport/message.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace volmar::testing {

using Bytes = std::vector<std::uint8_t>;

// A pseudo-terminal pair, both ends raw; Take hands an end to a new owner.
struct PtyPair {
    int Master = -1, Slave = -1;
    std::string SlavePath;
    PtyPair() {
        char name[128] = {};
        if (::openpty(&Master, &Slave, name, nullptr, nullptr) != 0) return;
        SlavePath = name;
        for (int fd : {Master, Slave}) {
            termios t{};
            ::tcgetattr(fd, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(fd, TCSANOW, &t);
        }
    }
    ~PtyPair() {
        for (int fd : {Master, Slave})
            if (fd >= 0) ::close(fd);
    }
    static int Take(int& Fd) { return std::exchange(Fd, -1); }
};

class FarEnd {
  public:
    // The answer to the Index-th frame; nothing keeps silent.
    using Policy = std::function<std::optional<std::uint8_t>(const Bytes& Frame, int Index)>;

    // Owns: closes Fd when destroyed, hanging up the line.
    FarEnd(int Fd, Policy Answer, bool Owns = false)
        : FFd(Fd), FOwns(Owns), FAnswer(std::move(Answer)), FThread([this] { Run(); }) {}
    ~FarEnd() {
        Stop();
        if (FOwns) ::close(FFd);
    }
    void Stop() {
        FStop = true;
        if (FThread.joinable()) FThread.join();
    }
    std::vector<Bytes> Frames() {
        std::lock_guard lock(FLock);
        return FFrames;
    }
    void Write(const Bytes& B) { [[maybe_unused]] auto n = ::write(FFd, B.data(), B.size()); }

  private:
    // Frame length from the header (and the length byte of a variable one).
    static std::size_t Length(const Bytes& P) {
        switch (ClassifyHeader(P[0]).MsgClass) {
        case mcSingleByte: return 1;
        case mcVariableLength: return P.size() < 2 ? 0 : 3u + P[1];
        default: return 2u + ClassifyHeader(P[0]).DataLength;
        }
    }
    void Run() {
        Bytes pending;
        while (!FStop) {
            pollfd p{FFd, POLLIN, 0};
            std::uint8_t buf[256];
            if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) continue;
            const ssize_t n = ::read(FFd, buf, sizeof buf);
            if (n > 0) pending.insert(pending.end(), buf, buf + n);
            for (std::size_t len;
                 !pending.empty() && (len = Length(pending)) && pending.size() >= len;) {
                const Bytes frame(pending.begin(),
                                  pending.begin() + static_cast<std::ptrdiff_t>(len));
                pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(len));
                int index;
                {
                    std::lock_guard lock(FLock);
                    FFrames.push_back(frame);
                    index = static_cast<int>(FFrames.size()) - 1;
                }
                if (const auto reply = FAnswer(frame, index)) Write({*reply});
            }
        }
    }

    int FFd;
    bool FOwns;
    Policy FAnswer;
    std::atomic<bool> FStop{false};
    std::mutex FLock;
    std::vector<Bytes> FFrames;
    std::thread FThread;
};

// Answers with the listed replies in turn, then keeps silent.
inline FarEnd::Policy Replies(std::vector<std::optional<std::uint8_t>> List) {
    return [List](const Bytes&, int Index) -> std::optional<std::uint8_t> {
        return Index < static_cast<int>(List.size()) ? List[static_cast<std::size_t>(Index)]
                                                     : std::nullopt;
    };
}

} // namespace volmar::testing
