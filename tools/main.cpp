// volmar-machine: a stand-in gaming machine on a serial line or a
// pseudo-terminal, running a script or an endless demo session.
#include "tools/control_client.h"
#include "tools/machine_demo.h"
#include "tools/machine_exchange.h"
#include "tools/machine_options.h"
#include "tools/machine_replay.h"
#include "tools/machine_script.h"
#include "tools/message_list.h"
#include "tools/port_line.h"
#include "tools/pseudo_terminal.h"

#include <QCoreApplication>
#include <chrono>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <signal.h>
#include <sstream>
#include <unistd.h>

using namespace volmar;
using namespace volmar::machine;

namespace {

constexpr int kExitError = 2;

int Complain(const std::string& What) {
    std::cerr << "volmar-machine: " << What << std::endl;
    return kExitError;
}

std::string OpenFailure(const std::string& Path, const std::exception& E) {
    if (dynamic_cast<const EBadId*>(&E)) return "cannot open " + Path + ": no such device";
    if (dynamic_cast<const EAlreadyOpen*>(&E))
        return "cannot open " + Path + ": in use by another program";
    return "cannot open " + Path + ": " + E.what();
}

bool ReadScript(const std::string& File, std::string& Text) {
    std::ostringstream s;
    if (File == "-") {
        s << std::cin.rdbuf();
    } else {
        std::ifstream in(File, std::ios::binary);
        if (!in) return false;
        s << in.rdbuf();
    }
    Text = s.str();
    return true;
}

// How long the simulator may take to listen on its control socket after
// it has opened the line.
constexpr int kControlWaitMs = 10000;

// Before the first frame: the simulator's totals set to, or compared with,
// those the capture begins with; what still differs is noted.
void StartFrom(const TReplayPlan& Plan, const TOptions& Options, TControlClient* Control) {
    if (Plan.StartBaud && *Plan.StartBaud != Options.Baud)
        std::cout << "note: the capture began at " << *Plan.StartBaud << " baud (speed mode "
                  << Plan.StartSpeedMode << "), this replay runs at " << Options.Baud << " baud"
                  << std::endl;
    if (Plan.RecordsLost > 0)
        std::cout << "note: the capture lost " << Plan.RecordsLost
                  << " records; answers to what they held are missing" << std::endl;
    if (Plan.StartTotals.empty()) {
        std::cout << "note: the capture does not say the totals it began with" << std::endl;
        return;
    }
    const auto captured = ParseTotals(Plan.StartTotals);
    if (!Control) {
        std::cout << "note: the capture began with totals " << Plan.StartTotals
                  << " (--control PATH compares them with the simulator's)" << std::endl;
        return;
    }
    if (Options.SetTotalsFirst) {
        QJsonObject totals;
        // The eight Edit Meters sets; the others only the traffic moves.
        for (const char* name :
             {"in", "out", "games", "stakes", "wins", "cashbox", "refills", "dumps"})
            if (const auto it = captured.find(name); it != captured.end())
                totals.insert(QLatin1String(name), static_cast<qint64>(it->second));
        Control->Ask({{QStringLiteral("cmd"), QStringLiteral("set-totals")},
                      {QStringLiteral("totals"), totals}});
    }
    const std::string differ = TotalsDifference(captured, Control->Totals());
    if (!differ.empty())
        std::cout << "note: the simulator does not start from the captured totals: " << differ
                  << std::endl;
}

// After the last frame: the simulator's totals against those the capture
// ended with. Returns whether they differ.
bool EndWith(const TReplayPlan& Plan, TControlClient* Control) {
    if (Plan.EndTotals.empty() || !Control) return false;
    const std::string differ = TotalsDifference(ParseTotals(Plan.EndTotals), Control->Totals());
    std::cout << (differ.empty() ? "totals: equal to those the capture ended with"
                                 : "totals differ from those the capture ended with: " + differ)
              << std::endl;
    return !differ.empty();
}

int Run(const TOptions& Options) {
    // Checked whole before the line is touched.
    TScript script;
    TReplayPlan replay;
    if (!Options.ReplayFile.empty()) {
        try {
            replay = PlanReplay(ReadCapture(Options.ReplayFile));
        } catch (const ECaptureError& e) {
            std::cerr << e.what() << std::endl;
            return kExitError;
        }
    } else if (!Options.Demo) {
        std::string text;
        if (!ReadScript(Options.ScriptFile, text))
            return Complain("cannot read " + Options.ScriptFile);
        try {
            script = ParseScript(text, Options.ScriptFile == "-" ? "<stdin>" : Options.ScriptFile);
        } catch (const EScriptError& e) {
            std::cerr << e.what() << std::endl;
            return kExitError;
        }
    }

    TStopRequest stop;
    stop.Install();

    TMachinePort port;
    port.SetAutoOpen(false);
    SetMachineLine(port, Options.Baud, Options.Pty);

    std::unique_ptr<TPseudoTerminal> pty;
    if (Options.Pty) {
        try {
            pty = std::make_unique<TPseudoTerminal>();
            if (!Options.Link.empty()) pty->MakeLink(Options.Link);
        } catch (const std::exception& e) {
            return Complain(e.what());
        }
        std::cout << "pty: " << pty->SlavePath() << std::endl;
        if (::isatty(STDERR_FILENO))
            std::cerr << "waiting for the simulator to open " << pty->SlavePath() << std::endl;
        if (!pty->WaitForFarEnd(stop)) return 0;
        port.SetDevicePath(pty->SlavePath());
        port.AdoptOnOpen(pty->ReleaseMaster());
    } else {
        port.SetDevicePath(Options.Device);
    }
    try {
        port.SetOpen(true);
    } catch (const std::exception& e) {
        return Complain(OpenFailure(port.DevicePath(), e));
    }

    int status = 0;
    {
        TPortLine line(port, stop);
        TExchanger exchanger(line, {Options.ReplyTimeoutMs, Options.Retries}, Options.Breaches);
        try {
            if (!Options.ReplayFile.empty()) {
                std::unique_ptr<TControlClient> control;
                if (!Options.Control.empty())
                    control = std::make_unique<TControlClient>(Options.Control, kControlWaitMs);
                StartFrom(replay, Options, control.get());
                const TReplayCounts counts =
                    RunReplay(replay, {Options.PaceSpeed}, Options.ReplyTimeoutMs, line, std::cout);
                line.Drain(1000);
                const bool differs = EndWith(replay, control.get()) || counts.Different > 0;
                status = Options.Expect && differs ? 1 : 0;
            } else if (Options.Demo) {
                TDemoSession session(static_cast<std::uint32_t>(
                    std::chrono::steady_clock::now().time_since_epoch().count()));
                RunDemo(session, exchanger, line, std::cout);
            } else {
                status = RunScript(script, exchanger, line, std::cout);
                line.Drain(1000);
            }
        } catch (const ELineGone& e) {
            // The simulator closing the line ends a demo as planned; a
            // script that cannot finish is a device failure.
            if (Options.Demo) {
                std::cerr << "volmar-machine: " << e.what() << std::endl;
            } else {
                status = Complain(e.what());
            }
        }
    }
    port.SetOpen(false);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    // Output to a closed pipe must not kill the machine before it tidies up.
    ::signal(SIGPIPE, SIG_IGN);
    TOptions options;
    try {
        options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const EUsage& e) {
        std::cerr << "volmar-machine: " << e.what() << "\n(volmar-machine --help tells more)"
                  << std::endl;
        return kExitError;
    }
    if (options.Help || options.List || options.Version) {
        std::cout << (options.Help   ? HelpText()
                      : options.List ? MessageListText()
                                     : std::string("volmar-machine " VOLMAR_VERSION "\n"));
        return 0;
    }
    if (const std::string warning = ReplyTimeoutWarning(options.ReplyTimeoutMs); !warning.empty())
        std::cerr << "volmar-machine: " << warning << std::endl;
    // The port hands its notifications to this thread's event loop.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QCoreApplication app(qtArgc, qtArgv);
    try {
        return Run(options);
    } catch (const std::exception& e) {
        return Complain(e.what());
    }
}
