// "VolmarSim.Ini": read and applied key by key at start-up, written at
// shut-down; the engine's keys first, then the sections of the parts beside
// it, then the view's. Sections and keys nobody writes (the device map among
// them) are kept as they are.
#include <QRegularExpression>
#include <QStringList>

#include "dataport/file_store.h"
#include "monitor/monitor.h"
#include "monitor/settings_part.h"
#include "serial/device_map.h"
#include "serial/profile_file.h"

namespace volmar {

namespace {
constexpr char kComms[] = "Comms";
constexpr char kDataport[] = "Dataport";
constexpr char kDevices[] = "Devices";
} // namespace

void TMonitor::ReadDeviceMap(const TProfileFile& Ini) {
    static const QRegularExpression comKey(QStringLiteral("^COM([0-9]{1,3})$"),
                                           QRegularExpression::CaseInsensitiveOption);
    for (const std::string& key : Ini.Keys(kDevices)) {
        const QRegularExpressionMatch match = comKey.match(QString::fromStdString(key));
        if (!match.hasMatch()) continue;
        const int number = match.captured(1).toInt();
        if (number < 1) continue;
        SetDevicePathForCom(static_cast<std::uint16_t>(number),
                            Ini.ReadString(kDevices, key, std::string()));
    }
}

void TMonitor::LoadSettings() {
    RemoveLeftoverTemporaries(SettingsPath().toStdString());
    TProfileFile ini;
    try {
        ini.Load(SettingsPath().toStdString());
    } catch (const std::exception& Error) {
        FReports.ShowError(Error);
    }
    ReadDeviceMap(ini);
    FView.ShowPortDevices();
    // Before the port opens, so that what they record of its opening is whole.
    for (ISettingsPart* part : FSettingsParts) part->Load(ini);

    // Each key is applied on its own: a failure is shown and the keys after
    // it still apply, so nothing read is lost when the file is written back.
    // A number out of range is dropped like a missing key, but the operator
    // is told once, since it is written back as the default at the end.
    QStringList unusable;
    const auto dropped = [&](const char* Key, std::int32_t Value, const QString& Used) {
        unusable << QStringLiteral("%1=%2 is not usable, %3 is used")
                        .arg(QLatin1String(Key))
                        .arg(Value)
                        .arg(Used);
    };
    std::int32_t port = ini.ReadInteger(kComms, "Port", FComPortPlus.ComNumber());
    FFilePort = port;
    if (port < 0 || port > 0xFFFF) {
        const std::uint16_t current = FComPortPlus.ComNumber();
        dropped("Port", port,
                current == 0 ? QStringLiteral("None") : QStringLiteral("COM%1").arg(current));
        port = current;
        FFilePort = port;
    }
    if (FOptions.Port) port = *FOptions.Port;
    if (!FOptions.Device.empty()) {
        if (port == 0) port = 1;
        SetDevicePathForCom(static_cast<std::uint16_t>(port), FOptions.Device);
        FView.ShowPortDevices();
    }
    FReports.Guarded([&] { SelectComPort(static_cast<std::uint16_t>(port)); });

    std::int32_t mode = ini.ReadInteger(kDataport, "Speed Mode", FSpeedMode);
    if (mode < smAuto || mode > sm9600) {
        static const char* const kModeNames[] = {"Auto Baud", "1200 Baud", "9600 Baud"};
        dropped("Speed Mode", mode, QLatin1String(kModeNames[FSpeedMode]));
        mode = FSpeedMode;
    }
    FFileSpeedMode = mode;
    if (FOptions.Speed) mode = *FOptions.Speed;
    FReports.Guarded([&] { SetSpeedMode(static_cast<TSpeedMode>(mode)); });
    if (!unusable.isEmpty())
        FReports.ReportQuietly(QLatin1String(kSettingsFileName) + QStringLiteral(": ") +
                               unusable.join(QStringLiteral("; ")));

    FView.LoadSettings(ini);
}

void TMonitor::SaveSettings() {
    TProfileFile ini;
    ini.Load(SettingsPath().toStdString());
    for (const auto& [number, path] : FAssignedDevices)
        ini.WriteString(kDevices, "COM" + std::to_string(number), path);
    // A port or speed given on the command line is this run's only.
    const bool portGiven = FOptions.Port || !FOptions.Device.empty();
    const std::uint16_t givenPort =
        FOptions.Port ? *FOptions.Port : static_cast<std::uint16_t>(FFilePort == 0 ? 1 : FFilePort);
    ini.WriteInteger(kComms, "Port",
                     portGiven && FComPortPlus.ComNumber() == givenPort ? FFilePort
                                                                        : FComPortPlus.ComNumber());
    ini.WriteInteger(kDataport, "Speed Mode",
                     FOptions.Speed && FSpeedMode == *FOptions.Speed ? FFileSpeedMode : FSpeedMode);
    for (const ISettingsPart* part : FSettingsParts) part->Save(ini);
    FView.SaveSettings(ini);
    ini.Save(SettingsPath().toStdString());
}

} // namespace volmar
