// One thing that happened on the line, as the engine records it for whoever
// watches (a capture file keeps it, statistics count it): a frame as the
// receiver framed it, a reply byte, the bytes thrown away while waiting for
// quiet, or an event of the port, the engine or a part beside it. Times are
// taken when it happened, on the engine's thread.
#pragma once

#include <QVarLengthArray>

#include <cstdint>
#include <string>

#include "dataport/message.h"
#include "dataport/receiver.h"

namespace volmar {

enum class TRecordKind : std::uint8_t { Frame, Reply, Discarded, Event };

enum class TLineEvent : std::uint8_t {
    ReceiverReset,
    LineError,     // Value: the line error code (leBuffer .. leBreak, kTxQueueFull)
    DeviceLost,    // Value: the COM number, Detail: the device, as for the next three
    DeviceBack,
    PortOpened,
    PortClosed,
    SpeedChanged,  // Value: the baud rate
    Reset,
    TotalsEdited,  // Detail: the totals set
    MachineSilent, // Detail: since when
    MachineSpeaks,
    FaultInjected, // Detail: what was done
    // Written by the capture itself where records were lost. Value: how
    // many, Detail: between which times.
    CaptureLost,
    // Written by the capture at the top of each file: Value: the baud,
    // Detail: "speed mode auto|1200|9600".
    StartState,
    // Written by the capture after StartState and at the end of each file.
    // Detail: "in=N out=N ..." as the control socket names the totals.
    Totals,
    // The judge's: Value: the rule's number, Detail: what the machine did.
    RuleBroken,
};
inline constexpr int kLineEventCount = static_cast<int>(TLineEvent::RuleBroken) + 1;

// Room for the longest frame without memory of its own: records are made
// for every byte answered and freed on another thread, which left the
// answering one taking fresh pages for the first of them.
using TRecordBytes = QVarLengthArray<std::uint8_t, kMaxFrameSize>;

struct TTrafficRecord {
    TRecordKind Kind = TRecordKind::Event;
    // Microseconds since the epoch, and on a monotonic clock.
    std::int64_t WallUs = 0;
    std::int64_t MonoUs = 0;
    // The frame's bytes, the reply byte, or the bytes discarded.
    TRecordBytes Bytes;
    // A frame or a discarded run: when the batch holding its first byte
    // arrived, on the monotonic clock (0: not known). With it a replay keeps
    // a pause inside a frame where it was.
    std::int64_t FirstMonoUs = 0;

    // A frame: as classified, decoded and answered. Fault is ffNone for a
    // frame that arrived whole.
    TDPMsgClass Class = mcNone;
    std::uint8_t Code = 0;
    std::string Text;
    bool Retry = false;
    bool Valid = false;
    // A resend recognised as a message already acted on.
    bool Repeat = false;
    TFrameFault Fault = ffNone;
    std::uint16_t LineError = 0;
    // The longest wait between two reads of the port while this frame was
    // coming in, in microseconds (0: it came in one read): an upper bound
    // of the largest gap between its bytes, as close as the reads allow.
    std::int64_t MaxGapUs = 0;

    // A reply: why it was sent, whether the port took it, and the time from
    // the frame's last byte to the reply going out (-1 when not an answer).
    TReplyCause Cause = rcAnswer;
    bool Dropped = false;
    std::int64_t LatencyUs = -1;

    TLineEvent Event = TLineEvent::ReceiverReset;
    std::int32_t Value = 0;
    std::string Detail;
};

// Microseconds since the epoch, and on the monotonic clock, now.
std::int64_t WallMicroseconds();
std::int64_t MonoMicroseconds();

// An event, to be recorded; its times are taken when it is.
TTrafficRecord EventRecord(TLineEvent Event, std::int32_t Value = 0, std::string Detail = {});

// Names as the capture and the exports write them.
const char* FrameFaultName(TFrameFault Fault);   // "", "bad checksum", "gap", ...
const char* ReplyCauseName(TReplyCause Cause);   // "answer", "first-message NAK", "silence NAK"
const char* LineEventName(TLineEvent Event);     // "receiver-reset", "line-error", ...

} // namespace volmar
