#include "lab/capture.h"

#include "interpret/counters.h"
#include "lab/report.h"
#include "monitor/monitor.h"
#include "serial/profile_file.h"

namespace volmar {

namespace {

constexpr char kCapture[] = "Capture";
constexpr std::int64_t kMiB = 1024 * 1024;
// How often the file's trouble and its lost records are looked at.
constexpr int kWatchMs = 250;

const char* FormatKey(TCaptureFormat Format) {
    switch (Format) {
    case TCaptureFormat::JsonLines: return "jsonl";
    case TCaptureFormat::Pcapng: return "pcapng";
    case TCaptureFormat::Text: break;
    }
    return "text";
}

// The format a file's name asks for.
TCaptureFormat FormatOfPath(const QString& Path) {
    if (Path.endsWith(QStringLiteral(".jsonl"))) return TCaptureFormat::JsonLines;
    if (Path.endsWith(QStringLiteral(".pcapng"))) return TCaptureFormat::Pcapng;
    return TCaptureFormat::Text;
}

QString DefaultName(TCaptureFormat Format) {
    return QStringLiteral("volmarsim-capture.") + QLatin1String(Format == TCaptureFormat::Text
                                                                    ? "txt"
                                                                    : FormatKey(Format));
}

} // namespace

TCapture::TCapture(TMonitor& Monitor, QString RunPath)
    : FMonitor(Monitor), FRunPath(std::move(RunPath)) {
    Monitor.AddSettingsPart(this);
    connect(&Monitor, &TMonitor::TrafficRecorded, this, [this](const TTrafficRecord& Record) {
        if (!FFile) return;
        // A frame's totals count it already: its state goes after it, any
        // other record's before it, where a file may begin.
        const bool frame = Record.Kind == TRecordKind::Frame;
        if (!frame) QueueState();
        FFile->Write(Record);
        if (frame) QueueState();
    });
    FWatch.setInterval(kWatchMs);
    connect(&FWatch, &QTimer::timeout, this, &TCapture::Watch);
    connect(&Monitor, &TMonitor::StartedUp, &FWatch, qOverload<>(&QTimer::start));
    // After the engine's last records.
    connect(&Monitor, &TMonitor::ShutDownEnded, this, [this] {
        FWatch.stop();
        FFile.reset();
    });
}

TCapture::~TCapture() = default;

QString TCapture::Path() const { return FFile ? FFilePath : QString(); }

QString TCapture::Error() const {
    return FFile ? QString::fromLocal8Bit(FFile->Error().c_str()) : QString();
}

void TCapture::SetSettings(const TCaptureSettings& Settings) {
    FChosen = true;
    FChosenInRun = true;
    if (Settings == FSettings && (FFile != nullptr) == Settings.On) return;
    FSettings = Settings;
    Open();
}

void TCapture::Open() {
    CountLost();
    FFile.reset();
    FLostSeen = 0;
    FFilePath.clear();
    TCaptureSettings use = FSettings;
    // A file given for the run is captured whatever the settings say, in
    // the format its name asks for, until the operator chooses otherwise.
    if (!FRunPath.isEmpty() && !FChosenInRun) {
        use.On = true;
        use.Path = FRunPath;
        use.Format = FormatOfPath(use.Path);
    }
    if (!use.On) return;
    if (use.Path.isEmpty()) use.Path = FMonitor.FilePath(DefaultName(use.Format));
    FFilePath = use.Path;
    FFile = std::make_unique<TCaptureFile>(use.Path.toStdString(), use.LimitBytes, use.Keep,
                                           TCaptureFile::kDefaultQueueLimit, use.Format);
    FStateQueued = {};
    QueueState();
}

void TCapture::QueueState() {
    // Compared as numbers first: this runs for every record.
    TCounters& counters = FMonitor.Counters();
    std::array<std::int32_t, kTotalCount> totals{};
    for (int i = 0; i < kTotalCount; ++i)
        totals[static_cast<std::size_t>(i)] = *MeterTotal(counters, i + 1);
    const std::int32_t baud = FMonitor.ComPortPlus().Baud();
    const char* mode = kSpeedModeNames.at(FMonitor.SpeedMode());
    if (totals == FTotalsQueued && baud == FStateQueued.Baud && FStateQueued.SpeedMode == mode)
        return;
    FTotalsQueued = totals;
    TCaptureState state;
    state.Baud = baud;
    state.SpeedMode = mode;
    for (int i = 0; i < kTotalCount; ++i) {
        if (i > 0) state.Totals += ' ';
        state.Totals += std::string(TotalKey(i + 1)) + '=' +
                        std::to_string(totals[static_cast<std::size_t>(i)]);
    }
    FStateQueued = state;
    FFile->Write(std::move(state));
}

void TCapture::Watch() {
    CountLost();
    TErrorReports& reports = FMonitor.Reports();
    const QString error = Error();
    if (!error.isEmpty()) {
        if (error != reports.Alert()) reports.ReportQuietly(error);
    } else if (!FAlert.isEmpty() && reports.Alert() == FAlert) {
        reports.ShowAlert(QString());
    }
    FAlert = error;
}

void TCapture::CountLost() {
    const std::uint64_t lost = FFile ? FFile->Lost() : 0;
    if (lost > FLostSeen) emit RecordsLost(lost - FLostSeen);
    FLostSeen = lost;
}

void TCapture::Load(const TProfileFile& Ini) {
    FChosen = !Ini.Keys(kCapture).empty();
    TCaptureSettings s;
    s.On = Ini.ReadInteger(kCapture, "On", 1) != 0;
    const std::string format = Ini.ReadString(kCapture, "Format", "text");
    for (const TCaptureFormat f : {TCaptureFormat::JsonLines, TCaptureFormat::Pcapng})
        if (format == FormatKey(f)) s.Format = f;
    s.Path = QString::fromStdString(Ini.ReadString(kCapture, "Path", std::string()));
    const std::int32_t limit = Ini.ReadInteger(kCapture, "Limit MiB", 64);
    if (limit >= 1 && limit <= 1024 * 1024) s.LimitBytes = limit * kMiB;
    const std::int32_t keep = Ini.ReadInteger(kCapture, "Files", 10);
    if (keep >= 1 && keep <= 1000) s.Keep = keep;
    FSettings = s;
    Open();
}

void TCapture::Save(TProfileFile& Ini) const {
    if (!FChosen) return;
    const TCaptureSettings& s = FSettings;
    Ini.WriteInteger(kCapture, "On", s.On ? 1 : 0);
    Ini.WriteString(kCapture, "Format", FormatKey(s.Format));
    Ini.WriteString(kCapture, "Path", s.Path.toStdString());
    Ini.WriteInteger(kCapture, "Limit MiB", static_cast<std::int32_t>(s.LimitBytes / kMiB));
    Ini.WriteInteger(kCapture, "Files", s.Keep);
}

} // namespace volmar
