// The command line of volmar-machine and its help text.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "tools/machine_exchange.h"

namespace volmar::machine {

struct TOptions {
    std::string Device; // --device PATH
    bool Pty = false;   // --pty [LINK]
    std::string Link;
    int Baud = 9600;
    int ReplyTimeoutMs = 1000;
    int Retries = 3;
    std::string ScriptFile; // --script FILE ("-": standard input)
    bool Demo = false;
    std::string ReplayFile; // --replay CAPTURE
    // --pace: 1 recorded, N for xN, 0 fast.
    double PaceSpeed = 1.0;
    bool Expect = false;        // --expect
    std::string Control;        // --control PATH: the simulator's control socket
    bool SetTotalsFirst = false; // --set-totals-first
    bool Help = false;
    bool List = false;     // --list: the message codes
    bool Version = false;  // --version
    TBreaches Breaches;    // --break KIND, once for each
};

// A command line that cannot run; what() says why.
class EUsage : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The arguments after the program name. Options take their value as the
// next word or after '='.
TOptions ParseCommandLine(const std::vector<std::string>& Args);

std::string HelpText();

// The simulator answers a broken frame only after this much quiet (9 ticks
// of 55 ms, give or take a tick); a resend that comes sooner restarts it.
inline constexpr int kSimulatorQuietMs = 600;

// What to tell the user about a reply timeout that is shorter than that
// quiet; empty when there is nothing to say.
std::string ReplyTimeoutWarning(int ReplyTimeoutMs);

} // namespace volmar::machine
