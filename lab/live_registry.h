// Where the running simulators' control sockets are found by the live view
// (the Wireshark extcap): each copy that listens on a control socket leaves
// a symbolic link to it, named for its process, in $XDG_RUNTIME_DIR/volmarsim/,
// and takes it away when it stops listening. No runtime folder: no link.
#pragma once

#include <QString>
#include <QStringList>

namespace volmar {

// The folder of the links; empty when there is no runtime folder.
QString LiveRegistryFolder();

// Links Socket as this process's; the link made, empty when none could be.
QString RegisterLiveSocket(const QString& Socket);
// Removes Link if it is still a link made by RegisterLiveSocket.
void UnregisterLiveSocket(const QString& Link);

// The sockets registered, by their link's name ("volmarsim-<pid>"), each
// resolved to its socket; links whose socket has gone are left out.
struct TLiveSocket {
    QString Name;
    QString Socket;
};
std::vector<TLiveSocket> LiveSockets();

} // namespace volmar
