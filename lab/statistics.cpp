#include "lab/statistics.h"

#include "serial/com_port.h"

namespace volmar {

const std::array<TStatName, stKindCount> StatNames = {{
    {"Frames received", "frames"},
    {"Valid messages", "valid"},
    {"ACK sent", "ack"},
    {"NAK sent", "nak"},
    {"ESC sent", "esc"},
    {"Resends received", "resends"},
    {"Repeats recognised", "repeats"},
    {"Bad checksums", "bad-checksum"},
    {"Gaps inside a frame", "gap"},
    {"Over-long lengths", "over-long"},
    {"Zero lengths", "zero-length"},
    {"Overruns", "overrun"},
    {"Parity errors", "parity"},
    {"Framing errors", "framing"},
    {"Breaks", "break"},
    {"Buffer overflows", "buffer-overflow"},
    {"Bytes discarded waiting for quiet", "discarded-bytes"},
    {"Silence NAKs", "silence-nak"},
    {"First-message NAKs", "first-message-nak"},
    {"Replies dropped, output full", "replies-dropped"},
    {"Device lost", "device-lost"},
    {"Machine silent", "machine-silent"},
    {"Faults injected", "faults-injected"},
    {"Capture records lost", "capture-lost"},
}};

void TStatistics::Add(TStatKind Kind, std::int64_t WallUs, std::uint64_t Amount) {
    FEntries[Kind].Count += Amount;
    FEntries[Kind].LastWallUs = WallUs;
}

void TStatistics::Clear(std::int64_t NowWallUs) {
    FEntries = {};
    FSinceWallUs = NowWallUs;
}

void TStatistics::Count(const TTrafficRecord& R) {
    const std::int64_t t = R.WallUs;
    switch (R.Kind) {
    case TRecordKind::Frame: {
        Add(stFrames, t);
        if (R.Valid) Add(stValid, t);
        if (R.Retry) Add(stResends, t);
        if (R.Repeat) Add(stRepeats, t);
        static constexpr TStatKind faults[] = {stFrames, stBadChecksum, stGap, stOverLong,
                                               stZeroLength};
        if (R.Fault != ffNone && R.Fault != ffLineError) Add(faults[R.Fault], t);
        break;
    }
    case TRecordKind::Reply:
        if (R.Dropped) {
            Add(stRepliesDropped, t);
            break;
        }
        if (R.Cause == rcSilenceNak) Add(stSilenceNaks, t);
        if (R.Cause == rcFirstMessageNak) Add(stFirstMessageNaks, t);
        if (!R.Bytes.empty()) {
            if (R.Bytes[0] == kAck) Add(stAck, t);
            if (R.Bytes[0] == kNak) Add(stNak, t);
            if (R.Bytes[0] == kEsc) Add(stEsc, t);
        }
        break;
    case TRecordKind::Discarded: Add(stDiscardedBytes, t, static_cast<std::uint64_t>(R.Bytes.size())); break;
    case TRecordKind::Event:
        if (R.Event == TLineEvent::DeviceLost) Add(stDeviceLost, t);
        if (R.Event == TLineEvent::MachineSilent) Add(stMachineSilent, t);
        if (R.Event == TLineEvent::FaultInjected) Add(stFaultsInjected, t);
        if (R.Event == TLineEvent::LineError) {
            switch (R.Value) {
            case leBuffer: Add(stBufferOverflow, t); break;
            case leOverrun: Add(stOverrun, t); break;
            case leParity: Add(stParity, t); break;
            case leFraming: Add(stFraming, t); break;
            case leBreak: Add(stBreak, t); break;
            default: break;
            }
        }
        break;
    }
}

} // namespace volmar
