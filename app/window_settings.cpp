// The window's keys of "VolmarSim.Ini": the meters' options, the debug
// panel and the window's geometry, read after the engine's keys and written
// after them.
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWindow>

#include <algorithm>
#include <cmath>

#include "app/main_window.h"
#include "serial/profile_file.h"

namespace volmar {

namespace {
constexpr char kOptions[] = "Options";
constexpr char kWindow[] = "Window";
// A stored size below this is taken as this, so the window can be grabbed.
constexpr int kMinimumSide = 200;

// A Wayland client is never told where its window is and cannot place it:
// there x() and y() say nothing about the screen.
bool PlatformPlacesWindows() {
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

// The stored geometry made to fit the screens there are now: a size is cut
// to the room of the screen it lands on (a huge one would otherwise take
// memory without bound for its pictures); a window that would reach past
// that screen's edges with its frame, as one stored at a smaller scale
// does, is moved back in; one that would lie off every screen comes back
// onto the primary one. VisibleHeight: the height it shows first; Least:
// the size below which the window does not go.
QRect FitOnScreen(const QRect& Stored, int VisibleHeight, const QSize& Least,
                  const QMargins& Frame) {
    QScreen* screen = QGuiApplication::screenAt(Stored.center());
    if (!screen) screen = QGuiApplication::screenAt(Stored.topLeft());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return Stored;
    const QRect room = screen->availableGeometry();
    const QSize size(
        std::clamp(Stored.width(), std::min(kMinimumSide, room.width()), room.width()),
        std::clamp(Stored.height(), std::min(kMinimumSide, room.height()), room.height()));
    const int outerWidth = std::max(size.width(), Least.width()) + Frame.left() + Frame.right();
    const int outerHeight = std::max(std::min(VisibleHeight, size.height()), Least.height()) +
                            Frame.top() + Frame.bottom();
    const auto within = [](int At, int Extent, int First, int Room) {
        return std::max(std::min(At, First + Room - Extent), First);
    };
    return {QPoint(within(Stored.x(), outerWidth, room.x(), room.width()),
                   within(Stored.y(), outerHeight, room.y(), room.height())),
            size};
}

// The window system's frame; before the window is first shown, room for a
// title bar and borders as the style draws them for a window inside one.
QMargins FrameMargins(const QWidget& Window) {
    if (const QWindow* handle = Window.windowHandle(); handle && !handle->frameMargins().isNull())
        return handle->frameMargins();
    const QStyle* style = Window.style();
    const int border = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, &Window);
    return {border, style->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &Window), border,
            border};
}

// What the window has now, or Restored where the two differ by no more
// than the window system rounds: at a fractional scale it sizes windows in
// whole device pixels, in steps of two, and a size read back in logical
// pixels is then a pixel off what was asked for.
int Unrounded(int Now, int Restored, qreal Scale) {
    const bool fractional = Scale != std::floor(Scale);
    return fractional && std::abs(Now - Restored) <= 1 ? Restored : Now;
}

} // namespace

void TfrmVolmar::LoadSettings(const TProfileFile& Ini) {
    SetBigMeterSpin(Ini.ReadBool(kOptions, "Big Meter Spin", FBigMeterSpin));
    SetSmallMeterSpin(Ini.ReadBool(kOptions, "Small Meter Spin", FSmallMeterSpin));
    SetMuteMeters(Ini.ReadBool(kOptions, "Mute Meters", FMuteMeters));

    const bool placed = PlatformPlacesWindows();
    const QRect stored(placed ? Ini.ReadInteger(kWindow, "Left", x()) : x(),
                       placed ? Ini.ReadInteger(kWindow, "Top", y()) : y(),
                       Ini.ReadInteger(kWindow, "Width", width()),
                       Ini.ReadInteger(kWindow, "Height", height()));
    const bool debug = Ini.ReadBool(kOptions, "Debug", false);
    const int debugArea = debug ? 0 : kDebugPanelHeight + kSplitterHeight;
    const QRect fitted = FitOnScreen(stored, stored.height() - debugArea,
                                     minimumSizeHint().expandedTo(minimumSize()),
                                     FrameMargins(*this));
    if (placed && fitted.topLeft() != pos()) move(fitted.topLeft());
    if (fitted.size() != size()) resize(fitted.size());
    FRestored = QRect(fitted.topLeft(), fitted.size() - QSize(0, debugArea));

    ShowDebugPanel(debug);
}

void TfrmVolmar::SaveSettings(TProfileFile& Ini) {
    Ini.WriteBool(kOptions, "Big Meter Spin", FBigMeterSpin);
    Ini.WriteBool(kOptions, "Small Meter Spin", FSmallMeterSpin);
    Ini.WriteBool(kOptions, "Mute Meters", FMuteMeters);
    const qreal scale = devicePixelRatioF();
    // Where the window is cannot be known everywhere; the stored place stays.
    if (PlatformPlacesWindows()) {
        Ini.WriteInteger(kWindow, "Left", Unrounded(x(), FRestored.x(), scale));
        Ini.WriteInteger(kWindow, "Top", Unrounded(y(), FRestored.y(), scale));
    }
    Ini.WriteInteger(kWindow, "Width", Unrounded(width(), FRestored.width(), scale));
    const int debugArea = DebugPanelShown() ? 0 : kDebugPanelHeight + kSplitterHeight;
    Ini.WriteInteger(kWindow, "Height", Unrounded(height(), FRestored.height(), scale) + debugArea);
}

} // namespace volmar
