// Messages per second through the interpretation with the event log full,
// over a mix of the codes a playing machine sends.
#include <benchmark/benchmark.h>

#include <vector>

#include "interpret/interpreter.h"

namespace {

using namespace volmar;

struct Frame {
    std::uint8_t header;
    std::vector<std::uint8_t> data;
};

void BM_InterpretMessage(benchmark::State& state) {
    TCounters counters{};
    TLogs logs{{[] { return 12345u; }, [] { return std::string("12:34:56"); }}};
    logs.InitLogGrids(counters);
    TUnseenMachineView view;
    TInterpreter interp(counters, logs, view);

    const std::vector<Frame> mix = {
        {0x26, {}},         {0x29, {}},         {0x69, {0x00, 0x0A}}, {0x6C, {0x00, 0x50}},
        {0x2C, {}},         {0x0A, {}},         {0x62, {0x05}},       {0x05, {}},
        {0xA6, {}},         {0x6E, {0x00, 0x70}}, {0x77, {2, 0, 0, 1, 0}},
        {0x74, {0, 0, 0, 9}},
    };
    std::array<std::uint8_t, kDataBlockSize> block{};
    std::vector<TDPMessage> messages;
    for (const auto& f : mix) {
        TDPMessage m;
        m.Header = f.header;
        m.Retry = (f.header & 0x80) != 0;
        m.MsgClass = ClassifyHeader(f.header).MsgClass;
        m.Length = static_cast<std::uint8_t>(f.data.size());
        m.Valid = true;
        messages.push_back(m);
    }
    // Fill the event log to its bound first.
    for (int i = 0; i < kEventLogLimit; ++i) logs.LogLineError(1);

    std::int64_t count = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < messages.size(); ++i) {
            std::copy(mix[i].data.begin(), mix[i].data.end(), block.begin());
            messages[i].Data = block.data();
            benchmark::DoNotOptimize(interp.InterpretMessage(&messages[i], false));
        }
        count += static_cast<std::int64_t>(messages.size());
    }
    state.SetItemsProcessed(count);
    state.counters["event_rows"] = logs.Events.RowCount();
}
BENCHMARK(BM_InterpretMessage);

} // namespace
