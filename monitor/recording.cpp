// What happens on the line, recorded: every frame as the receiver framed
// it, every reply, the bytes thrown away while waiting for quiet, and the
// events of the port and the engine, each told to whoever watches the
// records.
#include "monitor/monitor.h"

namespace volmar {

void TMonitor::BindRecording() {
    FVolmar.OnFrameAbandoned = [this](TVolmarDataport* Sender, TFrameFault Fault) {
        RecordFrame(Sender->Msg(), Fault);
    };
    FVolmar.OnReply = [this](TVolmarDataport*, std::uint8_t Byte, TReplyCause Cause, bool Sent) {
        FlushDiscarded();
        TTrafficRecord r;
        r.Kind = TRecordKind::Reply;
        r.Bytes = {Byte};
        r.Cause = Cause;
        r.Dropped = !Sent;
        if (Cause == rcAnswer) r.LatencyUs = MonoMicroseconds() - FBatchMonoUs;
        Record(std::move(r));
    };
    FVolmar.OnQuietByte = [this](TVolmarDataport*, std::uint8_t Byte) {
        if (FDiscarded.empty()) FDiscardedFirstUs = FBatchMonoUs;
        FDiscarded.push_back(Byte);
    };
    connect(this, &TMonitor::ReceiverReset, this,
            [this] { RecordEvent(TLineEvent::ReceiverReset); });
    connect(this, &TMonitor::LineErrorLogged, this, [this](quint16 Code) {
        RecordEvent(TLineEvent::LineError, Code, LineErrorText(Code));
    });
    const auto port = [this](TLineEvent Event) {
        return [this, Event](quint16 Number, const QString& Path) {
            RecordEvent(Event, Number, Path.toStdString());
        };
    };
    connect(this, &TMonitor::PortOpened, this, port(TLineEvent::PortOpened));
    connect(this, &TMonitor::PortClosed, this, port(TLineEvent::PortClosed));
    connect(this, &TMonitor::DeviceLost, this, port(TLineEvent::DeviceLost));
    connect(this, &TMonitor::DeviceBack, this, port(TLineEvent::DeviceBack));
}

void TMonitor::Record(TTrafficRecord R) {
    // Whatever is recorded comes after the frame held for its answer.
    ReleaseHeldFrame();
    if (R.WallUs == 0) R.WallUs = WallMicroseconds();
    if (R.MonoUs == 0) R.MonoUs = MonoMicroseconds();
    emit TrafficRecorded(R);
}

void TMonitor::RecordEvent(TLineEvent Event, std::int32_t Value, std::string Detail) {
    Record(EventRecord(Event, Value, std::move(Detail)));
}

void TMonitor::RecordFrame(const TDPMessage& Msg, TFrameFault Fault) {
    FlushDiscarded();
    Record(FrameRecord(Msg, Fault));
}

void TMonitor::HoldFrame(const TDPMessage& Msg, TAcception Accepted) {
    FlushDiscarded();
    ReleaseHeldFrame();
    TTrafficRecord r = FrameRecord(Msg, ffNone);
    // Stamped when it was framed, before its answer.
    r.WallUs = WallMicroseconds();
    r.MonoUs = MonoMicroseconds();
    FHeldFrame.emplace(THeldFrame{std::move(r), Msg, Accepted});
}

void TMonitor::ReleaseHeldFrame() {
    if (!FHeldFrame) return;
    THeldFrame held = std::move(*FHeldFrame);
    FHeldFrame.reset();
    Record(std::move(held.Record));
    emit MessageReceived(held.Msg, held.Accepted);
}

TTrafficRecord TMonitor::FrameRecord(const TDPMessage& Msg, TFrameFault Fault) {
    TTrafficRecord r;
    r.Kind = TRecordKind::Frame;
    r.Bytes = TRecordBytes(FVolmar.FrameBytes(), FVolmar.FrameBytes() + FVolmar.FrameSize());
    r.FirstMonoUs = FFrameFirstUs;
    // The next frame begins with this batch at the earliest.
    FFrameFirstUs = FBatchMonoUs;
    r.Class = ClassifyHeader(Msg.Header).MsgClass;
    r.Code = Msg.Code();
    r.Retry = Msg.Retry;
    r.Valid = Fault == ffNone && Msg.Valid;
    r.Fault = Fault;
    r.LineError = Msg.LineError;
    r.MaxGapUs = FFrameGapUs;
    FFrameGapUs = 0;
    if (r.Valid) {
        r.Text = FInterpreter.LastText();
        r.Repeat = FInterpreter.LastWasRepeat();
    }
    return r;
}

void TMonitor::SendReplyBytes(const std::vector<std::uint8_t>& Bytes, TReplyCause Cause) {
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

void TMonitor::FlushDiscarded() {
    if (FDiscarded.empty()) return;
    TTrafficRecord r;
    r.Kind = TRecordKind::Discarded;
    r.Bytes = TRecordBytes(FDiscarded.begin(), FDiscarded.end());
    r.FirstMonoUs = FDiscardedFirstUs;
    FDiscarded.clear();
    Record(std::move(r));
}

} // namespace volmar
