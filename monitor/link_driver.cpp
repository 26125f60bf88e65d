// The link between the port, the receive buffer and the receiver: bytes are
// moved and work is deferred to the engine's own queue, so the receiver runs
// one command at a time, in order, after the port's handler has returned.
#include <QCoreApplication>

#include <algorithm>

#include "dataport/str_format.h"
#include "monitor/monitor.h"
#include "monitor/reply_gate.h"

namespace volmar {

namespace {
// The line-error code whose event-log row reads "Tx queue is full".
constexpr std::uint16_t kTxQueueFull = 8;
} // namespace

void TMonitor::BindComponents() {
    FComPortPlus.SetBaud(1200);
    FComPortPlus.SetParity(pOdd);
    FComPortPlus.SetAutoOpen(false);
    FComPortPlus.SetTraceName("VolmarSim.Trc");
    FComPortPlus.SetLogName("VolmarSim.Log");
    FComPortPlus.SetTerminator("^M^J");
    FComPortPlus.SetRxTxDelay(0);
    FComPortPlus.OnTriggerAvail = [this](TCustomComPort* CP, std::uint16_t Count) {
        FReports.GuardedLink([&] { ComPortPlusTriggerAvail(CP, Count); });
    };
    FComPortPlus.OnTriggerLineError = [this](TCustomComPort* CP, std::uint16_t Error, bool Break) {
        FReports.GuardedLink([&] { ComPortPlusTriggerLineError(CP, Error, Break); });
    };
    FComPortPlus.OnTriggerModemStatus = [this](TCustomComPort* CP) {
        FReports.GuardedLink([&] { ComPortPlusTriggerModemStatus(CP); });
    };
    FComPortPlus.OnDeviceLost = [this](TCustomComPort* CP) {
        FReports.GuardedLink([&] { ComPortPlusDeviceLost(CP); });
    };
    SetPortErrorHandler([this](const std::exception& Error) {
        FReports.ReportQuietly(PlainErrorText(Error));
    });

    FVolmar.SetComPort(&FComPortPlus);
    FVolmar.OnDPMessage = [this](TVolmarDataport* Sender, PDPMessage Msg, bool WasInError,
                                 TAcception& Accepted) {
        ReleaseHeldFrame();
        if (FReplyGate)
            if (const std::optional<TAcception> instead = FReplyGate->AnswerInstead(*Msg))
                FInterpreter.ForceNextAnswer(*instead);
        FInterpreter.VolmarDPMessage(Sender, Msg, WasInError, Accepted);
        HoldFrame(*Msg, Accepted);
    };
    FVolmar.OnDPInvMessage = [this](TVolmarDataport* Sender, PDPMessage Msg, bool WasInError,
                                    TAcception& Accepted) {
        ReleaseHeldFrame();
        FInterpreter.VolmarDPInvMessage(Sender, Msg, WasInError, Accepted);
        emit MessageReceived(*Msg, Accepted);
    };
    FVolmar.OnDPReset = [this](TVolmarDataport* Sender) { VolmarDPReset(Sender); };
    FVolmar.OnTimeout = [this](TVolmarDataport* Sender, TTimeoutType Timeout) {
        VolmarTimeout(Sender, Timeout);
    };
    FVolmar.OnStateChange = [this](TVolmarDataport* Sender, TDPState State, std::int32_t Count) {
        VolmarStateChange(Sender, State, Count);
    };
    FVolmar.OnReplyDropped = [this](TVolmarDataport*) { LogLineError(kTxQueueFull); };
}

void TMonitor::SetReplyGate(IReplyGate* Gate) {
    FReplyGate = Gate;
    if (!Gate) {
        FVolmar.OnFilterReply = nullptr;
        return;
    }
    FVolmar.OnFilterReply = [Gate](TVolmarDataport* Sender, std::uint8_t& Byte, TReplyCause Cause) {
        return Gate->Pass(Byte, Cause, Sender->Msg().Code());
    };
}

void TMonitor::PostCommand(TUserCommand Command, std::intptr_t Argument) {
    QCoreApplication::postEvent(this, new TUserEvent(Command, Argument));
}

bool TMonitor::event(QEvent* Event) {
    if (Event->type() == TUserEvent::EventType()) {
        const auto* command = static_cast<TUserEvent*>(Event);
        FReports.GuardedLink([&] { WMUser(command->Command(), command->Argument()); });
        return true;
    }
    return QObject::event(Event);
}

void TMonitor::WMUser(int Command, std::intptr_t Argument) {
    switch (Command) {
    case ucResetDataport: FVolmar.ResetReceiver(); break;
    case ucProcessRx:
        // A burst longer than the buffer waits in the port and is taken
        // in turn: the port announces it again only when more bytes come.
        do {
            // A frame that begins now began with this batch.
            if (FVolmar.State() == dpsWaitHeader || FVolmar.State() == dpsWaitHeaderNak)
                FFrameFirstUs = FBatchMonoUs;
            if (FRxBuffer) FVolmar.ProcessBuffer(*FRxBuffer);
            ReleaseHeldFrame();
            FlushDiscarded();
        } while (TakeFromPort() > 0);
        break;
    case ucSpeedSignal:
        SetSpeedSignal(SpeedSignalPresent());
        if (FAutoBaudActive) FollowSpeedSignal(FSpeedSignal);
        break;
    case ucArmSpeedSignal: ArmModemTrigger(true); break;
    case ucUpdateMeters: FView.UpdateMeters(static_cast<int>(Argument)); break;
    case ucLineError: {
        if (!FLineErrorsAt.empty()) FLineErrorsAt.pop_front();
        const auto code = static_cast<std::uint16_t>(Argument & 0xFFFF);
        LogLineError(code);
        FVolmar.SetLineError(code);
        break;
    }
    default: break;
    }
}

void TMonitor::LogLineError(std::uint16_t Code) {
    FLogs.LogLineError(Code);
    emit LineErrorLogged(Code);
}

void TMonitor::ComPortPlusTriggerAvail(TCustomComPort*, std::uint16_t Count) {
    if (Count > 0) {
        const std::int64_t now = MonoMicroseconds();
        // Measured once a read, never per byte; only a frame under way has a gap.
        const TDPState state = FVolmar.State();
        if (state == dpsWaitLength || state == dpsWaitData || state == dpsWaitCks)
            FFrameGapUs = std::max(FFrameGapUs, now - FBatchMonoUs);
        FBatchMonoUs = now;
        emit BytesArrived();
    }
    TakeFromPort();
    PostCommand(ucProcessRx);
}

int TMonitor::TakeFromPort() {
    if (!FRxBuffer) return 0;
    // What does not fit stays in the port: the buffer never drops a byte.
    const auto room = static_cast<std::uint64_t>(FRxBuffer->Size() - 1 - FRxBuffer->Count());
    std::uint64_t n = std::min<std::uint64_t>(room, FComPortPlus.InBuffAnnounced());
    if (!FLineErrorsAt.empty())
        n = std::min(n, std::max(FLineErrorsAt.front(), FBytesTaken) - FBytesTaken);
    for (std::uint64_t i = 0; i < n; ++i) FRxBuffer->Put(FComPortPlus.GetChar());
    FBytesTaken += n;
    return static_cast<int>(n);
}

void TMonitor::ComPortPlusTriggerLineError(TCustomComPort* CP, std::uint16_t Error, bool) {
    // The bytes announced before the error are still older than it, even
    // those the buffer had no room for yet.
    FLineErrorsAt.push_back(FBytesTaken + CP->InBuffAnnounced());
    PostCommand(ucLineError, Error);
    ArmLineTrigger(true);
}

void TMonitor::VolmarDPReset(TVolmarDataport*) {
    FLogs.DebugLog("Dataport Reset");
    emit ReceiverReset();
}

void TMonitor::VolmarTimeout(TVolmarDataport* Sender, TTimeoutType Timeout) {
    const std::string_view caption = TimeoutNames[Timeout];
    if (Timeout == toInterChar) {
        const TDPState state = Sender->State();
        FLogs.DebugLog(caption, StrFormat("At stage %d (%s)", static_cast<int>(state),
                                          std::string(DPStateNames[state]).c_str()));
    } else {
        FLogs.DebugLog(caption);
    }
    emit ReceiverTimedOut(Timeout);
}

void TMonitor::VolmarStateChange(TVolmarDataport* Sender, TDPState State, std::int32_t Count) {
    // Every abandoned frame ends here, its header still in the record.
    if (State == dpsWaitQuiet) FInterpreter.NoteBrokenFrame(Sender->Msg().Header);
    const std::string name(DPStateNames[State]);
    if (State == dpsWaitData)
        FLogs.DebugLog("Dataport State Changed",
                       StrFormat("%s (%d remaining)", name.c_str(), Count));
    else
        FLogs.DebugLog("Dataport State Changed", name);
}

void TMonitor::CountRx() {
    const std::string text =
        StrFormat("There are %d char(s) in Rx buffer", FRxBuffer ? FRxBuffer->Count() : 0);
    FReports.ShowBox(bkInformation, QString::fromLatin1(text.c_str()));
}

void TMonitor::ResetRx() { if (FRxBuffer) FRxBuffer->Reset(); }

void TMonitor::ResetSM() { PostCommand(ucResetDataport); }

} // namespace volmar
