#include "serial/com_port.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <exception>

#include "serial/device_map.h"
#include "serial/notify_target.h"
#include "serial/open_failure.h"
#include "serial/standard_error.h"

namespace volmar {

namespace {

std::mutex errorHandlerLock;
std::function<void(const std::exception&)>& ErrorHandler() {
    static std::function<void(const std::exception&)> handler;
    return handler;
}

void ReportHandlerFailure(const std::exception& Error) {
    std::function<void(const std::exception&)> handler;
    {
        std::lock_guard lock(errorHandlerLock);
        handler = ErrorHandler();
    }
    if (handler)
        handler(Error);
    else
        WriteStandardError(Error.what());
}

std::uint16_t Clamp16(std::size_t Value) {
    return static_cast<std::uint16_t>(std::min<std::size_t>(Value, 0xFFFF));
}

} // namespace

void SetPortErrorHandler(std::function<void(const std::exception&)> Handler) {
    std::lock_guard lock(errorHandlerLock);
    ErrorHandler() = std::move(Handler);
}

TCustomComPort::TCustomComPort()
    : FClock(&TSystemTickClock::Instance()), FTarget(std::make_unique<TNotifyTarget>(this)) {}

TCustomComPort::~TCustomComPort() {
    try {
        SetOpen(false);
    } catch (const std::exception& e) {
        ReportHandlerFailure(e);
    }
    FClock->RemoveWakeListener(this);
}

std::string TCustomComPort::DevicePath() const {
    return FDevicePath.empty() ? DevicePathForCom(FComNumber) : FDevicePath;
}

void TCustomComPort::SetClock(ITickClock* Clock) {
    FClock->RemoveWakeListener(this);
    FClock = Clock ? Clock : &TSystemTickClock::Instance();
    FClock->AddWakeListener(this, [this] { WakeDispatcher(); });
}

void TCustomComPort::SetComNumber(std::uint16_t Value) {
    if (Value == FComNumber) return;
    if (FState != psOpen) {
        FComNumber = Value;
        return;
    }
    const TTraceLogState tracing = Tracing();
    const TTraceLogState logging = Logging();
    SetOpen(false);
    FComNumber = Value;
    SetTracing(tracing);
    SetLogging(logging);
    SetOpen(true);
}

void TCustomComPort::SetBaud(std::int32_t Value) {
    if (Value == FLine.Baud) return;
    FLine.Baud = Value;
    ApplyLineSettings();
}

void TCustomComPort::SetParity(TParity Value) {
    if (Value == FLine.Parity) return;
    FLine.Parity = Value;
    ApplyLineSettings();
}

void TCustomComPort::SetDataBits(std::uint16_t Value) {
    if (Value == FLine.DataBits) return;
    FLine.DataBits = Value;
    ApplyLineSettings();
}

void TCustomComPort::SetStopBits(std::uint16_t Value) {
    if (Value == FLine.StopBits) return;
    FLine.StopBits = Value;
    ApplyLineSettings();
}

void TCustomComPort::SetInSize(std::uint16_t Value) {
    FInSize = Value;
    if (FState == psOpen) FLayer->SetQueueSizes(FInSize, FOutSize);
}

void TCustomComPort::SetOutSize(std::uint16_t Value) {
    FOutSize = Value;
    if (FState == psOpen) FLayer->SetQueueSizes(FInSize, FOutSize);
}

void TCustomComPort::SetDTR(bool Value) {
    FDTR = Value;
    if (FState == psOpen) FLayer->SetDTR(Value);
}

void TCustomComPort::SetRTS(bool Value) {
    FRTS = Value;
    if (FState == psOpen) FLayer->SetRTS(Value);
}

void TCustomComPort::ApplyLineSettings() {
    if (FState != psOpen) return;
    TLineSettings wanted = FLine;
    if (wanted.StopBits == 0) wanted.StopBits = 1;
    if (wanted.StopBits > 2 && wanted.StopBits != 3) wanted.StopBits = 2;
    if (wanted.DataBits == 5) wanted.StopBits = 3;
    if (FLayer->LineSettings() == wanted) return;
    FLayer->SetLineSettings(wanted);
}

void TCustomComPort::SetOpen(bool Value) {
    if (Value == FOpen && !(Value && FState == psShuttingDown)) return;
    if (!Value) {
        FOpenPending = false;
        DonePort();
        return;
    }
    if (FState == psShuttingDown) {
        FOpenPending = true;
        return;
    }
    OpenDevice();
    {
        std::lock_guard lock(FTriggerLock);
        if (FHaveSavedTriggers) FTriggers = FSavedTriggers;
    }
    UpdateHandlerFlags();
    auto listeners = FListeners;
    for (auto it = listeners.rbegin(); it != listeners.rend(); ++it) it->first(it->second, this, true);
}

std::unique_ptr<IDeviceLayer> TCustomComPort::CreateDeviceLayer() {
    return CreateDeviceLayerFor(DevicePath());
}

void TCustomComPort::OpenDevice() {
    if (FComNumber == 0 && FDevicePath.empty()) throw EBadId();
    FLayer = CreateDeviceLayer();
    try {
        try {
            FLayer->Open(DevicePath());
        } catch (EPortException& e) {
            if (e.SystemError() != 0)
                e.SetDetail(OpenFailureDetail(e.SystemError(), FComNumber, DevicePath()));
            throw;
        }
        FLayer->SetQueueSizes(FInSize, FOutSize);
        {
            std::lock_guard lock(FInputLock);
            FRxRing.assign(kReceiveRingSize, 0);
            FReadBuffer.assign(kReceiveRingSize, 0);
            FRxHead = FRxCount = FRxFresh = 0;
            FRxArrived = false;
        }
        {
            std::lock_guard lock(FOutputLock);
            FTxRing.assign(std::max<std::size_t>(FOutSize, 1), 0);
            FTxHead = FTxCount = 0;
        }
        FDeviceLost = false;
        FLayer->SetDTR(FDTR);
        FLayer->SetRTS(FRTS);
        {
            std::lock_guard lock(FTriggerLock);
            FErrorFlags = 0;
            FOutSentFlag = false;
            FModemStatus = FLayer->ModemLevels() & 0xF0;
        }
        FState = psOpen;
        ApplyLineSettings();
        StartThreads();
    } catch (...) {
        StopThreads();
        FLayer->Close();
        FLayer.reset();
        FState = psClosed;
        FOpen = false;
        throw;
    }
    FTrace.PortOpened();
    FLog.PortOpened();
    FOpen = true;
}

void TCustomComPort::DonePort() {
    FOpen = false;
    if (FState != psOpen) return;
    std::exception_ptr dumpFailure;
    for (TRecorder* recorder : {static_cast<TRecorder*>(&FTrace), static_cast<TRecorder*>(&FLog)}) {
        try {
            recorder->PortClosing();
        } catch (...) {
            if (!dumpFailure) dumpFailure = std::current_exception();
        }
    }
    FState = psShuttingDown;
    auto listeners = FListeners;
    for (auto it = listeners.rbegin(); it != listeners.rend(); ++it)
        it->first(it->second, this, false);
    {
        std::lock_guard lock(FTriggerLock);
        FSavedTriggers = FTriggers;
        FHaveSavedTriggers = true;
    }
    StopThreads();
    FinishClose();
    if (dumpFailure) std::rethrow_exception(dumpFailure);
}

void TCustomComPort::FinishClose() {
    FLayer->Close();
    FLayer.reset();
    FState = psClosed;
    if (FOpenPending) {
        FOpenPending = false;
        SetOpen(true);
    }
}

void TCustomComPort::StartThreads() {
    FStop = false;
    ++FSession;
    FLostUnreported = false;
    {
        std::lock_guard lock(FThreadLock);
        FDeviceEvent = false;
        FDispatchWake = false;
        FEventDone = true;
        FRingFull = false;
    }
    QThread* owner = FTarget->thread();
    const int fd = FLayer->PollHandle();
    if (fd >= 0 && QCoreApplication::instance() && owner == QThread::currentThread() &&
        owner->eventDispatcher()) {
        StartDirect(fd);
        return;
    }
    FEventThread = std::thread([this] { EventThread(); });
    FDispatcherThread = std::thread([this] { DispatcherThread(); });
    FWriterThread = std::thread([this] { WriterThread(); });
}

bool TCustomComPort::OnOwnerThread() const { return QThread::currentThread() == FTarget->thread(); }

void TCustomComPort::StartDirect(int Fd) {
    FPassPending = false;
    FReadNotifier = std::make_unique<QSocketNotifier>(Fd, QSocketNotifier::Read);
    QObject::connect(FReadNotifier.get(), &QSocketNotifier::activated, FTarget.get(),
                     [this] { DirectPass(true); });
    FWriteNotifier = std::make_unique<QSocketNotifier>(Fd, QSocketNotifier::Write);
    FWriteNotifier->setEnabled(false);
    QObject::connect(FWriteNotifier.get(), &QSocketNotifier::activated, FTarget.get(),
                     [this] { DirectWrite(); });
    FPassTimer = std::make_unique<QTimer>();
    FPassTimer->setTimerType(Qt::PreciseTimer);
    FPassTimer->setInterval(kDispatchIntervalMs);
    QObject::connect(FPassTimer.get(), &QTimer::timeout, FTarget.get(),
                     [this] { DirectPass(false); });
    FPassTimer->start();
    FDirect = true;
}

void TCustomComPort::StopDirect() {
    FDirect = false;
    FReadNotifier->setEnabled(false);
    FWriteNotifier->setEnabled(false);
    FPassTimer->stop();
    // A handler that closes the port runs inside a pass that one of these
    // started: that one is deleted once the pass has returned.
    for (QObject* o : {static_cast<QObject*>(FReadNotifier.release()),
                       static_cast<QObject*>(FWriteNotifier.release()),
                       static_cast<QObject*>(FPassTimer.release())}) {
        if (FServiceDepth > 0)
            o->deleteLater();
        else
            delete o;
    }
}

void TCustomComPort::StopThreads() {
    FStop = true;
    if (FReadNotifier) StopDirect();
    if (FLayer) FLayer->Wake();
    {
        std::lock_guard lock(FThreadLock);
        FThreadWake.notify_all();
    }
    {
        std::lock_guard lock(FOutputLock);
        FOutputWake.notify_all();
    }
    {
        std::lock_guard lock(FHandOverLock);
        FHandOverDone.notify_all();
    }
    // Every wait of the threads ends on the stop flag, so these joins are
    // immediate; a notification in flight is abandoned.
    for (std::thread* t : {&FEventThread, &FDispatcherThread, &FWriterThread})
        if (t->joinable()) t->join();
    ++FSession;
    std::lock_guard lock(FHandOverLock);
    FDeferred.clear();
}

bool TCustomComPort::Ready() {
    if (FState == psShuttingDown) return false;
    if (FState == psClosed) {
        if (!FAutoOpen) throw ECommNotOpen();
        SetOpen(true);
    }
    return FState == psOpen;
}

void TCustomComPort::Queue(const std::uint8_t* Bytes, std::size_t Count) {
    bool queued = false;
    const bool direct = FDirect && OnOwnerThread();
    {
        std::lock_guard lock(FOutputLock);
        if (FTxRing.size() - FTxCount < Count) throw EOutputBufferTooSmall();
        std::size_t sent = 0;
        // Nothing ahead of these bytes: they go straight to the device.
        if (direct && FTxCount == 0 && !FDeviceLost) {
            try {
                sent = FLayer->Write(Bytes, Count);
            } catch (const EPortException&) {
                sent = Count;  // refused outright: the bytes cannot be sent
            }
            if (FLayer->Vanished()) sent = Count;
        }
        for (std::size_t i = sent; i < Count; ++i)
            FTxRing[(FTxHead + FTxCount + i - sent) % FTxRing.size()] = Bytes[i];
        FTxCount += Count - sent;
        queued = FTxCount > 0;
        if (!FDirect) FOutputWake.notify_one();
    }
    if (queued && direct)
        FWriteNotifier->setEnabled(true);
    else if (queued && FDirect)
        QMetaObject::invokeMethod(FTarget.get(), [this] { DirectWrite(); }, Qt::QueuedConnection);
    for (std::size_t i = 0; i < Count; ++i) FTrace.Record('T', Bytes[i]);
    std::lock_guard lock(FTriggerLock);
    FOutSentFlag = true;
}

void TCustomComPort::PutChar(std::uint8_t Byte) {
    if (!Ready()) return;
    Queue(&Byte, 1);
}

void TCustomComPort::PutString(const std::string& Bytes) {
    if (Bytes.empty() || !Ready()) return;
    Queue(reinterpret_cast<const std::uint8_t*>(Bytes.data()), Bytes.size());
}

bool TCustomComPort::CharReady() {
    if (!Ready()) return false;
    DirectPull();
    std::lock_guard lock(FInputLock);
    return FRxCount > 0;
}

std::uint8_t TCustomComPort::GetChar() {
    if (!Ready()) return 0;
    std::uint8_t b = 0;
    bool wasFull = false;
    {
        std::lock_guard lock(FInputLock);
        if (FRxCount == 0) throw EBufferIsEmpty();
        wasFull = FRxCount == FRxRing.size();
        if (FRxFresh == FRxCount) --FRxFresh;
        b = FRxRing[FRxHead];
        FRxHead = (FRxHead + 1) % FRxRing.size();
        --FRxCount;
    }
    if (wasFull && FDirect && OnOwnerThread()) {
        SetReadWatch(true);
    } else if (wasFull) {
        std::lock_guard lock(FThreadLock);
        FThreadWake.notify_all();
    }
    FTrace.Record('R', b);
    return b;
}

std::uint16_t TCustomComPort::InBuffUsed() {
    if (FState != psOpen) return 0;
    DirectPull();
    std::lock_guard lock(FInputLock);
    return Clamp16(FRxCount);
}

std::uint16_t TCustomComPort::InBuffAnnounced() {
    if (FState != psOpen) return 0;
    std::lock_guard lock(FInputLock);
    return Clamp16(FRxCount - FRxFresh);
}

std::uint16_t TCustomComPort::OutBuffUsed() {
    if (FState != psOpen) return 0;
    std::lock_guard lock(FOutputLock);
    return Clamp16(FTxCount);
}

std::uint16_t TCustomComPort::OutBuffFree() {
    if (FState != psOpen) return FOutSize;
    std::lock_guard lock(FOutputLock);
    return Clamp16(FTxRing.size() - FTxCount);
}

void TCustomComPort::FlushInBuffer() {
    if (!Ready()) return;
    {
        std::lock_guard lock(FInputLock);
        FLayer->PurgeInput();
        FRxHead = FRxCount = FRxFresh = 0;
    }
    if (FDirect && OnOwnerThread()) SetReadWatch(true);
    std::lock_guard lock(FThreadLock);
    FThreadWake.notify_all();
}

void TCustomComPort::FlushOutBuffer() {
    if (!Ready()) return;
    // A chunk the writer has taken would reach the device after the purge;
    // its write never waits, so neither does this for long.
    std::unique_lock lock(FOutputLock);
    FWriteDone.wait(lock, [this] { return !FWriting; });
    FTxHead = FTxCount = 0;
    FLayer->PurgeOutput();
}

void TCustomComPort::ProcessCommunications() {
    if (!Ready()) return;
    // Bytes that arrive meanwhile are the read notifier's to announce.
    if (FDirect && OnOwnerThread()) {
        DirectWrite();
        return;
    }
    std::this_thread::yield();
}

std::uint8_t TCustomComPort::ModemStatus() const {
    std::lock_guard lock(FTriggerLock);
    return FModemStatus;
}

namespace {
// The change bit of each level bit of the modem status byte.
constexpr std::uint8_t ChangeBit(std::uint8_t Level) {
    switch (Level) {
    case kModemCTS: return 0x01;
    case kModemDSR: return 0x02;
    case kModemRI: return 0x04;
    default: return 0x08;
    }
}
} // namespace

bool TCustomComPort::ReadModem(std::uint8_t Bit, std::uint8_t Clears) {
    if (FState != psOpen) return false;
    const std::uint8_t levels = FDeviceLost ? 0 : FLayer->ModemLevels();
    std::lock_guard lock(FTriggerLock);
    TakeModemLevels(levels);
    const bool result = (FModemStatus & Bit) != 0;
    FModemStatus = static_cast<std::uint8_t>(FModemStatus & ~Clears);
    return result;
}

bool TCustomComPort::CTS() { return ReadModem(kModemCTS, ChangeBit(kModemCTS)); }
bool TCustomComPort::DSR() { return ReadModem(kModemDSR, ChangeBit(kModemDSR)); }
bool TCustomComPort::DCD() { return ReadModem(kModemDCD, ChangeBit(kModemDCD)); }
bool TCustomComPort::DeltaCTS() { return ReadModem(ChangeBit(kModemCTS), ChangeBit(kModemCTS)); }
bool TCustomComPort::DeltaRI() { return ReadModem(ChangeBit(kModemRI), ChangeBit(kModemRI)); }

bool TCustomComPort::LineBreak() {
    if (FState != psOpen) return false;
    std::lock_guard lock(FTriggerLock);
    const bool brk = (FErrorFlags & kErrBreak) != 0;
    FErrorFlags = static_cast<std::uint8_t>(FErrorFlags & ~kErrBreak);
    return brk;
}

std::uint16_t TCustomComPort::LineError() {
    if (FState != psOpen) return leNoError;
    std::lock_guard lock(FTriggerLock);
    std::uint16_t code = leNoError;
    if (FErrorFlags & kErrOverflow)
        code = leBuffer;
    else if (FErrorFlags & kErrOverrun)
        code = leOverrun;
    else if (FErrorFlags & kErrParity)
        code = leParity;
    else if (FErrorFlags & kErrFraming)
        code = leFraming;
    else if (FErrorFlags & kErrBreak)
        code = leBreak;
    if (code != leNoError) FErrorFlags = static_cast<std::uint8_t>(FErrorFlags & ~0x0F);
    return code;
}

std::uint16_t TCustomComPort::AddTimerTrigger() {
    if (!Ready()) return 0;
    UpdateHandlerFlags();
    std::lock_guard lock(FTriggerLock);
    return FTriggers.AddTimer();
}

std::uint16_t TCustomComPort::AddStatusTrigger(std::uint8_t Kind) {
    if (!Ready()) return 0;
    UpdateHandlerFlags();
    std::lock_guard lock(FTriggerLock);
    return FTriggers.AddStatus(Kind);
}

void TCustomComPort::SetTimerTrigger(std::uint16_t Handle, std::uint32_t Ticks, bool Activate) {
    if (!Ready()) return;
    UpdateHandlerFlags();
    std::lock_guard lock(FTriggerLock);
    FTriggers.SetTimer(Handle, Ticks, Activate, FClock->Ticks());
}

void TCustomComPort::SetStatusTrigger(std::uint16_t Handle, std::uint16_t Value, bool Activate) {
    if (!Ready()) return;
    UpdateHandlerFlags();
    {
        std::lock_guard lock(FTriggerLock);
        FTriggers.SetStatus(Handle, Value, Activate, FModemStatus);
    }
    WakeDispatcher();
}

void TCustomComPort::RemoveTrigger(std::uint16_t Handle) {
    if (FState != psOpen) return;
    std::lock_guard lock(FTriggerLock);
    FTriggers.Remove(Handle);
}

void TCustomComPort::RemoveAllTriggers() {
    if (FState != psOpen) return;
    std::lock_guard lock(FTriggerLock);
    FTriggers.RemoveAll();
}

void TCustomComPort::AddPortListener(TPortListener Callback, void* Owner) {
    FListeners.emplace_back(std::move(Callback), Owner);
}

void TCustomComPort::RemovePortListener(void* Owner) {
    std::erase_if(FListeners, [Owner](const auto& l) { return l.second == Owner; });
}

void TCustomComPort::BindTimerNotification(TDataportTimerEvent Handler) {
    if (Handler)
        OnTriggerTimer = [Handler](TCustomComPort* CP, std::uint16_t h) { Handler(CP, h); };
    else
        OnTriggerTimer = nullptr;
    UpdateHandlerFlags();
}

void TCustomComPort::SetTracing(TTraceLogState Value) { FTrace.SetState(Value, FState == psOpen); }
void TCustomComPort::SetTraceSize(std::uint32_t Value) { FTrace.SetSize(Value, FState == psOpen); }
void TCustomComPort::SetLogging(TTraceLogState Value) { FLog.SetState(Value, FState == psOpen); }
void TCustomComPort::SetLogSize(std::uint32_t Value) { FLog.SetSize(Value, FState == psOpen); }

bool TCustomComPort::SuspendNotifications(bool Suspend) {
    bool was = false;
    {
        std::lock_guard lock(FTriggerLock);
        was = FSuspended;
        if (Suspend) FSuspended = true;
    }
    if (Suspend) return was;

    // Held-back notifications go out again before the dispatcher can post new
    // ones. A data notification's count may be stale (the wait took bytes):
    // the dispatcher announces what is left instead.
    std::vector<std::shared_ptr<TNotifyTicket>> deferred;
    {
        std::lock_guard lock(FHandOverLock);
        deferred.swap(FDeferred);
    }
    bool announce = false;
    for (const auto& ticket : deferred) {
        if (ticket->Kind == nkAvail) {
            announce = true;
            continue;
        }
        auto again = std::make_shared<TNotifyTicket>(*ticket);
        again->Stage = TNotifyTicket::Pending;
        QCoreApplication::postEvent(FTarget.get(), new TNotifyEvent(std::move(again)));
    }
    if (announce) {
        std::lock_guard lock(FInputLock);
        if (FRxCount > 0) FRxArrived = true;
    }
    {
        std::lock_guard lock(FTriggerLock);
        FSuspended = false;
    }
    WakeDispatcher();
    return was;
}

void TCustomComPort::UpdateHandlerFlags() {
    FHasHandlers = OnTrigger || OnTriggerAvail || OnTriggerData || OnTriggerStatus ||
                   OnTriggerTimer || OnTriggerLineError || OnTriggerModemStatus ||
                   OnTriggerOutbuffFree || OnTriggerOutbuffUsed || OnTriggerOutSent ||
                   OnDeviceLost;
}

void TCustomComPort::WakeDispatcher() {
    if (FDirect) RequestDirectPass();
    std::lock_guard lock(FThreadLock);
    FDispatchWake = true;
    FThreadWake.notify_all();
}

void TCustomComPort::EventThread() {
    while (!FStop) {
        const unsigned events = FLayer->WaitEvent(250);
        if (FStop) break;
        if ((events & (kEventInput | kEventModem | kEventVanished)) == 0) continue;
        std::unique_lock lock(FThreadLock);
        FDeviceEvent = true;
        FEventDone = false;
        FThreadWake.notify_all();
        FThreadWake.wait(lock, [this] { return FStop || FEventDone; });
        // With the ring full the device keeps reporting input: wait for room.
        FThreadWake.wait_for(lock, std::chrono::milliseconds(kDispatchIntervalMs),
                             [this] { return FStop || !FRingFull; });
    }
}

void TCustomComPort::DispatcherThread() {
    while (!FStop) {
        bool deviceEvent = false;
        {
            std::unique_lock lock(FThreadLock);
            FThreadWake.wait_for(lock, std::chrono::milliseconds(kDispatchIntervalMs), [this] {
                return FStop || (FDeviceEvent && !FEventDone) || FDispatchWake;
            });
            if (FStop) break;
            deviceEvent = FDeviceEvent && !FEventDone;
            FDispatchWake = false;
        }
        const bool lostNow = !FDeviceLost && FLayer->Vanished();
        bool full = false;
        if (!FDeviceLost) full = ReadDevice();
        RefreshModem();
        if (lostNow) FDeviceLost = true;
        if (deviceEvent) {
            std::lock_guard lock(FThreadLock);
            FDeviceEvent = false;
            FEventDone = true;
            FRingFull = full;
            FThreadWake.notify_all();
        }
        // A loss found while notifications are held back is reported later.
        if (lostNow) FLostUnreported = true;
        if (FLostUnreported && !FStop && Notifying()) {
            FLostUnreported = false;
            HandOver(nkDeviceLost, 0, 0, 0);
        }
        EvaluateTriggers(FSession);
    }
}

void TCustomComPort::RequestDirectPass() {
    QMetaObject::invokeMethod(FTarget.get(), [this] { DirectPass(false); }, Qt::QueuedConnection);
}

void TCustomComPort::SetReadWatch(bool Enabled) {
    if (FReadNotifier) FReadNotifier->setEnabled(Enabled && !FDeviceLost);
}

void TCustomComPort::DirectPull() {
    if (!FDirect || FDeviceLost || !OnOwnerThread()) return;
    {
        std::lock_guard lock(FInputLock);
        if (FRxCount == FRxRing.size()) return;
    }
    if (ReadDevice()) SetReadWatch(false);
    // The device will not signal these bytes again: announce them from here.
    if (FLastRead == 0) return;
    if (FServiceDepth > 0)
        FPassPending = true;
    else
        RequestDirectPass();
}

void TCustomComPort::DirectPass(bool DeviceEvent) {
    if (!FDirect || FStop) return;
    const std::uint32_t session = FSession;
    bool full = false;
    if (!FDeviceLost) {
        full = ReadDevice();
        // Readable with nothing to read: find out whether it hung up.
        if (DeviceEvent && FLastRead == 0 && !full) FLayer->WaitEvent(0);
    }
    const bool lostNow = !FDeviceLost && FLayer->Vanished();
    RefreshModem();
    if (lostNow) {
        FDeviceLost = true;
        FLostUnreported = true;
        FWriteNotifier->setEnabled(false);
        std::lock_guard lock(FOutputLock);
        FTxHead = FTxCount = 0;
    }
    // With the ring full the device keeps reporting input: wait for room.
    SetReadWatch(!full);
    if (FServiceDepth > 0) {
        FPassPending = true;
        return;
    }
    ++FServiceDepth;
    if (FLostUnreported && Notifying()) {
        FLostUnreported = false;
        HandOver(nkDeviceLost, 0, 0, 0);
    }
    if (Alive(session)) EvaluateTriggers(session);
    --FServiceDepth;
    if (FPassPending && Alive(session)) {
        FPassPending = false;
        RequestDirectPass();
    }
}

void TCustomComPort::DirectWrite() {
    if (!FDirect || FStop) return;
    bool more = false;
    {
        std::lock_guard lock(FOutputLock);
        while (FTxCount > 0) {
            const std::size_t n = std::min(FTxCount, FTxRing.size() - FTxHead);
            std::size_t written = 0;
            try {
                written = FLayer->Write(FTxRing.data() + FTxHead, n);
            } catch (const EPortException&) {
                written = n;
            }
            if (FLayer->Vanished()) written = n;
            FTxHead = (FTxHead + written) % FTxRing.size();
            FTxCount -= written;
            if (written < n) break;
        }
        more = FTxCount > 0;
    }
    FWriteNotifier->setEnabled(more && !FDeviceLost);
}

bool TCustomComPort::ReadDevice() {
    std::uint8_t errors = 0;
    bool full = false;
    {
        std::lock_guard lock(FInputLock);
        FLastRead = 0;
        const std::size_t room = FRxRing.size() - FRxCount;
        full = room == 0;
        if (!full) {
            const std::size_t n = FLayer->Read(FReadBuffer.data(), room, errors);
            for (std::size_t i = 0; i < n; ++i)
                FRxRing[(FRxHead + FRxCount + i) % FRxRing.size()] = FReadBuffer[i];
            FRxCount += n;
            FRxFresh += n;
            FLastRead = n;
            if (n > 0) FRxArrived = true;
            full = FRxCount == FRxRing.size();
        }
    }
    if (errors) {
        std::lock_guard lock(FTriggerLock);
        FErrorFlags |= errors;
    }
    return full;
}

void TCustomComPort::RefreshModem() {
    const std::uint8_t levels = FDeviceLost ? 0 : FLayer->ModemLevels();
    std::lock_guard lock(FTriggerLock);
    TakeModemLevels(levels);
}

// Every reading of the lines comes here, the dispatcher's and the UI
// thread's alike, so that a change is flagged whichever sees it first.
void TCustomComPort::TakeModemLevels(std::uint8_t Levels) {
    Levels &= 0xF0;
    std::uint8_t changes = 0;
    for (std::uint8_t line : {kModemCTS, kModemDSR, kModemRI, kModemDCD})
        if ((Levels ^ FModemStatus) & line) changes |= ChangeBit(line);
    FModemStatus = static_cast<std::uint8_t>(Levels | (FModemStatus & 0x0F) | changes);
}

bool TCustomComPort::Notifying() const {
    if (!FHasHandlers) return false;
    std::lock_guard lock(FTriggerLock);
    return !FSuspended;
}

TLineStatus TCustomComPort::OutputStatus() const {
    std::lock_guard lock(FOutputLock);
    TLineStatus line;
    line.OutUsed = static_cast<std::uint32_t>(FTxCount);
    line.OutFree = static_cast<std::uint32_t>(FTxRing.size() - FTxCount);
    return line;
}

void TCustomComPort::EvaluateTriggers(std::uint32_t Session) {
    std::vector<std::uint16_t> fired;
    while (Alive(Session) && Notifying()) {
        std::optional<TTriggerSet::StatusTrigger> next;
        {
            TLineStatus status = OutputStatus();
            std::lock_guard lock(FTriggerLock);
            status.ModemStatus = FModemStatus;
            status.ErrorFlags = FErrorFlags;
            status.OutSent = FOutSentFlag;
            next = FTriggers.NextStatus(status, fired);
            if (next && next->Kind == stOutSent) FOutSentFlag = false;
        }
        if (!next) break;
        fired.push_back(next->Handle);
        HandOver(nkStatus, next->Handle, 0, next->Kind);
    }

    if (Alive(Session) && Notifying()) {
        std::uint16_t waiting = 0;
        {
            std::lock_guard lock(FInputLock);
            if (FRxArrived && FRxCount > 0) {
                FRxArrived = false;
                FRxFresh = 0;
                waiting = Clamp16(FRxCount);
            }
        }
        if (waiting > 0) HandOver(nkAvail, 0, waiting, 0);
    }

    while (Alive(Session) && Notifying()) {
        std::optional<std::uint16_t> expired;
        {
            std::lock_guard lock(FTriggerLock);
            expired = FTriggers.NextExpiredTimer(FClock->Ticks());
        }
        if (!expired) break;
        HandOver(nkTimer, *expired, 0, 0);
    }
}

void TCustomComPort::HandOver(int Kind, std::uint16_t Handle, std::uint16_t Count,
                              std::uint8_t StatusKind) {
    TNotifyTicket told;
    told.Kind = Kind;
    told.Handle = Handle;
    told.Count = Count;
    told.StatusKind = StatusKind;
    told.Session = FSession;
    if (FDirect) {
        // Already on the UI thread, in a pass that never overlaps another:
        // nothing waits for the ticket, so it need not be shared.
        told.Stage = TNotifyTicket::Running;
        RunHandler(told);
        return;
    }
    auto ticket = std::make_shared<TNotifyTicket>(told);
    QCoreApplication::postEvent(FTarget.get(), new TNotifyEvent(ticket));

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kHandOverTimeoutMs);
    std::unique_lock lock(FHandOverLock);
    FHandOverDone.wait_until(lock, deadline, [&] {
        return FStop || ticket->Stage == TNotifyTicket::Done ||
               ticket->Stage == TNotifyTicket::Deferred;
    });
    // One not started in time, or when the port stops, is dropped and never
    // runs; a handler still running is left to finish on its own.
    if (ticket->Stage == TNotifyTicket::Pending) ticket->Stage = TNotifyTicket::Abandoned;
}

void TCustomComPort::RunHandler(const TNotifyTicket& Ticket) {
    // A failing handler is reported; the port carries on.
    try {
        Deliver(Ticket);
    } catch (const std::exception& e) {
        ReportHandlerFailure(e);
    } catch (...) {
        ReportHandlerFailure(std::runtime_error("Unknown failure in a port event handler"));
    }
    UpdateHandlerFlags();
}

void TCustomComPort::RunTicket(const std::shared_ptr<TNotifyTicket>& Ticket) {
    bool suspended = false;
    {
        std::lock_guard lock(FTriggerLock);
        suspended = FSuspended;
    }
    {
        std::lock_guard lock(FHandOverLock);
        if (Ticket->Stage != TNotifyTicket::Pending) return;
        // A copy posted again for an opening that has ended since.
        if (Ticket->Session != FSession) {
            Ticket->Stage = TNotifyTicket::Abandoned;
            return;
        }
        if (suspended) {
            // Kept for later, and the dispatcher need not wait for it.
            Ticket->Stage = TNotifyTicket::Deferred;
            FDeferred.push_back(Ticket);
            FHandOverDone.notify_all();
            return;
        }
        Ticket->Stage = TNotifyTicket::Running;
    }
    RunHandler(*Ticket);
    std::lock_guard lock(FHandOverLock);
    Ticket->Stage = TNotifyTicket::Done;
    FHandOverDone.notify_all();
}

void TCustomComPort::Deliver(const TNotifyTicket& Ticket) {
    switch (Ticket.Kind) {
    case nkAvail:
        DoTrigger(kNotifyAvail, 0, Ticket.Count);
        DoTriggerAvail(Ticket.Count);
        break;
    case nkTimer:
        DoTrigger(kNotifyTimer, Ticket.Handle, 0);
        DoTriggerTimer(Ticket.Handle);
        break;
    case nkStatus:
        DoTrigger(kNotifyStatus, Ticket.Handle, 0);
        DoTriggerStatus(Ticket.Handle);
        switch (Ticket.StatusKind) {
        case stModem: DoTriggerModemStatus(); break;
        case stLine: {
            const bool brk = LineBreak();
            DoTriggerLineError(LineError(), brk);
            break;
        }
        case stOutBuffFree: DoTriggerOutbuffFree(); break;
        case stOutBuffUsed: DoTriggerOutbuffUsed(); break;
        case stOutSent: DoTriggerOutSent(); break;
        default: break;
        }
        break;
    case nkDeviceLost: DoDeviceLost(); break;
    default: break;
    }
}

void TCustomComPort::DoTrigger(std::uint16_t Msg, std::uint16_t TriggerHandle,
                               std::uint16_t Data) {
    if (OnTrigger) OnTrigger(this, Msg, TriggerHandle, Data);
}
void TCustomComPort::DoTriggerAvail(std::uint16_t Count) {
    if (OnTriggerAvail) OnTriggerAvail(this, Count);
}
void TCustomComPort::DoTriggerData(std::uint16_t TriggerHandle) {
    if (OnTriggerData) OnTriggerData(this, TriggerHandle);
}
void TCustomComPort::DoTriggerStatus(std::uint16_t TriggerHandle) {
    if (OnTriggerStatus) OnTriggerStatus(this, TriggerHandle);
}
void TCustomComPort::DoTriggerTimer(std::uint16_t TriggerHandle) {
    if (OnTriggerTimer) OnTriggerTimer(this, TriggerHandle);
}
void TCustomComPort::DoTriggerLineError(std::uint16_t Error, bool LineBreak) {
    if (OnTriggerLineError) OnTriggerLineError(this, Error, LineBreak);
}
void TCustomComPort::DoTriggerModemStatus() {
    if (OnTriggerModemStatus) OnTriggerModemStatus(this);
}
void TCustomComPort::DoTriggerOutbuffFree() {
    if (OnTriggerOutbuffFree) OnTriggerOutbuffFree(this);
}
void TCustomComPort::DoTriggerOutbuffUsed() {
    if (OnTriggerOutbuffUsed) OnTriggerOutbuffUsed(this);
}
void TCustomComPort::DoTriggerOutSent() {
    if (OnTriggerOutSent) OnTriggerOutSent(this);
}
void TCustomComPort::DoDeviceLost() {
    if (OnDeviceLost) OnDeviceLost(this);
}

void TCustomComPort::WriterThread() {
    std::vector<std::uint8_t> chunk;
    while (!FStop) {
        {
            std::unique_lock lock(FOutputLock);
            FOutputWake.wait_for(lock, std::chrono::milliseconds(250),
                                 [this] { return FStop || FTxCount > 0; });
            if (FStop) break;
            if (FTxCount == 0) continue;
            const std::size_t tail = FTxHead;
            const std::size_t n = std::min(FTxCount, FTxRing.size() - tail);
            chunk.assign(FTxRing.begin() + static_cast<std::ptrdiff_t>(tail),
                         FTxRing.begin() + static_cast<std::ptrdiff_t>(tail + n));
            // The write itself runs unlocked, so queuing never waits for it.
            FWriting = true;
        }
        std::size_t written = 0;
        try {
            written = FLayer->Write(chunk.data(), chunk.size());
        } catch (const EPortException&) {
            written = chunk.size();  // refused outright: the bytes cannot be sent
        }
        if (FLayer->Vanished()) written = chunk.size();
        {
            std::lock_guard lock(FOutputLock);
            FWriting = false;
            FTxHead = (FTxHead + written) % FTxRing.size();
            FTxCount -= written;
            FWriteDone.notify_all();
        }
        if (written < chunk.size()) FLayer->WaitWritable(kDispatchIntervalMs);
    }
}

} // namespace volmar
