// TCustomComPort: one serial port. Handlers run one at a time, in order,
// only on the user-interface thread (the thread that created the port).
// When the device has a descriptor and that thread an event loop, the
// thread itself reads, evaluates the triggers and writes, woken by the
// device (no thread hop on the way of a byte or a reply). Otherwise
// background threads move bytes between the device and two rings and
// evaluate the triggers, handing each notification to the user-interface
// thread and waiting for it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dataport/dataport_port.h"
#include "serial/device_layer.h"
#include "serial/port_errors.h"
#include "serial/tick_clock.h"
#include "serial/trace_log.h"
#include "serial/triggers.h"

class QSocketNotifier;
class QTimer;

namespace volmar {

class TCustomComPort;
class TNotifyTarget;
struct TNotifyTicket;

using TTriggerEvent = std::function<void(TCustomComPort* CP, std::uint16_t Msg,
                                         std::uint16_t TriggerHandle, std::uint16_t Data)>;
using TTriggerAvailEvent = std::function<void(TCustomComPort* CP, std::uint16_t Count)>;
using TTriggerDataEvent = std::function<void(TCustomComPort* CP, std::uint16_t TriggerHandle)>;
using TTriggerStatusEvent = TTriggerDataEvent;
using TTriggerTimerEvent = TTriggerDataEvent;
using TTriggerLineErrorEvent =
    std::function<void(TCustomComPort* CP, std::uint16_t Error, bool LineBreak)>;
using TPortNotifyEvent = std::function<void(TCustomComPort* Sender)>;
using TWaitCharEvent = std::function<void(TCustomComPort* CP, char C)>;
using TPortListener = std::function<void(void* Owner, TCustomComPort* Port, bool Opening)>;

// Notification kinds, the Msg of OnTrigger.
inline constexpr std::uint16_t kNotifyAvail = 0x7E01;
inline constexpr std::uint16_t kNotifyData = 0x7E02;
inline constexpr std::uint16_t kNotifyTimer = 0x7E03;
inline constexpr std::uint16_t kNotifyStatus = 0x7E04;

// Line error codes of LineError and of OnTriggerLineError's Error.
inline constexpr std::uint16_t leNoError = 0;
inline constexpr std::uint16_t leBuffer = 1;
inline constexpr std::uint16_t leOverrun = 2;
inline constexpr std::uint16_t leParity = 3;
inline constexpr std::uint16_t leFraming = 4;
inline constexpr std::uint16_t leBreak = 9;

enum TPortState : std::uint8_t { psClosed, psShuttingDown, psOpen };
enum TTapiMode : std::uint8_t { tmNone, tmAuto, tmOn, tmOff };

inline constexpr std::size_t kReceiveRingSize = 8192;
// The longest a background thread waits for a handler on the UI thread.
inline constexpr int kHandOverTimeoutMs = 3000;
// The dispatcher evaluates the triggers at least this often.
inline constexpr int kDispatchIntervalMs = 50;

// Where a failure inside a port event handler goes (the application's error
// display); by default it is written to standard error.
void SetPortErrorHandler(std::function<void(const std::exception&)> Handler);

class TCustomComPort : public IDataportPort {
public:
    TCustomComPort();
    ~TCustomComPort() override;
    TCustomComPort(const TCustomComPort&) = delete;
    TCustomComPort& operator=(const TCustomComPort&) = delete;

    // Settings and open state.
    std::uint16_t ComNumber() const { return FComNumber; }
    void SetComNumber(std::uint16_t Value);
    std::int32_t Baud() const { return FLine.Baud; }
    void SetBaud(std::int32_t Value);
    TParity Parity() const { return FLine.Parity; }
    void SetParity(TParity Value);
    std::uint16_t DataBits() const { return FLine.DataBits; }
    void SetDataBits(std::uint16_t Value);
    std::uint16_t StopBits() const { return FLine.StopBits; }
    void SetStopBits(std::uint16_t Value);
    bool PromptForPort() const { return FPromptForPort; }
    void SetPromptForPort(bool Value) { FPromptForPort = Value; }
    std::uint16_t InSize() const { return FInSize; }
    void SetInSize(std::uint16_t Value);
    std::uint16_t OutSize() const { return FOutSize; }
    void SetOutSize(std::uint16_t Value);
    bool AutoOpen() const { return FAutoOpen; }
    void SetAutoOpen(bool Value) { FAutoOpen = Value; }
    bool Open() const override { return FOpen; }
    // A device that will not open raises the port's error; its Detail()
    // names the COM number and the device and says what to do.
    void SetOpen(bool Value);
    TPortState State() const { return FState; }
    bool DTR() const { return FDTR; }
    void SetDTR(bool Value);
    bool RTS() const { return FRTS; }
    void SetRTS(bool Value);
    bool UseMSRShadow() const { return true; }
    void SetUseMSRShadow(bool) {}
    bool UseEventWord() const { return FUseEventWord; }
    void SetUseEventWord(bool Value) { FUseEventWord = Value; }
    TTapiMode TapiMode() const { return FTapiMode; }
    void SetTapiMode(TTapiMode Value) { FTapiMode = Value; }
    std::int32_t Tag() const { return FTag; }
    void SetTag(std::int32_t Value) { FTag = Value; }
    float Version() const { return 1.01f; }
    void SetVersion(float) {}

    // The device path the port opens (by default the COM number's).
    std::string DevicePath() const;
    // Overrides the COM number's device; empty restores it.
    void SetDevicePath(const std::string& Path) { FDevicePath = Path; }
    // The clock of the tick count and the timer triggers.
    void SetClock(ITickClock* Clock);
    ITickClock& Clock() const { return *FClock; }

    // Data.
    void PutChar(std::uint8_t Byte) override;
    void PutString(const std::string& Bytes);
    bool CharReady();
    std::uint8_t GetChar();
    std::uint16_t InBuffUsed();
    // The bytes waiting that OnTriggerAvail has announced, without reading
    // the device: bytes read since are announced later, after any line
    // error read with them, so a handler that takes only these keeps the
    // order of bytes and line errors.
    std::uint16_t InBuffAnnounced();
    std::uint16_t OutBuffUsed();
    std::uint16_t OutBuffFree();
    void FlushInBuffer() override;
    void FlushOutBuffer() override;
    void ProcessCommunications() override;

    // Modem lines and line errors; each modem read clears its change bit.
    bool CTS();
    bool DSR();
    bool DCD();
    bool DeltaCTS();
    bool DeltaRI();
    bool LineBreak();
    std::uint16_t LineError();
    std::uint8_t ModemStatus() const;
    // True once the device has gone away (unplugged) while open; the port
    // no longer reads it. OnDeviceLost told the owner.
    bool DeviceLost() const { return FDeviceLost.load(); }

    // Triggers.
    std::uint16_t AddTimerTrigger();
    std::uint16_t AddStatusTrigger(std::uint8_t Kind);
    void SetTimerTrigger(std::uint16_t Handle, std::uint32_t Ticks, bool Activate) override;
    void SetStatusTrigger(std::uint16_t Handle, std::uint16_t Value, bool Activate);
    void RemoveTrigger(std::uint16_t Handle);
    void RemoveAllTriggers();
    void AddPortListener(TPortListener Callback, void* Owner);
    void RemovePortListener(void* Owner);

    void BindTimerNotification(TDataportTimerEvent Handler) override;

    // Tracing and logging (see TComPortPlus for the files).
    TTraceLogState Tracing() const { return FTrace.State(); }
    void SetTracing(TTraceLogState Value);
    std::uint32_t TraceSize() const { return FTrace.Size(); }
    void SetTraceSize(std::uint32_t Value);
    std::string TraceName() const { return FTrace.FileName(); }
    void SetTraceName(const std::string& Value) { FTrace.SetFileName(Value); }
    bool TraceHex() const { return FTrace.Hex(); }
    void SetTraceHex(bool Value) { FTrace.SetHex(Value); }
    TTraceLogState Logging() const { return FLog.State(); }
    void SetLogging(TTraceLogState Value);
    std::uint32_t LogSize() const { return FLog.Size(); }
    void SetLogSize(std::uint32_t Value);
    std::string LogName() const { return FLog.FileName(); }
    void SetLogName(const std::string& Value) { FLog.SetFileName(Value); }
    bool LogHex() const { return FLog.Hex(); }
    void SetLogHex(bool Value) { FLog.SetHex(Value); }

    // Events; the port raises them only on the user-interface thread.
    TTriggerEvent OnTrigger;
    TTriggerAvailEvent OnTriggerAvail;
    TTriggerDataEvent OnTriggerData;
    TTriggerStatusEvent OnTriggerStatus;
    TTriggerTimerEvent OnTriggerTimer;
    TTriggerLineErrorEvent OnTriggerLineError;
    TPortNotifyEvent OnTriggerModemStatus;
    TPortNotifyEvent OnTriggerOutbuffFree;
    TPortNotifyEvent OnTriggerOutbuffUsed;
    TPortNotifyEvent OnTriggerOutSent;
    TWaitCharEvent OnWaitChar;
    // The device went away while open (not a line error: no error code).
    TPortNotifyEvent OnDeviceLost;

    // Holds back every notification (a synchronous wait on the UI thread);
    // returns whether they were already held back. One that comes up on the
    // UI thread meanwhile runs once they are released, in order; received
    // bytes are then announced with the count waiting at that time.
    bool SuspendNotifications(bool Suspend);

    // Records whether any event is assigned: while none is, the port
    // produces no notifications. The port calls it at open and at every
    // trigger operation; call it after assigning events to an open port.
    virtual void UpdateHandlerFlags();

protected:
    virtual std::unique_ptr<IDeviceLayer> CreateDeviceLayer();
    virtual void OpenDevice();
    virtual void DonePort();
    virtual void DoTrigger(std::uint16_t Msg, std::uint16_t TriggerHandle, std::uint16_t Data);
    virtual void DoTriggerAvail(std::uint16_t Count);
    virtual void DoTriggerData(std::uint16_t TriggerHandle);
    virtual void DoTriggerStatus(std::uint16_t TriggerHandle);
    virtual void DoTriggerTimer(std::uint16_t TriggerHandle);
    virtual void DoTriggerLineError(std::uint16_t Error, bool LineBreak);
    virtual void DoTriggerModemStatus();
    virtual void DoTriggerOutbuffFree();
    virtual void DoTriggerOutbuffUsed();
    virtual void DoTriggerOutSent();
    virtual void DoDeviceLost();

    TTraceRecorder FTrace{kMaxTraceEntries};
    TLogRecorder FLog{kMaxLogEntries};

private:
    friend class TNotifyTarget;
    enum TNotifyKind { nkAvail, nkTimer, nkStatus, nkDeviceLost };

    // Common rule of the device operations: false when shutting down, opens
    // a closed port when AutoOpen is set, else raises ECommNotOpen.
    bool Ready();
    void ApplyLineSettings();
    void FinishClose();
    void StartThreads();
    void StopThreads();
    void EventThread();
    void DispatcherThread();
    void WriterThread();
    bool ReadDevice();
    // The direct path, all on the owner's thread.
    bool OnOwnerThread() const;
    void StartDirect(int Fd);
    void StopDirect();
    void DirectPass(bool DeviceEvent);
    void RequestDirectPass();
    // Hands the output ring to the device until it would block.
    void DirectWrite();
    // Takes what the device holds, for a caller that polls for input.
    void DirectPull();
    void SetReadWatch(bool Enabled);
    bool Alive(std::uint32_t Session) const { return !FStop && FSession == Session; }
    void RefreshModem();
    // Called with the trigger lock held.
    void TakeModemLevels(std::uint8_t Levels);
    bool ReadModem(std::uint8_t Bit, std::uint8_t Clears);
    void EvaluateTriggers(std::uint32_t Session);
    // Posts a notification to the UI thread and waits for it to have run,
    // at most kHandOverTimeoutMs; one not started by then never runs.
    void HandOver(int Kind, std::uint16_t Handle, std::uint16_t Count, std::uint8_t StatusKind);
    void RunTicket(const std::shared_ptr<TNotifyTicket>& Ticket);
    void Deliver(const TNotifyTicket& Ticket);
    // Delivers Ticket, reporting a handler's failure, then updates the flags.
    void RunHandler(const TNotifyTicket& Ticket);
    bool Notifying() const;
    TLineStatus OutputStatus() const;
    void WakeDispatcher();
    void Queue(const std::uint8_t* Bytes, std::size_t Count);

    std::uint16_t FComNumber = 0;
    std::string FDevicePath;
    TLineSettings FLine{9600, pNone, 8, 1};
    bool FPromptForPort = true;
    std::uint16_t FInSize = 4096;
    std::uint16_t FOutSize = 4096;
    bool FAutoOpen = true;
    bool FOpen = false;
    bool FOpenPending = false;
    TPortState FState = psClosed;
    bool FDTR = true;
    bool FRTS = true;
    bool FUseEventWord = true;
    TTapiMode FTapiMode = tmAuto;
    std::int32_t FTag = 0;
    ITickClock* FClock;

    std::unique_ptr<IDeviceLayer> FLayer;
    std::unique_ptr<TNotifyTarget> FTarget;

    // Trigger lock: triggers, error flags, modem status, the busy flag.
    mutable std::mutex FTriggerLock;
    TTriggerSet FTriggers;
    TTriggerSet FSavedTriggers;
    bool FHaveSavedTriggers = false;
    std::uint8_t FModemStatus = 0;
    std::uint8_t FErrorFlags = 0;
    bool FOutSentFlag = false;
    bool FSuspended = false;

    // Input lock: the receive ring.
    mutable std::mutex FInputLock;
    std::vector<std::uint8_t> FRxRing;
    std::size_t FRxHead = 0;
    std::size_t FRxCount = 0;
    bool FRxArrived = false;
    // Bytes at the end of the ring read since the last announcement.
    std::size_t FRxFresh = 0;
    std::vector<std::uint8_t> FReadBuffer;

    // Output lock: the output ring.
    mutable std::mutex FOutputLock;
    std::condition_variable FOutputWake;
    std::vector<std::uint8_t> FTxRing;
    std::size_t FTxHead = 0;
    std::size_t FTxCount = 0;
    // The writer is handing a chunk of the ring to the device.
    bool FWriting = false;
    std::condition_variable FWriteDone;

    // The hand-over of notifications.
    std::mutex FHandOverLock;
    std::condition_variable FHandOverDone;
    std::atomic<bool> FHasHandlers{false};
    // Notifications that reached the UI thread while held back.
    std::vector<std::shared_ptr<TNotifyTicket>> FDeferred;
    // Changes at every start and stop of the threads, so that a notification
    // of an earlier opening is never delivered; written only while no thread
    // runs.
    std::uint32_t FSession = 0;

    // Thread control.
    std::mutex FThreadLock;
    std::condition_variable FThreadWake;
    bool FDeviceEvent = false;    // the event thread has an event for the dispatcher
    bool FDispatchWake = false;   // time jumped, or a trigger was armed
    bool FEventDone = true;       // the dispatcher finished the last event
    bool FRingFull = false;       // the receive ring had no room for the device's bytes
    std::atomic<bool> FStop{false};
    std::atomic<bool> FDeviceLost{false};
    bool FLostUnreported = false;  // the dispatcher's own
    std::atomic<int> FThreadsRunning{0};
    std::thread FEventThread, FDispatcherThread, FWriterThread;

    // The direct path; FDirect is read by any thread that wakes the port.
    std::atomic<bool> FDirect{false};
    std::unique_ptr<QSocketNotifier> FReadNotifier, FWriteNotifier;
    std::unique_ptr<QTimer> FPassTimer;
    int FServiceDepth = 0;     // passes on the stack (a handler ran an event loop)
    bool FPassPending = false; // a nested pass left the evaluation to the outer one
    std::size_t FLastRead = 0;

    std::vector<std::pair<TPortListener, void*>> FListeners;
};

} // namespace volmar
