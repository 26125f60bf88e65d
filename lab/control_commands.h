// The control socket's commands on the engine and the lab's parts: status,
// totals, counts, log, reset, stats, export, fault, verdict, conformance,
// set-totals, speed-mode, select-port and subscribe. A request is {"cmd": name, ...}; see the README
// for each one's fields.
#pragma once

#include <QJsonObject>

#include "lab/control_server.h"

namespace volmar {

class TLab;

TControlServer::TReply ControlRequest(TLab& Lab, const QJsonObject& Request);

} // namespace volmar
