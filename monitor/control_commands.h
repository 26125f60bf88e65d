// The control socket's commands on the engine: status, totals, counts, log,
// reset, set-totals, speed-mode, select-port and subscribe. A request is
// {"cmd": name, ...}; see the README for each one's fields.
#pragma once

#include <QJsonObject>

#include "monitor/control_server.h"

namespace volmar {

class TMonitor;

TControlServer::TReply ControlRequest(TMonitor& Monitor, const QJsonObject& Request);

} // namespace volmar
