// The simulator's own receiver and interpretation, fed in-process with the
// bytes the machine would put on the line: what it answers and what the
// decoders made of the message.
#pragma once

#include "dataport/receiver.h"
#include "interpret/interpreter.h"
#include "support/fake_dataport_port.h"
#include "support/recording_view.h"

#include <cstdint>
#include <vector>

namespace volmar::testing {

class SimulatorSide {
  public:
    SimulatorSide() {
        Receiver.SetComPort(&Port);
        Receiver.OnDPMessage = [this](TVolmarDataport* r, PDPMessage m, bool e, TAcception& a) {
            LastRetry = m->Retry;
            Interpreter.VolmarDPMessage(r, m, e, a);
        };
        Receiver.OnDPInvMessage = [this](TVolmarDataport*, PDPMessage, bool, TAcception&) {
            ++Invalid;
        };
        Receiver.ResetReceiver();
    }

    // The reply bytes the receiver sent for these bytes.
    std::vector<std::uint8_t> Feed(const std::vector<std::uint8_t>& Bytes) {
        const std::size_t before = Port.Sent.size();
        for (std::uint8_t b : Bytes)
            Buffer.Put(b);
        Receiver.ProcessBuffer(Buffer);
        return {Port.Sent.begin() + static_cast<std::ptrdiff_t>(before), Port.Sent.end()};
    }

    TCounters Counters{};
    TLogs Logs{{[] { return 0u; }, [] { return std::string("t"); }}};
    RecordingView View;
    TInterpreter Interpreter{Counters, Logs, View};
    FakeDataportPort Port;
    TVolmarDataport Receiver;
    TSerialBuffer Buffer{256};
    bool LastRetry = false;
    int Invalid = 0;
};

} // namespace volmar::testing
