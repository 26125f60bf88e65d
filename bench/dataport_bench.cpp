// Throughput of the receiver over a realistic mix of frames, and the heap
// allocations it makes per message once running.
#include <benchmark/benchmark.h>

#include <vector>

#include "alloc_counter.h"
#include "dataport/receiver.h"

namespace {

using namespace volmar;

class NullPort : public IDataportPort {
public:
    bool Open() const override { return true; }
    void PutChar(std::uint8_t) override {}
    void FlushInBuffer() override {}
    void FlushOutBuffer() override {}
    void SetTimerTrigger(std::uint16_t, std::uint32_t, bool) override {}
    void ProcessCommunications() override {}
    void BindTimerNotification(TDataportTimerEvent) override {}
};

void AddFrame(std::vector<std::uint8_t>& out, std::vector<std::uint8_t> frame) {
    std::uint8_t sum = 0;
    for (auto b : frame) sum = static_cast<std::uint8_t>(sum + b);
    const auto cls = ClassifyHeader(frame[0]).MsgClass;
    out.insert(out.end(), frame.begin(), frame.end());
    if (cls != mcSingleByte) out.push_back(sum);
}

// Coins, games, wins, switch reports, a power-on and the odd retry.
std::vector<std::uint8_t> Mix(int* messages) {
    std::vector<std::uint8_t> s;
    int n = 0;
    for (int round = 0; round < 50; ++round) {
        AddFrame(s, {0x26}), ++n;
        AddFrame(s, {0x29}), ++n;
        AddFrame(s, {0x69, 0x00, 0x0A}), ++n;
        AddFrame(s, {0x6C, 0x00, 0x50}), ++n;
        AddFrame(s, {0x6E, 0x00, 0x70}), ++n;
        AddFrame(s, {0x0A}), ++n;
        AddFrame(s, {0x62, 0x05}), ++n;
        AddFrame(s, {0x05}), ++n;
        AddFrame(s, {0xA6}), ++n;
        if (round % 10 == 0) {
            AddFrame(s, {0x70, 10, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), ++n;
            AddFrame(s, {0x74, 4, 0, 0, 1, 0}), ++n;
        }
    }
    *messages = n;
    return s;
}

void BM_ProcessBuffer(benchmark::State& state) {
    NullPort port;
    TVolmarDataport rx;
    rx.SetComPort(&port);
    rx.SetTimerHandle(8);
    std::uint64_t delivered = 0;
    rx.OnDPMessage = [&](TVolmarDataport*, PDPMessage, bool, TAcception& a) {
        ++delivered;
        a = acAccepted;
    };
    rx.ResetReceiver();
    int perMix = 0;
    const auto mix = Mix(&perMix);
    TSerialBuffer buffer(256);

    std::uint64_t bytes = 0;
    const std::uint64_t allocsBefore = bench::AllocationCount();
    for (auto _ : state) {
        // Batches of up to 64 bytes, as a busy line delivers them.
        for (std::size_t i = 0; i < mix.size();) {
            const std::size_t n = std::min<std::size_t>(64, mix.size() - i);
            for (std::size_t k = 0; k < n; ++k) buffer.Put(mix[i + k]);
            rx.ProcessBuffer(buffer);
            i += n;
        }
        bytes += mix.size();
    }
    const std::uint64_t allocs = bench::AllocationCount() - allocsBefore;
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["messages"] = static_cast<double>(delivered);
    state.counters["allocs_per_message"] =
        delivered ? static_cast<double>(allocs) / static_cast<double>(delivered) : 0.0;
}
BENCHMARK(BM_ProcessBuffer);

} // namespace
