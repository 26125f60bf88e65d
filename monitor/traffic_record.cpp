#include "monitor/traffic_record.h"

#include <chrono>

namespace volmar {

std::int64_t WallMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t MonoMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TTrafficRecord EventRecord(TLineEvent Event, std::int32_t Value, std::string Detail) {
    TTrafficRecord r;
    r.Kind = TRecordKind::Event;
    r.Event = Event;
    r.Value = Value;
    r.Detail = std::move(Detail);
    return r;
}

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
    case TLineEvent::RuleBroken: return "rule-broken";
    case TLineEvent::CaptureLost: return "capture-lost";
    case TLineEvent::StartState: return "start-state";
    case TLineEvent::Totals: return "totals";
    }
    return "?";
}

} // namespace volmar
