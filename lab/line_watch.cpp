#include "lab/line_watch.h"

#include <QTime>

#include "monitor/monitor.h"
#include "serial/profile_file.h"

namespace volmar {

namespace {
constexpr char kWatchdog[] = "Watchdog";
constexpr int kSilenceCheckMs = 250;
} // namespace

TLineWatch::TLineWatch(TMonitor& Monitor) : FMonitor(Monitor) {
    Monitor.AddSettingsPart(this);
    connect(&Monitor, &TMonitor::TrafficRecorded, this,
            [this](const TTrafficRecord& Record) { FStatistics.Count(Record); });
    connect(&Monitor, &TMonitor::BytesArrived, this, &TLineWatch::BytesArrived);
    // Silence counts from the moment the port is open.
    connect(&Monitor, &TMonitor::PortOpened, this,
            [this] { FLastByteMs = FMonitor.ComPortPlus().Clock().Milliseconds(); });
    FSilenceTimer.setInterval(kSilenceCheckMs);
    connect(&FSilenceTimer, &QTimer::timeout, this, &TLineWatch::WatchSilence);
    connect(&Monitor, &TMonitor::StartedUp, &FSilenceTimer, qOverload<>(&QTimer::start));
    connect(&Monitor, &TMonitor::ShutDownEnded, &FSilenceTimer, &QTimer::stop);
}

void TLineWatch::Clear() { FStatistics.Clear(WallMicroseconds()); }

void TLineWatch::Add(TStatKind Kind, std::uint64_t Amount) {
    FStatistics.Add(Kind, WallMicroseconds(), Amount);
}

void TLineWatch::SetSilenceLimit(int Seconds) {
    FSilenceLimitS = Seconds < 0 ? 0 : Seconds;
    FSilenceChosen = true;
}

void TLineWatch::BytesArrived() {
    FLastByteMs = FMonitor.ComPortPlus().Clock().Milliseconds();
    if (FSilentSince.isEmpty()) return;
    FSilentSince.clear();
    FMonitor.Record(EventRecord(TLineEvent::MachineSpeaks));
    emit SilenceChanged(QString());
}

void TLineWatch::WatchSilence() {
    TComPortPlus& port = FMonitor.ComPortPlus();
    if (FSilenceLimitS <= 0 || !FSilentSince.isEmpty() || !port.Open()) return;
    const std::uint32_t quiet = port.Clock().Milliseconds() - FLastByteMs;
    if (quiet < static_cast<std::uint32_t>(FSilenceLimitS) * 1000u) return;
    FSilentSince = QTime::currentTime().addMSecs(-static_cast<int>(quiet)).toString(
        QStringLiteral("hh:mm:ss"));
    const std::string text = "Machine silent since " + FSilentSince.toStdString();
    FMonitor.Logs().LogNote(text);
    FMonitor.Record(EventRecord(TLineEvent::MachineSilent, FSilenceLimitS, text));
    emit SilenceChanged(FSilentSince);
}

void TLineWatch::Load(const TProfileFile& Ini) {
    Clear();
    FSilenceChosen = !Ini.Keys(kWatchdog).empty();
    const std::int32_t silence = Ini.ReadInteger(kWatchdog, "Silent Seconds", 10);
    FSilenceLimitS = silence >= 0 && silence <= 86400 ? silence : 10;
}

void TLineWatch::Save(TProfileFile& Ini) const {
    if (FSilenceChosen) Ini.WriteInteger(kWatchdog, "Silent Seconds", FSilenceLimitS);
}

} // namespace volmar
