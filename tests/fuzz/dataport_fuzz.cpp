// Feeds random bytes, timer expiries and line errors to the receiver and
// checks what must hold whatever the machine sends.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <stdexcept>

#include "dataport/receiver.h"

namespace {

using namespace volmar;

class NullPort : public IDataportPort {
public:
    bool Armed = false;
    bool Full = false;  // the output ring is full: every reply is refused
    std::uint32_t Refused = 0;
    bool Open() const override { return true; }
    void PutChar(std::uint8_t) override {
        if (!Full) return;
        ++Refused;
        throw std::runtime_error("Output buffer too small for block");
    }
    void FlushInBuffer() override {}
    void FlushOutBuffer() override {}
    void SetTimerTrigger(std::uint16_t, std::uint32_t, bool Activate) override { Armed = Activate; }
    void ProcessCommunications() override {}
    void BindTimerNotification(TDataportTimerEvent Handler) override { Notify = std::move(Handler); }
    TDataportTimerEvent Notify;
};

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

std::size_t FrameLength(const TDPMessage& m) {
    switch (m.MsgClass) {
    case mcSingleByte: return 1;
    case mcHeaderOnly: return 2;
    case mcOneDataByte: return 3;
    case mcTwoDataBytes: return 4;
    case mcVariableLength: return 3u + m.Length;
    default: return 0;
    }
}

void CheckDelivered(const TDPMessage& m) {
    std::array<std::uint8_t, kMaxFrameSize> frame{};
    const std::size_t n = MessageFrameBytes(m, frame);
    Check(n == FrameLength(m), "frame length matches the class");
    Check(m.MsgClass == ClassifyHeader(m.Header).MsgClass, "class follows the header");
    if (m.MsgClass == mcVariableLength) Check(m.Length >= 1 && m.Length <= 20, "length 1..20");
    if (m.MsgClass != mcSingleByte) {
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i + 1 < n; ++i) sum = static_cast<std::uint8_t>(sum + frame[i]);
        Check(sum == m.Checksum, "checksum is the sum of the frame bytes");
    }
    Check(m.LineError == 0, "a valid message carries no line error");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    NullPort port;
    TVolmarDataport rx;
    rx.SetComPort(&port);
    rx.SetTimerHandle(8);
    TSerialBuffer buffer(256);
    const std::uint8_t* block = rx.Msg().Data;
    std::uint8_t guard[kDataBlockSize - kMaxDataLength];

    rx.OnDPMessage = [&](TVolmarDataport*, PDPMessage m, bool, TAcception& a) {
        Check(m->Valid, "OnDPMessage gets only valid messages");
        CheckDelivered(*m);
        a = static_cast<TAcception>(m->Header % 4);
    };
    rx.OnDPInvMessage = [&](TVolmarDataport*, PDPMessage m, bool, TAcception&) {
        Check(!m->Valid, "OnDPInvMessage gets only invalid messages");
        Check(m->LineError == 0 || m->MsgClass == mcInvalid, "line error makes a message invalid");
    };
    rx.OnStateChange = [&](TVolmarDataport*, TDPState s, std::int32_t) {
        Check(s <= dpsWaitQuiet, "state is one of the six");
    };
    rx.ResetReceiver();
    std::memcpy(guard, block + kMaxDataLength, sizeof guard);

    // Each input byte is an opcode; most carry a batch of line bytes.
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t op = data[i++];
        switch (op >> 5) {
        case 0:
            if (port.Notify) port.Notify(&port, 8);
            break;
        case 1: rx.SetLineError(static_cast<std::uint16_t>(op & 0x1F)); break;
        case 2:
            if (port.Notify) port.Notify(&port, static_cast<std::uint16_t>(op & 0x1F));
            break;
        case 3:
            port.Full = (op & 1) != 0;
            rx.ResetReceiver();
            break;
        default: {
            const std::size_t n = std::min<std::size_t>(op & 0x1F, size - i);
            for (std::size_t k = 0; k < n; ++k) buffer.Put(data[i + k]);
            i += n;
            rx.ProcessBuffer(buffer);
            break;
        }
        }
        Check(rx.State() <= dpsWaitQuiet, "state is one of the six");
        Check(rx.Remaining() >= 0 && rx.Remaining() <= 20, "Remaining within 0..20");
        Check(std::memcmp(guard, block + kMaxDataLength, sizeof guard) == 0,
              "nothing written beyond data byte 20");
        Check(rx.State() != dpsWaitData || rx.Remaining() > 0, "Wait data always expects a byte");
        Check(rx.RepliesDropped() == port.Refused, "every refused reply is counted");
    }

    // Left alone, the receiver always finds its way back to "Wait header".
    for (int k = 0; k < 4 && rx.State() != dpsWaitHeader && rx.State() != dpsWaitHeaderNak; ++k)
        if (port.Notify && port.Armed) port.Notify(&port, 8);
    Check(rx.State() == dpsWaitHeader || rx.State() == dpsWaitHeaderNak,
          "the receiver recovers by itself");
    return 0;
}
