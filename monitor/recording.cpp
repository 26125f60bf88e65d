// What happens on the line, recorded: every frame as the receiver framed
// it, every reply, the bytes thrown away while waiting for quiet, and the
// events of the port and the engine; counted in the statistics, written to
// the capture file, and watched for a machine that has fallen silent.
#include "monitor/capture_file.h"
#include "monitor/monitor.h"
#include "serial/profile_file.h"

namespace volmar {

namespace {

constexpr char kCapture[] = "Capture";
constexpr int kWatchMs = 250;
constexpr std::int64_t kMiB = 1024 * 1024;

const char* FormatKey(TCaptureFormat Format) {
    return Format == TCaptureFormat::JsonLines ? "jsonl" : "text";
}

} // namespace

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
    FWatchTimer.setInterval(kWatchMs);
    connect(&FWatchTimer, &QTimer::timeout, this, [this] { Watch(); });
}

void TMonitor::Record(TTrafficRecord R) {
    // Whatever is recorded comes after the frame held for its answer.
    ReleaseHeldFrame();
    if (R.WallUs == 0) R.WallUs = WallMicroseconds();
    if (R.MonoUs == 0) R.MonoUs = MonoMicroseconds();
    emit TrafficRecorded(R);
    if (FCapture) FCapture->Write(std::move(R));
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
    r.Class = ClassifyHeader(Msg.Header).MsgClass;
    r.Code = Msg.Code();
    r.Retry = Msg.Retry;
    r.Valid = Fault == ffNone && Msg.Valid;
    r.Fault = Fault;
    r.LineError = Msg.LineError;
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
    FDiscarded.clear();
    Record(std::move(r));
}

void TMonitor::Watch() {
    WatchCapture();
    FReports.WatchStandardError();
}

void TMonitor::WatchCapture() {
    CountCaptureLost();
    const QString error = CaptureError();
    if (!error.isEmpty()) {
        if (error != FReports.Alert()) FReports.ReportQuietly(error);
    } else if (!FCaptureAlert.isEmpty() && FReports.Alert() == FCaptureAlert) {
        FReports.ShowAlert(QString());
    }
    FCaptureAlert = error;
}

void TMonitor::CountCaptureLost() {
    const std::uint64_t lost = FCapture ? FCapture->Lost() : 0;
    if (lost > FCaptureLostSeen) emit CaptureRecordsLost(lost - FCaptureLostSeen);
    FCaptureLostSeen = lost;
}

QString TMonitor::CapturePath() const { return FCapture ? FCaptureFilePath : QString(); }

QString TMonitor::CaptureError() const {
    return FCapture ? QString::fromLocal8Bit(FCapture->Error().c_str()) : QString();
}

void TMonitor::SetCaptureSettings(const TCaptureSettings& Settings) {
    FCaptureChosen = true;
    FCaptureChosenInRun = true;
    if (Settings == FCaptureSettings && (FCapture != nullptr) == Settings.On) return;
    FCaptureSettings = Settings;
    OpenCapture();
}

void TMonitor::OpenCapture() {
    CountCaptureLost();
    FCapture.reset();
    FCaptureLostSeen = 0;
    FCaptureFilePath.clear();
    TCaptureSettings use = FCaptureSettings;
    // A file given for the run is captured whatever the settings say, in
    // the format its name asks for, until the operator chooses otherwise.
    if (!FOptions.CapturePath.isEmpty() && !FCaptureChosenInRun) {
        use.On = true;
        use.Path = FOptions.CapturePath;
        use.Format = use.Path.endsWith(QStringLiteral(".jsonl")) ? TCaptureFormat::JsonLines
                                                                 : TCaptureFormat::Text;
    }
    if (!use.On) return;
    if (use.Path.isEmpty())
        use.Path = FilePath(use.Format == TCaptureFormat::JsonLines
                                ? QStringLiteral("volmarsim-capture.jsonl")
                                : QStringLiteral("volmarsim-capture.txt"));
    FCaptureFilePath = use.Path;
    FCapture = std::make_unique<TCaptureFile>(use.Path.toStdString(), use.LimitBytes, use.Keep,
                                              TCaptureFile::kDefaultQueueLimit, use.Format);
}

void TMonitor::LoadRecordingSettings(const TProfileFile& Ini) {
    FCaptureChosen = !Ini.Keys(kCapture).empty();
    TCaptureSettings s;
    s.On = Ini.ReadInteger(kCapture, "On", 1) != 0;
    s.Format = Ini.ReadString(kCapture, "Format", "text") == "jsonl" ? TCaptureFormat::JsonLines
                                                                      : TCaptureFormat::Text;
    s.Path = QString::fromStdString(Ini.ReadString(kCapture, "Path", std::string()));
    const std::int32_t limit = Ini.ReadInteger(kCapture, "Limit MiB", 64);
    if (limit >= 1 && limit <= 1024 * 1024) s.LimitBytes = limit * kMiB;
    const std::int32_t keep = Ini.ReadInteger(kCapture, "Files", 10);
    if (keep >= 1 && keep <= 1000) s.Keep = keep;
    FCaptureSettings = s;
}

void TMonitor::SaveRecordingSettings(TProfileFile& Ini) const {
    // Written once the operator chose them: a file that never had them stays as it was.
    if (FCaptureChosen) {
        const TCaptureSettings& s = FCaptureSettings;
        Ini.WriteInteger(kCapture, "On", s.On ? 1 : 0);
        Ini.WriteString(kCapture, "Format", FormatKey(s.Format));
        Ini.WriteString(kCapture, "Path", s.Path.toStdString());
        Ini.WriteInteger(kCapture, "Limit MiB", static_cast<std::int32_t>(s.LimitBytes / kMiB));
        Ini.WriteInteger(kCapture, "Files", s.Keep);
    }
}

} // namespace volmar
