// TfrmVolmar: the simulator's main window, the monitoring engine's view. It
// shows the machine, the message counts, the event log and the debug lines,
// and passes the operator's controls on to the engine.
#pragma once

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

#include "app/machine_page.h"
#include "app/version_info.h"
#include "lab/lab.h"
#include "monitor/monitor.h"
#include "monitor/monitor_view.h"
#include "serial/ui/sl_controller.h"

namespace volmar {

class TGridModel;
class TDebugMemo;
class TdlgFaults;
class TLogoAnimation;
class TStatisticsPage;

inline constexpr int kDesignWidth = 709;
inline constexpr int kDesignHeight = 670;
inline constexpr int kDebugPanelHeight = 109;
inline constexpr int kSplitterHeight = 3;

// The message boxes the window shows; tests record them instead.
struct TMessageBoxes {
    std::function<void(QWidget* Parent, const QString& Text)> Warning;
    std::function<void(QWidget* Parent, const QString& Text)> Error;
    std::function<void(QWidget* Parent, const QString& Text)> Information;
    // A yes-or-no question; true for yes.
    std::function<bool(QWidget* Parent, const QString& Text)> Question;
    static TMessageBoxes Standard();
};

struct TWindowOptions : TMonitorOptions {
    TLabOptions Lab;
    TMessageBoxes Boxes = TMessageBoxes::Standard();
};

class TfrmVolmar : public QMainWindow, public IMonitorView {
    Q_OBJECT
public:
    explicit TfrmVolmar(TWindowOptions Options = {});
    ~TfrmVolmar() override;

    TMonitor& Monitor() { return FMonitor; }
    TLab& Lab() { return FLab; }

    // What the engine shows.
    void SetIdentityText(TIdentityLabel Label, const std::string& Text) override;
    void SetCheckListBits(TSupportList List, std::uint32_t Mask) override;
    void SetAttendantLamp(bool On) override;
    void SetSwitchStates(std::uint16_t Word) override;
    void ShowValuesMode(bool BCDValues) override;
    void ShowSwitches(bool Reported, std::uint16_t Word) override;
    void UpdateMeters(int Index) override;
    void ResetMeters() override;
    void ShowPortChoice(std::uint16_t ComNumber) override;
    void ShowPortDevices() override;
    void ShowSpeedMode(TSpeedMode Mode) override;
    void ShowBaud(std::int32_t Baud) override;
    void ShowSpeedSelectActive(bool Active) override;
    void SetStatusLightsActive(bool Active) override;
    void ShowStatusText(const QString& Text) override;
    void ShowAlert(const QString& Text) override;
    bool ShowBox(TBoxKind Kind, const QString& Text) override;
    void StartUpBegins() override;
    void LogGridsSetUp() override;
    void StartLogo() override;
    void LoadSettings(const TProfileFile& Ini) override;
    void SettingsLoaded() override;
    void SaveSettings(TProfileFile& Ini) override;

    // The meters' options.
    void SetBigMeterSpin(bool Value);
    void SetSmallMeterSpin(bool Value);
    void SetMuteMeters(bool Value);
    bool BigMeterSpin() const { return FBigMeterSpin; }
    bool SmallMeterSpin() const { return FSmallMeterSpin; }
    bool MuteMeters() const { return FMuteMeters; }
    bool DebugPanelShown() const;

    // Controls, named as on the form.
    QComboBox* cmbxComPort;
    QAction* actReset;
    QAction* btnAutoBaud;
    QAction* btn1200Baud;
    QAction* btn9600Baud;
    QAction* ToolButton5;
    QAction* ToolButton6;
    QAction* ToolButton7;
    QAction* mnuMute;
    QAction* mnuDevices;
    QAction* mnuFaults;
    QAction* mnuEditMeters;
    QMenu* popmnuMeters;
    QAction* mnuCapture;
    QAction* mnuExport;
    QAction* mnuStandardRun;
    QAction* mnuRunFile;
    QAction* Exit1;
    QAction* About1;
    QTabWidget* pgctrlPages;
    TMachinePage* MachinePage;
    TSmallMeterStrip* pnlSmallMeters;
    TSLController* LEDController;
    QTableView* grdMessages;
    QTableView* grdEvents;
    TStatisticsPage* StatisticsPage;
    QSplitter* spltrDebug;
    QWidget* pnlDebug;
    QPlainTextEdit* mmoDebug;
    TLogoAnimation* Animate1;
    // Problems that must be seen but must not wait for the operator.
    QLabel* lblAlert;
    // The machine has fallen silent.
    QLabel* lblSilent;
    // Faults are armed; a click clears them all.
    QPushButton* btnFaults;
    // Made when Options > Faults... is first chosen.
    TdlgFaults* dlgFaults = nullptr;

signals:
    // The window has closed and written its files.
    void Closed();

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;

private:
    void BuildWindow();
    void BindComponents();
    void FormResize();
    void ShowDebugPanel(bool Show);
    // Runs an operator's command through the engine's error rules.
    void Guarded(const std::function<void()>& Handler);
    void cmbxComPortChange(int Index);
    void mnuMuteClick();
    void mnuDevicesClick();
    void mnuFaultsClick();
    // The machine has sent nothing since the time given ("hh:mm:ss"); empty:
    // it speaks again.
    void ShowMachineSilent(const QString& Since);
    // Faults are armed on purpose: the answers are not what the table says.
    void ShowFaultsActive(bool Active);
    void CheckFaults();
    void ShowTitle();
    void mnuEditMetersClick();
    void mnuCaptureClick();
    void mnuExportClick();
    // A conformance run: the standard one, or one from a file (empty: ask).
    void StartConformanceRun(const QString& NameOrPath);
    void About1Click();
    // Every meter of the window, big and small.
    std::vector<TAWPMeter*> AllMeters() const;

    TMessageBoxes FBoxes;
    // Pointed at the program's own file at start-up.
    TVersionInfo VersionInfo1{QString()};
    TMonitor FMonitor;
    TLab FLab;
    std::unique_ptr<TGridModel> FMessagesModel;
    std::unique_ptr<TGridModel> FEventsModel;
    std::unique_ptr<TDebugMemo> FDebugMemo;

    bool FBigMeterSpin = false;
    bool FSmallMeterSpin = false;
    bool FMuteMeters = true;
    int FScrollBarWidth = 0;
    // The geometry the settings gave the window, its height as first shown.
    QRect FRestored;
    // As designed, or wider where the font needs it for a title.
    std::vector<int> FMessageGridWidths;
    // The title as designed, without the faults' mark.
    QString FTitle;
    bool FFaultsShown = false;
    // Asks the engine while faults are armed: it notices a fault that has
    // fired its last or run out its time only when asked, and the dialog's
    // firings move on.
    QTimer FFaultsWatch;
};

} // namespace volmar
