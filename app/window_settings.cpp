// The window's keys of "VolmarSim.Ini": the meters' options, the debug
// panel and the window's geometry, read after the engine's keys and written
// after them.
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

#include "app/main_window.h"
#include "serial/profile_file.h"

namespace volmar {

namespace {
constexpr char kOptions[] = "Options";
constexpr char kWindow[] = "Window";
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
    QRect fitted(
        Stored.topLeft(),
        QSize(std::clamp(Stored.width(), std::min(kMinimumSide, room.width()), room.width()),
              std::clamp(Stored.height(), std::min(kMinimumSide, room.height()), room.height())));
    if (offScreen) fitted.moveTopLeft(room.topLeft());
    return fitted;
}
} // namespace

void TfrmVolmar::LoadSettings(const TProfileFile& Ini) {
    SetBigMeterSpin(Ini.ReadBool(kOptions, "Big Meter Spin", FBigMeterSpin));
    SetSmallMeterSpin(Ini.ReadBool(kOptions, "Small Meter Spin", FSmallMeterSpin));
    SetMuteMeters(Ini.ReadBool(kOptions, "Mute Meters", FMuteMeters));

    const QRect stored(Ini.ReadInteger(kWindow, "Left", x()), Ini.ReadInteger(kWindow, "Top", y()),
                       Ini.ReadInteger(kWindow, "Width", width()),
                       Ini.ReadInteger(kWindow, "Height", height()));
    const QRect placed = FitOnScreen(stored);
    if (placed.topLeft() != pos()) move(placed.topLeft());
    if (placed.size() != size()) resize(placed.size());

    ShowDebugPanel(Ini.ReadBool(kOptions, "Debug", false));
}

void TfrmVolmar::SaveSettings(TProfileFile& Ini) {
    Ini.WriteBool(kOptions, "Big Meter Spin", FBigMeterSpin);
    Ini.WriteBool(kOptions, "Small Meter Spin", FSmallMeterSpin);
    Ini.WriteBool(kOptions, "Mute Meters", FMuteMeters);
    Ini.WriteInteger(kWindow, "Left", x());
    Ini.WriteInteger(kWindow, "Top", y());
    Ini.WriteInteger(kWindow, "Width", width());
    const int debugArea = DebugPanelShown() ? 0 : kDebugPanelHeight + kSplitterHeight;
    Ini.WriteInteger(kWindow, "Height", height() + debugArea);
}

} // namespace volmar
