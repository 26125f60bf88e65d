// TMonitor: the monitoring unit a gaming machine reports to, as one engine.
// It owns the port with its link driver and deferred commands, the receive
// buffer, the receiver, the interpretation with its counters and logs, the
// counters and settings files, Reset, and the port, baud and speed-signal
// control. It shows what happens through its view, tells observers through
// its signals and records everything on the line for them (TrafficRecorded).
// What stands beside it adds settings sections of its own and may hold,
// change or delay the replies through one gate; the engine knows nothing of
// what it is.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dataport/receiver.h"
#include "dataport/serial_buffer.h"
#include "interpret/counters.h"
#include "interpret/interpreter.h"
#include "interpret/logs.h"
#include "interpret/machine_view.h"
#include "monitor/error_reports.h"
#include "monitor/monitor_view.h"
#include "monitor/traffic_record.h"
#include "monitor/user_commands.h"
#include "serial/com_port_plus.h"

namespace volmar {

class IReplyGate;
class ISettingsPart;
class TCountersKeeper;
class TProfileFile;

inline constexpr char kCountersFileName[] = "COUNTERS.DAT";
inline constexpr char kSettingsFileName[] = "VolmarSim.Ini";

struct TMonitorOptions {
    // Where the counters and settings files live; empty: the program's folder.
    QString Folder;
    // The port's tick clock; nullptr: the system's.
    ITickClock* Clock = nullptr;
    TLogClock LogClock = TLogClock::System();
    // True once a quit signal has asked for the shut-down: from then on no
    // error waits for the operator in a box; it goes to standard error.
    std::function<bool()> QuitRequested;
    // How often a changed counters record is written while the program runs.
    int CountersSaveIntervalMs = 1000;
    // This run's port, device and speed mode instead of the settings file's;
    // the file keeps its own unless the operator chooses others meanwhile.
    std::optional<std::uint16_t> Port;
    std::string Device;
    std::optional<TSpeedMode> Speed;
};

class TMonitor : public QObject, public IMachineView {
    Q_OBJECT
public:
    // View, when given, must outlive the engine. Nothing is read, opened or
    // shown before StartUp.
    explicit TMonitor(TMonitorOptions Options = {}, IMonitorView* View = nullptr);
    ~TMonitor() override;
    TMonitor(const TMonitor&) = delete;
    TMonitor& operator=(const TMonitor&) = delete;

    // Loads the counters and the settings, opens the stored port and queues
    // the receiver's reset, the speed-signal trigger and a refresh of all meters.
    void StartUp();
    // Writes the counters, closes the port and writes the settings; once.
    void ShutDown();
    // Between the start-up and the shut-down.
    bool Running() const { return FStarted && !FShutDown; }
    // Zeroes every count and total and resets the receiver; the counters
    // file follows within a second.
    void Reset();

    // The operator's port choice: another port, or the chosen one again when
    // it failed to open or went away.
    void ChoosePort(int Number);
    // Closes the port if open, and opens COM N unless N is 0.
    void SelectComPort(std::uint16_t N);
    // The operator gave COM numbers other devices (an empty path: the
    // number's own); only these are written into the settings file.
    void AssignDevices(const std::map<std::uint16_t, std::string>& Paths);
    void SetSpeedMode(TSpeedMode Mode);
    // Totals the operator set by hand, by meter index; the others keep counting.
    void SetTotals(const std::vector<std::pair<int, std::int32_t>>& Totals);
    // The link tools: the buffered byte count in a box, emptying the
    // buffer, and a deferred reset of the receiver.
    void CountRx();
    void ResetRx();
    void ResetSM();

    // Deferred commands, run one at a time in posting order.
    void PostCommand(TUserCommand Command, std::intptr_t Argument = 0);

    // The steps of the port, baud and speed-signal control.
    void SetBaudChoice(int Choice);
    int AutoBaudChoice();
    bool SpeedSignalPresent();
    void SetAutoBaudActive(bool Value);
    void FollowSpeedSignal(bool Present);
    void SetSpeedSignal(bool Present);
    void ArmModemTrigger(bool Activate);
    void ArmLineTrigger(bool Activate);

    // What the interpretation shows: kept where the engine needs it, and
    // passed on to the view.
    void SetIdentityText(TIdentityLabel Label, const std::string& Text) override;
    void SetCheckListBits(TSupportList List, std::uint32_t Mask) override;
    void SetAttendantLamp(bool On) override;
    void SetSwitchStates(std::uint16_t Word) override;
    void ShowValuesMode(bool BCDValues) override;
    void PostUpdateMeters(int MeterIndex) override;

    TComPortPlus& ComPortPlus() { return FComPortPlus; }
    TVolmarDataport& Volmar() { return FVolmar; }
    TCounters& Counters() { return FCounters; }
    TLogs& Logs() { return FLogs; }
    TInterpreter& Interpreter() { return FInterpreter; }
    // Exists from the start-up to the shut-down.
    TSerialBuffer& RxBuffer() { return *FRxBuffer; }
    TErrorReports& Reports() { return FReports; }
    TSpeedMode SpeedMode() const { return FSpeedMode; }
    bool AutoBaudActive() const { return FAutoBaudActive; }
    bool SpeedSignal() const { return FSpeedSignal; }
    std::uint16_t Switches() const { return FSwitches; }
    QString CountersPath() const;
    QString SettingsPath() const;
    // A file of this name in the files' folder.
    QString FilePath(const QString& Name) const;
    // Another section of the settings file, read and written with the
    // engine's keys in the order added. Part must outlive the shut-down.
    void AddSettingsPart(ISettingsPart* Part);
    // What the machine last reported of itself.
    const std::string& IdentityText(TIdentityLabel Label) const { return FIdentity.at(Label); }
    // Records what happened and tells it (TrafficRecorded) to whoever
    // watches: the one stream of what happened on the line.
    void Record(TTrafficRecord Record);
    // Where each reply passes before it reaches the port; nullptr: replies
    // go out as decided. Gate must outlive its use.
    void SetReplyGate(IReplyGate* Gate);
    // Puts bytes on the line after the fact (a late answer, bytes after it)
    // and records them as replies; nothing when the port is closed.
    void SendReplyBytes(const std::vector<std::uint8_t>& Bytes, TReplyCause Cause);

signals:
    // A message the receiver delivered with its answer; a spoiled one (not
    // Valid) is answered with a NAK only once the line has gone quiet.
    void MessageReceived(const volmar::TDPMessage& Msg, volmar::TAcception Answer);
    // A line error, or an answer that found no room (code 8), as logged.
    void LineErrorLogged(quint16 Code);
    void ReceiverTimedOut(volmar::TTimeoutType Timeout);
    void ReceiverReset();
    void PortOpened(quint16 Number, const QString& Path);
    void PortClosed(quint16 Number, const QString& Path);
    // The device of an open port went away, and later came back.
    void DeviceLost(quint16 Number, const QString& Path);
    void DeviceBack(quint16 Number, const QString& Path);
    // Everything recorded, as it is recorded.
    void TrafficRecorded(const volmar::TTrafficRecord& Record);
    // The start-up is over: the settings are applied and the port is open
    // if it could be.
    void StartedUp();
    // The shut-down begins, before anything is written.
    void ShutDownBegins();
    // The shut-down is over: the files are written, the port is closed and
    // the last records are made.
    void ShutDownEnded();
    // The port announced bytes from the machine.
    void BytesArrived();

protected:
    bool event(QEvent* Event) override;

private:
    void BindComponents();
    void LoadCountersFile();
    void LoadSettings();
    void SaveSettings();
    void ReadDeviceMap(const TProfileFile& Ini);
    void BindRecording();
    void RecordEvent(TLineEvent Event, std::int32_t Value = 0, std::string Detail = {});
    void RecordFrame(const TDPMessage& Msg, TFrameFault Fault);
    TTrafficRecord FrameRecord(const TDPMessage& Msg, TFrameFault Fault);
    // A message's frame is recorded, and observers are told of it, once its
    // answer is on the line, so that the answer waits for neither.
    void HoldFrame(const TDPMessage& Msg, TAcception Accepted);
    void ReleaseHeldFrame();
    void FlushDiscarded();

    void WMUser(int Command, std::intptr_t Argument);
    void ComPortPlusTriggerAvail(TCustomComPort* CP, std::uint16_t Count);
    void ComPortPlusTriggerLineError(TCustomComPort* CP, std::uint16_t Error, bool LineBreak);
    void ComPortPlusTriggerModemStatus(TCustomComPort* CP);
    void ComPortPlusDeviceLost(TCustomComPort* CP);
    void VolmarDPReset(TVolmarDataport* Sender);
    void VolmarTimeout(TVolmarDataport* Sender, TTimeoutType Timeout);
    void VolmarStateChange(TVolmarDataport* Sender, TDPState State, std::int32_t Count);
    void LogLineError(std::uint16_t Code);
    // Moves what the receive buffer has room for of the bytes the port has
    // announced into it, stopping at the first line error not yet handled;
    // returns how many.
    int TakeFromPort();

    // Closes an open port the orderly way (the first step of a port choice).
    void ClosePort();
    void ShowSpeedSelectActive(bool Active);
    void PortLost(std::uint16_t Number, const std::string& Path);
    void WatchForLostDevice();

    TMonitorOptions FOptions;
    IMonitorView& FView;
    TErrorReports FReports;
    TComPortPlus FComPortPlus;
    TVolmarDataport FVolmar;
    TCounters FCounters{};
    TLogs FLogs;
    TInterpreter FInterpreter;
    std::unique_ptr<TSerialBuffer> FRxBuffer;
    // Bytes taken from the port so far, and for each line error posted and
    // not yet handled, how many had been announced before it: the receiver
    // gets those first, never one that came after.
    std::uint64_t FBytesTaken = 0;
    std::deque<std::uint64_t> FLineErrorsAt;
    std::unique_ptr<TCountersKeeper> FCountersKeeper;

    TSpeedMode FSpeedMode = sm9600;
    bool FAutoBaudActive = false;
    bool FSpeedSignal = false;
    std::uint16_t FModemTrigger = 0;
    std::uint16_t FLineTrigger = 0;
    std::uint16_t FSwitches = 0;
    bool FStarted = false;
    bool FShutDown = false;
    // A port whose device went away, watched for until it comes back.
    QTimer FReconnectTimer;
    std::uint16_t FLostPort = 0;
    std::string FLostPath;
    // Devices the operator assigned, by COM number; only these are written
    // back into the settings file.
    std::map<std::uint16_t, std::string> FAssignedDevices;
    // The save failure shown as the alert, cleared once a save succeeds.
    QString FSaveAlert;
    std::array<std::string, 5> FIdentity;
    // The settings file's port and speed mode, kept there while the
    // command line's are in use.
    std::int32_t FFilePort = 0;
    std::int32_t FFileSpeedMode = sm9600;
    std::vector<ISettingsPart*> FSettingsParts;

    IReplyGate* FReplyGate = nullptr;
    // Bytes thrown away while waiting for quiet, recorded once per batch.
    std::vector<std::uint8_t> FDiscarded;
    struct THeldFrame {
        TTrafficRecord Record;
        TDPMessage Msg;
        TAcception Accepted;
    };
    std::optional<THeldFrame> FHeldFrame;
    // When the batch being framed was read from the port.
    std::int64_t FBatchMonoUs = 0;
    // When the frame being received and the run being discarded began.
    std::int64_t FFrameFirstUs = 0;
    std::int64_t FDiscardedFirstUs = 0;
    // The longest wait between reads while the frame being framed came in.
    std::int64_t FFrameGapUs = 0;
    // Looks now and then whether standard error has lost its reader.
    QTimer FStandardErrorWatch;
};

} // namespace volmar
