// A pseudo-terminal for the machine's end of the line: the machine keeps the
// master, the simulator opens the slave by its path (or by a symlink to it).
#pragma once

#include <string>

namespace volmar::machine {

class TStopRequest;

class TPseudoTerminal {
  public:
    // Makes the pair and sets the slave raw, so that nothing sent before the
    // simulator has set up its end echoes back. Raises std::runtime_error.
    TPseudoTerminal();
    // Closes the master unless it was handed on, and removes the link.
    ~TPseudoTerminal();
    TPseudoTerminal(const TPseudoTerminal&) = delete;
    TPseudoTerminal& operator=(const TPseudoTerminal&) = delete;

    const std::string& SlavePath() const { return FSlavePath; }
    int MasterFd() const { return FMaster; }

    // Makes Link a symlink to the slave, replacing a symlink already there;
    // any other file at Link is left alone and raises std::runtime_error.
    void MakeLink(const std::string& Link);
    const std::string& Link() const { return FLink; }
    // Removes the link if it still points at this slave.
    void RemoveLink();

    // Waits until a program opens the slave: true, or false once a stop is
    // requested. Until then the master reads as hung up.
    bool WaitForFarEnd(const TStopRequest& Stop);

    // Hands the master on; the caller closes it from now on.
    int ReleaseMaster();

  private:
    int FMaster = -1;
    std::string FSlavePath;
    std::string FLink;
};

} // namespace volmar::machine
