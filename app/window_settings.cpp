// "VolmarSim.Ini": read and applied key by key at start-up, written at
// shut-down. Sections and keys the program does not write (the device map
// among them) are kept as they are.
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QStringList>

#include <algorithm>

#include "app/main_window.h"
#include "dataport/file_store.h"
#include "serial/device_map.h"
#include "serial/profile_file.h"

namespace volmar {

namespace {
constexpr char kComms[] = "Comms";
constexpr char kDataport[] = "Dataport";
constexpr char kOptions[] = "Options";
constexpr char kWindow[] = "Window";
constexpr char kDevices[] = "Devices";
// A stored size below this is taken as this, so the window can be grabbed.
constexpr int kMinimumSide = 200;

// The stored geometry made to fit the screens there are now: a size is cut
// to the room of the screen it lands on (a huge one would otherwise take
// memory without bound for its pictures), and a window that would lie off
// every screen comes back onto the primary one.
QRect FitOnScreen(const QRect& Stored) {
    QScreen* screen = QGuiApplication::screenAt(Stored.center());
    if (!screen) screen = QGuiApplication::screenAt(Stored.topLeft());
    const bool offScreen = !screen;
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return Stored;
    const QRect room = screen->availableGeometry();
    QRect fitted(Stored.topLeft(),
                 QSize(std::clamp(Stored.width(), std::min(kMinimumSide, room.width()), room.width()),
                       std::clamp(Stored.height(), std::min(kMinimumSide, room.height()), room.height())));
    if (offScreen) fitted.moveTopLeft(room.topLeft());
    return fitted;
}
} // namespace

void TfrmVolmar::ReadDeviceMap(const TProfileFile& Ini) {
    static const QRegularExpression comKey(QStringLiteral("^COM([0-9]{1,3})$"),
                                           QRegularExpression::CaseInsensitiveOption);
    for (const std::string& key : Ini.Keys(kDevices)) {
        const QRegularExpressionMatch match = comKey.match(QString::fromStdString(key));
        if (!match.hasMatch()) continue;
        const int number = match.captured(1).toInt();
        if (number < 1) continue;
        SetDevicePathForCom(static_cast<std::uint16_t>(number), Ini.ReadString(kDevices, key, std::string()));
    }
}

void TfrmVolmar::LoadSettings() {
    RemoveLeftoverTemporaries(SettingsPath().toStdString());
    TProfileFile ini;
    try {
        ini.Load(SettingsPath().toStdString());
    } catch (const std::exception& Error) {
        ShowError(Error);
    }
    ReadDeviceMap(ini);
    RefreshPortList();

    // Each key is applied on its own: a failure is shown and the keys after
    // it still apply, so nothing read is lost when the file is written back.
    // A number out of range is dropped like a missing key, but the operator
    // is told once, since it is written back as the default at the end.
    QStringList unusable;
    const auto dropped = [&](const char* Key, std::int32_t Value, const QString& Used) {
        unusable << QStringLiteral("%1=%2 is not usable, %3 is used")
                        .arg(QLatin1String(Key)).arg(Value).arg(Used);
    };
    std::int32_t port = ini.ReadInteger(kComms, "Port", FComPortPlus.ComNumber());
    if (port < 0 || port > 0xFFFF) {
        const std::uint16_t current = FComPortPlus.ComNumber();
        dropped("Port", port,
                current == 0 ? QStringLiteral("None") : QStringLiteral("COM%1").arg(current));
        port = current;
    }
    Guarded([&] { SelectComPort(static_cast<std::uint16_t>(port)); });

    std::int32_t mode = ini.ReadInteger(kDataport, "Speed Mode", FSpeedMode);
    if (mode < smAuto || mode > sm9600) {
        static const char* const kModeNames[] = {"Auto Baud", "1200 Baud", "9600 Baud"};
        dropped("Speed Mode", mode, QLatin1String(kModeNames[FSpeedMode]));
        mode = FSpeedMode;
    }
    Guarded([&] { SetSpeedMode(static_cast<TSpeedMode>(mode)); });
    if (!unusable.isEmpty())
        ReportQuietly(QLatin1String(kSettingsFileName) + QStringLiteral(": ") +
                      unusable.join(QStringLiteral("; ")));

    SetBigMeterSpin(ini.ReadBool(kOptions, "Big Meter Spin", FBigMeterSpin));
    SetSmallMeterSpin(ini.ReadBool(kOptions, "Small Meter Spin", FSmallMeterSpin));
    SetMuteMeters(ini.ReadBool(kOptions, "Mute Meters", FMuteMeters));

    const QRect stored(ini.ReadInteger(kWindow, "Left", x()), ini.ReadInteger(kWindow, "Top", y()),
                       ini.ReadInteger(kWindow, "Width", width()),
                       ini.ReadInteger(kWindow, "Height", height()));
    const QRect placed = FitOnScreen(stored);
    if (placed.topLeft() != pos()) move(placed.topLeft());
    if (placed.size() != size()) resize(placed.size());

    ShowDebugPanel(ini.ReadBool(kOptions, "Debug", false));
}

void TfrmVolmar::SaveSettings() {
    TProfileFile ini;
    ini.Load(SettingsPath().toStdString());
    for (const auto& [number, path] : FAssignedDevices)
        ini.WriteString(kDevices, "COM" + std::to_string(number), path);
    ini.WriteInteger(kComms, "Port", FComPortPlus.ComNumber());
    ini.WriteInteger(kDataport, "Speed Mode", FSpeedMode);
    ini.WriteBool(kOptions, "Big Meter Spin", FBigMeterSpin);
    ini.WriteBool(kOptions, "Small Meter Spin", FSmallMeterSpin);
    ini.WriteBool(kOptions, "Mute Meters", FMuteMeters);
    ini.WriteInteger(kWindow, "Left", x());
    ini.WriteInteger(kWindow, "Top", y());
    ini.WriteInteger(kWindow, "Width", width());
    const int debugArea = DebugPanelShown() ? 0 : kDebugPanelHeight + kSplitterHeight;
    ini.WriteInteger(kWindow, "Height", height() + debugArea);
    ini.Save(SettingsPath().toStdString());
}

} // namespace volmar
