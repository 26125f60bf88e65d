// volmar-machine: a stand-in gaming machine on a serial line or a
// pseudo-terminal, running a script or an endless demo session.
#include "tools/machine_demo.h"
#include "tools/machine_exchange.h"
#include "tools/machine_options.h"
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

int Run(const TOptions& Options) {
    // Checked whole before the line is touched.
    TScript script;
    if (!Options.Demo) {
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
            if (Options.Demo) {
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
