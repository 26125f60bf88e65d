#include "lab/fault_driver.h"

#include "monitor/monitor.h"

namespace volmar {

namespace {
// Garbage alternates two bytes that are none of ACK, NAK, ESC.
constexpr std::uint8_t kGarbage[] = {0xAA, 0x55};
// As often as the engine's other watches look.
constexpr int kExpiryCheckMs = 250;
} // namespace

TFaultDriver::TFaultDriver(TMonitor& Monitor)
    : FMonitor(Monitor),
      FFaults([&Monitor] { return Monitor.ComPortPlus().Clock().Milliseconds(); }) {
    FFaults.OnFired = [this](const TFaultRule& Rule, const std::string& What) {
        FMonitor.Logs().LogNote("Fault injected: " + What);
        FMonitor.Record(
            EventRecord(TLineEvent::FaultInjected, static_cast<std::int32_t>(Rule.Kind), What));
    };
    FFaults.OnChanged = [this] {
        // Told later: it may change while a reply is on its way out.
        QMetaObject::invokeMethod(
            this, [this] { emit FaultsChanged(FFaults.Active()); }, Qt::QueuedConnection);
    };
    FExpiry.setInterval(kExpiryCheckMs);
    connect(&FExpiry, &QTimer::timeout, this, [this] { FFaults.Active(); });
    connect(&Monitor, &TMonitor::StartedUp, &FExpiry, qOverload<>(&QTimer::start));
    connect(&Monitor, &TMonitor::ShutDownEnded, &FExpiry, &QTimer::stop);
    Monitor.SetReplyGate(this);
}

TFaultDriver::~TFaultDriver() { FMonitor.SetReplyGate(nullptr); }

std::optional<TAcception> TFaultDriver::AnswerInstead(const TDPMessage& Msg) {
    return FFaults.ForcedAnswer(Msg);
}

bool TFaultDriver::Pass(std::uint8_t& Byte, TReplyCause Cause, std::uint8_t Code) {
    const TReplyAction action = FFaults.FilterReply(Byte, Cause, Code);
    if (action.DelayMs >= 0) {
        const std::vector<std::uint8_t> late{Byte};
        QTimer::singleShot(action.DelayMs, this,
                           [this, late, Cause] { FMonitor.SendReplyBytes(late, Cause); });
    }
    if (action.Garbage > 0) {
        std::vector<std::uint8_t> garbage;
        for (int i = 0; i < action.Garbage; ++i) garbage.push_back(kGarbage[i % 2]);
        // After the reply itself has gone into the port.
        QMetaObject::invokeMethod(
            this, [this, garbage, Cause] { FMonitor.SendReplyBytes(garbage, Cause); },
            Qt::QueuedConnection);
    }
    return action.Send;
}

} // namespace volmar
