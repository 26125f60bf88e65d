#include "lab/fault_driver.h"

#include "dataport/str_format.h"
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
        // A refusal is decided before its message is logged; its row, as
        // every fault's, follows the message's.
        const std::string row = "Fault injected: " + What;
        if (Rule.Kind == TFaultKind::Nak || Rule.Kind == TFaultKind::Esc)
            FMonitor.Logs().LogNoteAfterNextMessage(row);
        else
            FMonitor.Logs().LogNote(row);
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
    const std::uint8_t answer = Byte;
    const TReplyAction action = FFaults.FilterReply(Byte, Cause, Code);
    // The message's row says what went on the line: nothing, or another byte.
    if (Cause == rcAnswer && !action.Send && action.DelayMs < 0)
        FMonitor.Logs().ShowSentInstead("none");
    else if (Cause == rcAnswer && Byte != answer)
        FMonitor.Logs().ShowSentInstead(StrFormat("%.2Xh", Byte));
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
