// Where the program keeps its settings and counters files. A copy run from a
// folder of the user's own (a build tree, a copied folder) keeps them beside
// itself; an installed one, whose folder the user may not write, keeps them
// in a folder of the user's own; --folder names any other.
#pragma once

#include <QString>

#include <functional>

namespace volmar {

struct TDataFolder {
    // Absolute and clean.
    QString Path;
    // True when the per-user folder was chosen: the operator is told where it is.
    bool PerUser = false;
    // Why the folder cannot be used (it could not be made, or this user may
    // not write it); empty when it can.
    QString Error;
};

// True when this user may make and replace files in Folder.
bool UserMayWrite(const QString& Folder);

// Named (the --folder argument) when given, else ProgramFolder when MayWrite
// says so, else PerUserFolder. The chosen folder is made when missing, and
// must be one MayWrite allows.
TDataFolder ChooseDataFolder(const QString& Named, const QString& ProgramFolder,
                             const QString& PerUserFolder,
                             const std::function<bool(const QString&)>& MayWrite = UserMayWrite);

// $XDG_DATA_HOME/volmarsim, ~/.local/share/volmarsim by default.
QString PerUserDataFolder();

// The single-instance name for a folder, so that one copy runs per folder:
// the same for every spelling of one folder, different for another.
QString InstanceName(const QString& Folder);

} // namespace volmar
