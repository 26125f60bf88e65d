// The engine's side of the faults: a NAK or ESC answer chosen before the
// message is interpreted (so it is not acted on), and every reply byte
// passed through the faults on its way out: withheld, changed, sent late
// or followed by garbage. Each firing is an event-log row and a record.
#include <QTimer>

#include "dataport/str_format.h"
#include "monitor/monitor.h"

namespace volmar {

namespace {
// Garbage alternates two bytes that are none of ACK, NAK, ESC.
constexpr std::uint8_t kGarbage[] = {0xAA, 0x55};
} // namespace

void TMonitor::BindFaults() {
    FFaults.OnFired = [this](const TFaultRule& Rule, const std::string& What) {
        // A refusal is decided before its message is logged; its row, as
        // every fault's, follows the message's.
        const std::string row = "Fault injected: " + What;
        if (Rule.Kind == TFaultKind::Nak || Rule.Kind == TFaultKind::Esc)
            FLogs.LogNoteAfterNextMessage(row);
        else
            FLogs.LogNote(row);
        RecordEvent(TLineEvent::FaultInjected, static_cast<std::int32_t>(Rule.Kind), What);
    };
    FFaults.OnChanged = [this] {
        // Told later: it may change while a reply is on its way out.
        QMetaObject::invokeMethod(
            this,
            [this] {
                const bool active = FFaults.Active();
                FView.ShowFaultsActive(active);
                emit FaultsChanged(active);
            },
            Qt::QueuedConnection);
    };
    FVolmar.OnFilterReply = [this](TVolmarDataport* Sender, std::uint8_t& Byte,
                                   TReplyCause Cause) {
        return FilterReply(Byte, Cause, Sender->Msg().Code());
    };
}

bool TMonitor::FilterReply(std::uint8_t& Byte, TReplyCause Cause, std::uint8_t Code) {
    const std::uint8_t answer = Byte;
    const TReplyAction action = FFaults.FilterReply(Byte, Cause, Code);
    // The message's row says what went on the line: nothing, or another byte.
    if (Cause == rcAnswer && !action.Send && action.DelayMs < 0)
        FLogs.ShowSentInstead("none");
    else if (Cause == rcAnswer && Byte != answer)
        FLogs.ShowSentInstead(StrFormat("%.2Xh", Byte));
    if (action.DelayMs >= 0) {
        const std::vector<std::uint8_t> late{Byte};
        QTimer::singleShot(action.DelayMs, this, [this, late, Cause] { SendLate(late, Cause); });
    }
    if (action.Garbage > 0) {
        std::vector<std::uint8_t> garbage;
        for (int i = 0; i < action.Garbage; ++i) garbage.push_back(kGarbage[i % 2]);
        // After the reply itself has gone into the port.
        QMetaObject::invokeMethod(
            this, [this, garbage, Cause] { SendLate(garbage, Cause); }, Qt::QueuedConnection);
    }
    return action.Send;
}

void TMonitor::SendLate(std::vector<std::uint8_t> Bytes, TReplyCause Cause) {
    if (!FComPortPlus.Open()) return;
    TTrafficRecord r;
    r.Kind = TRecordKind::Reply;
    r.Cause = Cause;
    try {
        for (std::uint8_t b : Bytes) FComPortPlus.PutChar(b);
    } catch (const std::exception&) {
        r.Dropped = true;
    }
    r.Bytes = TRecordBytes(Bytes.begin(), Bytes.end());
    Record(std::move(r));
}

} // namespace volmar
