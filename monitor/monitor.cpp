#include "monitor/monitor.h"

#include <QCoreApplication>

#include "dataport/file_store.h"
#include "monitor/counters_keeper.h"

namespace volmar {

namespace {

constexpr int kStandardErrorWatchMs = 250;

// Shows nothing: the engine without a view.
IMonitorView& NoView() {
    static IMonitorView view;
    return view;
}

} // namespace

TMonitor::TMonitor(TMonitorOptions Options, IMonitorView* View)
    : FOptions(std::move(Options)), FView(View ? *View : NoView()),
      FReports(FView, FOptions.QuitRequested), FLogs(FOptions.LogClock),
      FInterpreter(FCounters, FLogs, *this) {
    if (FOptions.Clock) FComPortPlus.SetClock(FOptions.Clock);
    BindComponents();
    BindRecording();
    connect(&FReconnectTimer, &QTimer::timeout, this, [this] { WatchForLostDevice(); });
    FStandardErrorWatch.setInterval(kStandardErrorWatchMs);
    connect(&FStandardErrorWatch, &QTimer::timeout, this,
            [this] { FReports.WatchStandardError(); });
}

TMonitor::~TMonitor() {
    if (FStarted) ShutDown();
    SetPortErrorHandler({});
    FVolmar.SetComPort(nullptr);
}

QString TMonitor::FilePath(const QString& Name) const {
    const QString folder =
        FOptions.Folder.isEmpty() ? QCoreApplication::applicationDirPath() : FOptions.Folder;
    return folder + QLatin1Char('/') + Name;
}

QString TMonitor::CountersPath() const { return FilePath(QLatin1String(kCountersFileName)); }

QString TMonitor::SettingsPath() const { return FilePath(QLatin1String(kSettingsFileName)); }

void TMonitor::AddSettingsPart(ISettingsPart* Part) { FSettingsParts.push_back(Part); }

void TMonitor::StartUp() {
    FStarted = true;
    FSpeedMode = sm9600;
    FAutoBaudActive = false;
    FSpeedSignal = false;
    FModemTrigger = 0;
    FLineTrigger = 0;
    FSwitches = 0;
    FInterpreter.SetValuesMode(true);
    FView.StartUpBegins();

    LoadCountersFile();

    FLogs.InitLogGrids(FCounters);
    FView.LogGridsSetUp();

    FRxBuffer = std::make_unique<TSerialBuffer>(256);

    FView.StartLogo();

    LoadSettings();
    FStandardErrorWatch.start();
    FView.SettingsLoaded();

    FSpeedSignal = SpeedSignalPresent();
    ShowSpeedSelectActive(FAutoBaudActive && FComPortPlus.Open());
    FView.ShowSwitches(false, 0);

    PostCommand(ucResetDataport);
    PostCommand(ucArmSpeedSignal);
    PostCommand(ucUpdateMeters, 0);

    if (FComPortPlus.Open()) {
        FReports.Guarded([this] {
            ArmModemTrigger(true);
            ArmLineTrigger(true);
        });
    }
    emit StartedUp();
}

void TMonitor::LoadCountersFile() {
    const std::string path = CountersPath().toStdString();
    RemoveLeftoverTemporaries(path);
    std::string refused;
    try {
        LoadCounters(FCounters, path);
    } catch (const ECountersFileError& Error) {
        // The file holds the totals of earlier runs: it is never written over.
        QString text = QString::fromLocal8Bit(Error.what());
        try {
            const std::string kept = KeepAside(path, "unreadable");
            text += QStringLiteral("\nIt was kept as %1; the counts of this run go to a new file.")
                        .arg(QString::fromLocal8Bit(kept.c_str()));
        } catch (const std::exception& Aside) {
            refused = "Unable to write to " + path +
                      ": it could not be read at start-up and is kept as it is";
            text += QStringLiteral("\nIt could not be kept aside (%1), so it is kept as it is and "
                                   "the counts of this run are not saved.")
                        .arg(QString::fromLocal8Bit(Aside.what()));
        }
        FReports.ReportError(text);
    }
    FCountersKeeper =
        std::make_unique<TCountersKeeper>(FCounters, path, FOptions.CountersSaveIntervalMs);
    if (!refused.empty()) FCountersKeeper->Refuse(refused);
    FCountersKeeper->OnFailed = [this](const std::string& Error) {
        FSaveAlert = QString::fromLocal8Bit(Error.c_str());
        FReports.ReportQuietly(FSaveAlert);
    };
    FCountersKeeper->OnRecovered = [this] {
        if (FReports.Alert() == FSaveAlert) FReports.ShowAlert(QString());
    };
}

void TMonitor::ShutDown() {
    if (FShutDown) return;
    FShutDown = true;
    // Nothing beside the engine (a control client) changes it while the
    // files are written.
    emit ShutDownBegins();
    // Nothing reopens the port behind the shut-down's back.
    FReconnectTimer.stop();
    FLostPort = 0;
    FReports.GuardedSave([this] {
        if (FCountersKeeper) FCountersKeeper->FinalSave();
    });
    FReports.Guarded([this] {
        FView.SetStatusLightsActive(false);
        const bool wasOpen = FComPortPlus.Open();
        if (wasOpen) FComPortPlus.RemoveAllTriggers();
        FVolmar.SetTimerHandle(0);
        FComPortPlus.SetOpen(false);
        if (wasOpen)
            emit PortClosed(FComPortPlus.ComNumber(),
                            QString::fromLocal8Bit(FComPortPlus.DevicePath().c_str()));
    });
    FReports.GuardedSave([this] { SaveSettings(); });
    FRxBuffer.reset();
    FStandardErrorWatch.stop();
    FlushDiscarded();
    emit ShutDownEnded();
}

void TMonitor::Reset() {
    RecordEvent(TLineEvent::Reset);
    FView.ShowStatusText(QStringLiteral("Resetting..."));
    FVolmar.ResetReceiver();
    if (FComPortPlus.Open()) {
        FComPortPlus.FlushInBuffer();
        FComPortPlus.FlushOutBuffer();
    }
    SetSwitchStates(0);
    FLogs.Debug.Clear();
    try {
        QCoreApplication::processEvents();
        ClearCounters(FCounters);
        FLogs.InitLogGrids(FCounters);
        FView.ResetMeters();
    } catch (...) {
        FView.ShowStatusText(QString());
        throw;
    }
    FView.ShowStatusText(QString());
    FLogs.CutEventLog();
    PostCommand(ucArmSpeedSignal);
    PostCommand(ucUpdateMeters, 0);
}

void TMonitor::SetTotals(const std::vector<std::pair<int, std::int32_t>>& Totals) {
    std::string detail;
    for (const auto& [index, value] : Totals)
        if (std::int32_t* total = MeterTotal(FCounters, index)) {
            *total = value;
            if (!detail.empty()) detail += ' ';
            detail += std::to_string(index);
            detail += '=';
            detail += std::to_string(value);
        }
    RecordEvent(TLineEvent::TotalsEdited, static_cast<std::int32_t>(Totals.size()), detail);
    PostCommand(ucUpdateMeters, 0);
}

void TMonitor::SetIdentityText(TIdentityLabel Label, const std::string& Text) {
    FIdentity.at(Label) = Text;
    FView.SetIdentityText(Label, Text);
}

void TMonitor::SetCheckListBits(TSupportList List, std::uint32_t Mask) {
    FView.SetCheckListBits(List, Mask);
}

void TMonitor::SetAttendantLamp(bool On) { FView.SetAttendantLamp(On); }

void TMonitor::SetSwitchStates(std::uint16_t Word) {
    FSwitches = Word;
    FView.SetSwitchStates(Word);
}

void TMonitor::ShowValuesMode(bool BCDValues) { FView.ShowValuesMode(BCDValues); }

void TMonitor::PostUpdateMeters(int MeterIndex) { PostCommand(ucUpdateMeters, MeterIndex); }

} // namespace volmar
