// TFaultDriver: the faults armed on purpose, put to work on the engine's
// replies through its reply gate: a NAK or ESC answer chosen before the
// message is interpreted (so it is not acted on), and every reply byte
// passed through the faults on its way out: withheld, changed, sent late or
// followed by garbage. Each firing is an event-log row and a record.
#pragma once

#include <QObject>
#include <QTimer>

#include "lab/faults.h"
#include "monitor/reply_gate.h"

namespace volmar {

class TMonitor;

class TFaultDriver : public QObject, public IReplyGate {
    Q_OBJECT
public:
    // The engine's replies pass through the driver while it lives.
    explicit TFaultDriver(TMonitor& Monitor);
    ~TFaultDriver() override;

    TFaults& Rules() { return FFaults; }

    std::optional<TAcception> AnswerInstead(const TDPMessage& Msg) override;
    bool Pass(std::uint8_t& Byte, TReplyCause Cause, std::uint8_t Code) override;

signals:
    // A fault was armed or cleared, or ended by itself.
    void FaultsChanged(bool Active);

private:
    TMonitor& FMonitor;
    TFaults FFaults;
    // Ends the faults whose time is up even while the line is quiet.
    QTimer FExpiry;
};

} // namespace volmar
