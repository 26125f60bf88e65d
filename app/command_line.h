// The program's options. Without any, it is the window beside its files;
// each option is for operators who run several copies, run without a
// display, or drive the program from a script.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

#include "lab/lab.h"
#include "monitor/monitor.h"

namespace volmar {

struct TCommandLine {
    bool Headless = false;
    bool Quiet = false;
    bool Help = false;
    bool Version = false;
    QString Folder;
    // Headless: where the report files go at the end (the path without extension).
    QString Export;
    // Headless: faults to arm from the start, one JSON object per line.
    QString Faults;
    // Headless: the conformance run ("standard" or a file) and its JUnit report.
    QString Conformance;
    QString JUnit;
    // The engine's port, device and speed for this run.
    TMonitorOptions Monitor;
    // The lab's control socket and capture file for this run.
    TLabOptions Lab;
    // Seconds until the program ends by itself; none: it runs until told.
    std::optional<double> Duration;
    // A mistake in the arguments; empty when there is none.
    QString Error;
    QString HelpText;
};

// Arguments as QCoreApplication::arguments() gives them, the program first.
// HelpText is filled in only once the application object exists.
TCommandLine ParseCommandLine(const QStringList& Arguments);

// True when the arguments ask for no window (headless, help, version, or a
// mistake to report): then no GUI application object may be made, since
// there may be no display.
bool NeedsNoWindow(int argc, char** argv);

} // namespace volmar
