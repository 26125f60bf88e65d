// TfrmVolmar: the simulator's main window. It owns the port, the receive
// buffer, the receiver and the interpretation with its counters and logs,
// and shows the machine, the message counts, the event log and the debug
// lines.
#pragma once

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTableView>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "app/machine_page.h"
#include "app/user_commands.h"
#include "app/version_info.h"
#include "dataport/receiver.h"
#include "dataport/serial_buffer.h"
#include "interpret/counters.h"
#include "interpret/interpreter.h"
#include "interpret/logs.h"
#include "interpret/machine_view.h"
#include "serial/com_port_plus.h"
#include "serial/ui/sl_controller.h"

namespace volmar {

class TGridModel;
class TDebugMemo;
class TLogoAnimation;
class TCountersKeeper;

enum TSpeedMode : std::uint8_t { smAuto, sm1200, sm9600 };

inline constexpr char kCountersFileName[] = "COUNTERS.DAT";
inline constexpr char kSettingsFileName[] = "VolmarSim.Ini";
inline constexpr int kDesignWidth = 709;
inline constexpr int kDesignHeight = 670;
inline constexpr int kDebugPanelHeight = 109;
inline constexpr int kSplitterHeight = 3;

// The message boxes the window shows; tests record them instead.
struct TMessageBoxes {
    std::function<void(QWidget* Parent, const QString& Text)> Warning;
    std::function<void(QWidget* Parent, const QString& Text)> Error;
    std::function<void(QWidget* Parent, const QString& Text)> Information;
    static TMessageBoxes Standard();
};

struct TWindowOptions {
    // Where the counters and settings files live; empty: the program's folder.
    QString Folder;
    // The port's tick clock; nullptr: the system's.
    ITickClock* Clock = nullptr;
    TLogClock LogClock = TLogClock::System();
    TMessageBoxes Boxes = TMessageBoxes::Standard();
    // True once a quit signal has asked for the shut-down: from then on no
    // error waits for the operator in a box; it goes to standard error.
    std::function<bool()> QuitRequested;
    // How often a changed counters record is written while the program runs.
    int CountersSaveIntervalMs = 1000;
};

// An error's text for the operator, with a port's added detail on a line of its own.
QString ErrorText(const std::exception& Error);

class TfrmVolmar : public QMainWindow, public IMachineView {
    Q_OBJECT
public:
    explicit TfrmVolmar(TWindowOptions Options = {});
    ~TfrmVolmar() override;

    // What the interpretation shows.
    void SetIdentityText(TIdentityLabel Label, const std::string& Text) override;
    void SetCheckListBits(TSupportList List, std::uint32_t Mask) override;
    void SetAttendantLamp(bool On) override;
    void SetSwitchStates(std::uint16_t Word) override;
    void ShowValuesMode(bool BCDValues) override;
    void PostUpdateMeters(int MeterIndex) override;

    // Deferred commands.
    void PostCommand(TUserCommand Command, std::intptr_t Argument = 0);

    // The machine panel.
    void ShowSwitches(bool Reported, std::uint16_t Word);
    void SetValuesMode(bool BCDValues);
    void UpdateMeters(int Index);
    void SetBigMeterSpin(bool Value);
    void SetSmallMeterSpin(bool Value);
    void SetMuteMeters(bool Value);

    // Port, baud and speed signal.
    void SelectComPort(std::uint16_t N);
    void SetSpeedMode(TSpeedMode Mode);
    void SetBaudChoice(int Choice);
    int AutoBaudChoice();
    bool SpeedSignalPresent();
    void SetAutoBaudActive(bool Value);
    void ShowSpeedSelectActive(bool Active);
    void FollowSpeedSignal(bool Present);
    void SetSpeedSignal(bool Present);
    void ArmModemTrigger(bool Activate);
    void ArmLineTrigger(bool Activate);

    // The Reset command.
    void actResetExecute();

    TComPortPlus& ComPortPlus() { return FComPortPlus; }
    TVolmarDataport& Volmar() { return FVolmar; }
    TCounters& Counters() { return FCounters; }
    TLogs& Logs() { return FLogs; }
    TInterpreter& Interpreter() { return FInterpreter; }
    TSerialBuffer& RxBuffer() { return *FRxBuffer; }
    TSpeedMode SpeedMode() const { return FSpeedMode; }
    bool AutoBaudActive() const { return FAutoBaudActive; }
    bool SpeedSignal() const { return FSpeedSignal; }
    std::uint16_t Switches() const { return FSwitches; }
    bool BigMeterSpin() const { return FBigMeterSpin; }
    bool SmallMeterSpin() const { return FSmallMeterSpin; }
    bool MuteMeters() const { return FMuteMeters; }
    bool DebugPanelShown() const;
    QString CountersPath() const;
    QString SettingsPath() const;
    // A file could not be written at the shut-down (it was reported).
    bool SaveFailed() const { return FSaveFailed; }
    // The problem shown in the status bar, empty when there is none.
    QString Alert() const { return lblAlert->text(); }

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
    QAction* mnuEditMeters;
    QMenu* popmnuMeters;
    QAction* Exit1;
    QAction* About1;
    QTabWidget* pgctrlPages;
    TMachinePage* MachinePage;
    TSmallMeterStrip* pnlSmallMeters;
    TSLController* LEDController;
    QTableView* grdMessages;
    QTableView* grdEvents;
    QSplitter* spltrDebug;
    QWidget* pnlDebug;
    QPlainTextEdit* mmoDebug;
    TLogoAnimation* Animate1;
    // Problems that must be seen but must not wait for the operator.
    QLabel* lblAlert;

signals:
    // The window has closed and written its files.
    void Closed();

protected:
    bool event(QEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;

private:
    void BuildWindow();
    void BindComponents();
    void FormCreate();
    void FormDestroy();
    void FormResize();
    void LoadCountersFile();
    void LoadSettings();
    void SaveSettings();
    void ReadDeviceMap(const class TProfileFile& Ini);
    void ShowDebugPanel(bool Show);
    void StartLogo();

    void WMUser(int Command, std::intptr_t Argument);
    void ComPortPlusTriggerAvail(TCustomComPort* CP, std::uint16_t Count);
    void ComPortPlusTriggerLineError(TCustomComPort* CP, std::uint16_t Error, bool LineBreak);
    void ComPortPlusTriggerModemStatus(TCustomComPort* CP);
    void ComPortPlusDeviceLost(TCustomComPort* CP);
    void PortLost(std::uint16_t Number, const std::string& Path);
    void WatchForLostDevice();
    void VolmarDPReset(TVolmarDataport* Sender);
    void VolmarTimeout(TVolmarDataport* Sender, TTimeoutType Timeout);
    void VolmarStateChange(TVolmarDataport* Sender, TDPState State, std::int32_t Count);
    void ToolButton5Click();
    void ToolButton6Click();
    void ToolButton7Click();
    void cmbxComPortChange(int Index);
    void mnuMuteClick();
    void mnuDevicesClick();
    // Each port entry's tooltip names the device it stands for.
    void RefreshPortList();
    void mnuEditMetersClick();
    void About1Click();
    // Every meter of the window, big and small.
    std::vector<TAWPMeter*> AllMeters() const;
    // Closes an open port the orderly way (the first step of a port choice).
    void ClosePort();

    // Runs an operator's command; a failure goes to the error box, as any
    // unhandled error of the program does.
    void Guarded(const std::function<void()>& Handler);
    void ShowError(const std::exception& Error);
    // One box at a time: while one is up, or once a quit signal came, the
    // text goes to the status bar and standard error instead.
    void ReportError(const QString& Text);
    void ShowBox(const std::function<void(QWidget*, const QString&)>& Box, const QString& Text);
    // Runs a port handler or a deferred command: a failure there never opens
    // a box (a nested event loop would take the port's next notification).
    void GuardedLink(const std::function<void()>& Handler);
    // A failure that must be seen but must not wait for the operator: the
    // status bar and standard error.
    void ReportQuietly(const QString& Text);
    void ShowAlert(const QString& Text);
    // Runs a save at the shut-down; a failure is reported and remembered.
    void GuardedSave(const std::function<void()>& Save);
    bool Quitting() const;

    TWindowOptions FOptions;
    // Pointed at the program's own file at start-up.
    TVersionInfo VersionInfo1{QString()};
    TComPortPlus FComPortPlus;
    TVolmarDataport FVolmar;
    TCounters FCounters{};
    TLogs FLogs;
    TInterpreter FInterpreter;
    std::unique_ptr<TSerialBuffer> FRxBuffer;
    std::unique_ptr<TGridModel> FMessagesModel;
    std::unique_ptr<TGridModel> FEventsModel;
    std::unique_ptr<TDebugMemo> FDebugMemo;
    std::unique_ptr<TCountersKeeper> FCountersKeeper;

    TSpeedMode FSpeedMode = sm9600;
    bool FAutoBaudActive = false;
    bool FSpeedSignal = false;
    std::uint16_t FModemTrigger = 0;
    std::uint16_t FLineTrigger = 0;
    bool FBigMeterSpin = false;
    bool FSmallMeterSpin = false;
    bool FMuteMeters = true;
    std::uint16_t FSwitches = 0;
    int FScrollBarWidth = 0;
    bool FDestroyed = false;
    // A port whose device went away, watched for until it comes back.
    QTimer FReconnectTimer;
    std::uint16_t FLostPort = 0;
    std::string FLostPath;
    // Devices the operator assigned in the Devices dialog, by COM number;
    // only these are written back into the settings file.
    std::map<std::uint16_t, std::string> FAssignedDevices;
    bool FBoxUp = false;
    bool FSaveFailed = false;
    QString FSaveAlert;
};

} // namespace volmar
