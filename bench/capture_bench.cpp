// What capturing a record costs: the engine's thread only hands it to the
// capture file, whose own thread formats it; and the rate of lines the
// capture file keeps up with in a flood without losing one.
#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "lab/capture_file.h"
#include "lab/capture_format.h"

namespace {

using namespace volmar;

// A folder of its own under the temporary directory, removed afterwards.
class TScratch {
public:
    TScratch() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "volmarbenchXXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
        FPath = pattern;
    }
    ~TScratch() {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    std::string File() const { return (FPath / "capture").string(); }

private:
    std::filesystem::path FPath;
};

// Games, coins and wins answered, a switch report, the odd NAK for silence,
// bytes thrown away and an event: 5000 records a second of it.
std::vector<TTrafficRecord> Mix() {
    std::vector<TTrafficRecord> mix;
    std::int64_t us = 1'784'012'703'000'000;
    const auto add = [&](TTrafficRecord r) {
        us += 200;
        r.WallUs = us;
        r.MonoUs = us - 1'784'000'000'000'000;
        mix.push_back(std::move(r));
    };
    const auto frame = [&](std::vector<std::uint8_t> bytes, TDPMsgClass cls, std::string text) {
        TTrafficRecord f;
        f.Kind = TRecordKind::Frame;
        f.Code = bytes.front() & 0x7F;
        f.Bytes = TRecordBytes(bytes.begin(), bytes.end());
        f.Class = cls;
        f.Text = std::move(text);
        f.Valid = true;
        add(f);
        TTrafficRecord ack;
        ack.Kind = TRecordKind::Reply;
        ack.Bytes = {kAck};
        ack.LatencyUs = 480;
        add(ack);
    };
    for (int round = 0; round < 20; ++round) {
        frame({0x69, 0x00, 0x0A, 0x73}, mcTwoDataBytes, "10");
        frame({0x26}, mcSingleByte, "");
        frame({0x6E, 0x00, 0x70, 0xDE}, mcTwoDataBytes, "112Ft");
        if (round % 5 == 0)
            frame({0x70, 3, 1, 2, 3, 0x79}, mcVariableLength, "(A=0102h O=03h S=0000h)");
    }
    TTrafficRecord nak;
    nak.Kind = TRecordKind::Reply;
    nak.Bytes = {kNak};
    nak.Cause = rcSilenceNak;
    add(nak);
    TTrafficRecord discarded;
    discarded.Kind = TRecordKind::Discarded;
    discarded.Bytes = {0x26, 0x27, 0x28};
    add(discarded);
    TTrafficRecord event;
    event.Kind = TRecordKind::Event;
    event.Event = TLineEvent::SpeedChanged;
    event.Value = 9600;
    add(event);
    return mix;
}

// The benchmarks' argument "format": 0 text, 1 JSON Lines, 2 pcapng.
TCaptureFormat FormatOf(const benchmark::State& state) {
    return static_cast<TCaptureFormat>(state.range(0));
}

// The wall clock moves on as the records are used again, so that the local
// time is worked out anew each second as on the line.
void Advance(std::vector<TTrafficRecord>& Mix) {
    const std::int64_t span = Mix.back().WallUs - Mix.front().WallUs + 200;
    for (TTrafficRecord& r : Mix) r.WallUs += span;
}

void BM_FormatRecord(benchmark::State& state) {
    std::vector<TTrafficRecord> mix = Mix();
    const TCaptureFormat format = FormatOf(state);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FormatRecord(mix[i], format));
        if (++i == mix.size()) {
            i = 0;
            Advance(mix);
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatRecord)->Arg(0)->Arg(1)->Arg(2)->ArgName("format");

// On the engine's thread: the record handed over as the engine hands it
// (moved), while the file's thread formats, gathers and writes. Every 4096
// records the queue is waited for and the next records made, untimed, as
// the line's few thousand records a second would let it empty; so every
// record is taken, none turned away for a full queue.
void BM_HandOver(benchmark::State& state) {
    constexpr std::size_t kRound = 4096;
    const TScratch scratch;
    std::vector<TTrafficRecord> mix = Mix();
    TCaptureFile capture(scratch.File(), TCaptureFile::kDefaultSizeLimit, 2,
                         TCaptureFile::kDefaultQueueLimit, FormatOf(state));
    std::vector<TTrafficRecord> round;
    std::size_t next = kRound;
    std::size_t i = 0;
    for (auto _ : state) {
        if (next == kRound) {
            state.PauseTiming();
            capture.Flush();
            round.clear();
            for (std::size_t k = 0; k < kRound; ++k) {
                round.push_back(mix[i]);
                if (++i == mix.size()) {
                    i = 0;
                    Advance(mix);
                }
            }
            next = 0;
            state.ResumeTiming();
        }
        capture.Write(std::move(round[next++]));
    }
    state.SetItemsProcessed(state.iterations());
    capture.Flush();
    if (capture.Lost() != 0) state.SkipWithError("records were lost");
    state.counters["lost"] = static_cast<double>(capture.Lost());
}
BENCHMARK(BM_HandOver)->Arg(0)->Arg(1)->Arg(2)->ArgName("format");

// A flood: 4 MiB of lines queued as fast as they come, then waited for,
// over and over. The rate is what reaches the files; no line may be lost.
void BM_Flood(benchmark::State& state) {
    constexpr std::size_t kRound = 4 * 1024 * 1024;
    const TScratch scratch;
    std::vector<std::string> lines;
    for (const TTrafficRecord& r : Mix()) lines.push_back(FormatRecord(r, FormatOf(state)));
    TCaptureFile capture(scratch.File(), TCaptureFile::kDefaultSizeLimit, 2);
    std::size_t i = 0;
    for (auto _ : state) {
        for (std::size_t queued = 0; queued < kRound;) {
            queued += lines[i].size();
            capture.Write(lines[i]);
            if (++i == lines.size()) i = 0;
        }
        if (!capture.Flush())
            state.SkipWithError("the flood was not written within the flush wait");
    }
    if (capture.Lost() != 0) state.SkipWithError("lines were lost");
    state.SetBytesProcessed(static_cast<std::int64_t>(capture.Written()));
    state.counters["lost"] = static_cast<double>(capture.Lost());
}
BENCHMARK(BM_Flood)->Arg(0)->Arg(1)->Arg(2)->ArgName("format")->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
