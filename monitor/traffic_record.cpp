#include "monitor/traffic_record.h"

namespace volmar {

const char* FrameFaultName(TFrameFault Fault) {
    switch (Fault) {
    case ffNone: return "";
    case ffBadChecksum: return "bad checksum";
    case ffGap: return "gap";
    case ffOverLong: return "over-long";
    case ffZeroLength: return "length 0";
    case ffLineError: return "line error";
    }
    return "?";
}

const char* ReplyCauseName(TReplyCause Cause) {
    switch (Cause) {
    case rcAnswer: return "answer";
    case rcFirstMessageNak: return "first-message NAK";
    case rcSilenceNak: return "silence NAK";
    }
    return "?";
}

const char* LineEventName(TLineEvent Event) {
    switch (Event) {
    case TLineEvent::ReceiverReset: return "receiver-reset";
    case TLineEvent::LineError: return "line-error";
    case TLineEvent::DeviceLost: return "device-lost";
    case TLineEvent::DeviceBack: return "device-back";
    case TLineEvent::PortOpened: return "port-opened";
    case TLineEvent::PortClosed: return "port-closed";
    case TLineEvent::SpeedChanged: return "speed-changed";
    case TLineEvent::Reset: return "reset";
    case TLineEvent::TotalsEdited: return "totals-edited";
    case TLineEvent::MachineSilent: return "machine-silent";
    case TLineEvent::MachineSpeaks: return "machine-speaks";
    case TLineEvent::FaultInjected: return "fault-injected";
    case TLineEvent::CaptureLost: return "capture-lost";
    }
    return "?";
}

} // namespace volmar
