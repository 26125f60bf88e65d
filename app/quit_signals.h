// SIGTERM, SIGINT and SIGHUP close the program the same orderly way as its
// window's close button, so that nothing it keeps on disk is lost.
#pragma once

#include <functional>

namespace volmar {

// From now on each of the three signals leads to a call of OnQuit on the UI
// thread, from its event loop. Call it on the UI thread once the application
// object exists. Calling it again replaces OnQuit. Signals that arrive while
// OnQuit runs are taken as part of the same request.
void InstallQuitSignals(std::function<void()> OnQuit);

} // namespace volmar
