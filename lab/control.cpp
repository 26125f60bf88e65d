#include "lab/control.h"

#include <QDir>
#include <QFileInfo>

#include "lab/control_commands.h"
#include "lab/control_server.h"
#include "lab/capture_format.h"
#include "lab/events.h"
#include "lab/live_registry.h"
#include "lab/lab.h"
#include "monitor/monitor.h"
#include "serial/profile_file.h"

namespace volmar {

namespace {
constexpr char kControl[] = "Control";
} // namespace

TControl::TControl(TLab& Lab, QString RunPath) : FLab(Lab), FRunPath(std::move(RunPath)) {
    TMonitor& monitor = Lab.Monitor();
    monitor.AddSettingsPart(this);
    connect(&monitor, &TMonitor::StartedUp, this, [this] { Open(); });
    connect(&monitor, &TMonitor::ShutDownBegins, this, [this] {
        UnregisterLiveSocket(FRegistered);
        FRegistered.clear();
        FServer.reset();
    });
    // Formatted only while someone follows the traffic.
    connect(&monitor, &TMonitor::TrafficRecorded, this, [this](const TTrafficRecord& Record) {
        if (!FServer || !FServer->HasTrafficClients()) return;
        std::string line = FormatRecord(Record, TCaptureFormat::JsonLines);
        line.pop_back();
        FServer->BroadcastTraffic(QByteArray("{\"record\":") + QByteArray::fromStdString(line) +
                                  QByteArray("}\n"));
    });
}

TControl::~TControl() { UnregisterLiveSocket(FRegistered); }

QString TControl::Path() const { return FServer ? FServer->Path() : QString(); }

void TControl::Load(const TProfileFile& Ini) {
    FPath = FRunPath.isEmpty()
                ? QString::fromStdString(Ini.ReadString(kControl, "Path", std::string()))
                : FRunPath;
    if (FPath.isEmpty()) return;
    const QDir base = FRunPath.isEmpty() ? QFileInfo(FLab.Monitor().SettingsPath()).absoluteDir()
                                         : QDir::current();
    FPath = QDir::cleanPath(base.absoluteFilePath(FPath));
}

void TControl::Open() {
    if (FPath.isEmpty()) return;
    TErrorReports& reports = FLab.Monitor().Reports();
    auto server = std::make_unique<TControlServer>(
        [this](const QJsonObject& Request) { return ControlRequest(FLab, Request); });
    if (!server->Listen(FPath)) {
        FFailed = true;
        reports.ReportError(server->ErrorText());
        return;
    }
    server->OnProblem = [&reports, shown = QString()](const QString& Problem) mutable {
        if (!Problem.isEmpty()) {
            shown = Problem;
            reports.ReportQuietly(Problem);
        } else if (reports.Alert() == shown) {
            reports.ShowAlert(QString());
        }
    };
    connect(&FLab.Events(), &TMonitorEvents::Event, server.get(),
            [server = server.get()](const QJsonObject& Event) { server->Broadcast(Event); });
    FServer = std::move(server);
    FRegistered = RegisterLiveSocket(FPath);
}

} // namespace volmar
