#include "dataport/receiver.h"

#include <exception>

namespace volmar {

TVolmarDataport::TVolmarDataport() {
    FMsg.Data = FData.data();
    ClearMessage(FMsg);
}

TVolmarDataport::~TVolmarDataport() {
    if (FComPort) FComPort->BindTimerNotification({});
}

void TVolmarDataport::SetComPort(IDataportPort* Port) {
    if (Port == FComPort) return;
    if (FComPort) FComPort->BindTimerNotification({});
    FComPort = Port;
    if (FComPort) {
        FComPort->BindTimerNotification(
            [this](IDataportPort* CP, std::uint16_t Handle) { TriggerTimer(CP, Handle); });
    }
}

void TVolmarDataport::ResetReceiver() {
    ClearMessage(FMsg);
    SetState(dpsWaitHeaderNak);
    if (OnDPReset) OnDPReset(this);
}

void TVolmarDataport::ProcessBuffer(TSerialBuffer& Buffer) {
    std::uint8_t b = 0;
    while (Buffer.Get(b)) {
        ProcessByte(b);
        if (FComPort && FComPort->Open()) FComPort->ProcessCommunications();
    }
    if (FCharTimerPending) {
        FCharTimerPending = false;
        StartTimer(toInterChar, kInterCharTicks);
    }
}

void TVolmarDataport::SetLineError(std::uint16_t Code) {
    if (FMsg.LineError == 0) FMsg.LineError = Code;
}

void TVolmarDataport::SetState(TDPState NewState) {
    if (NewState == FState && NewState != dpsWaitHeaderNak) return;
    FState = NewState;
    StateChanged(NewState);
}

void TVolmarDataport::StateChanged(TDPState NewState) {
    switch (NewState) {
    case dpsWaitHeaderNak: EnterWaitHeaderNak(); break;
    case dpsWaitHeader: EnterWaitHeader(); break;
    case dpsWaitLength: EnterWaitLength(); break;
    case dpsWaitData: EnterWaitData(); break;
    case dpsWaitCks: EnterWaitCks(); break;
    case dpsWaitQuiet: EnterWaitQuiet(); break;
    }
    if (OnStateChange) OnStateChange(this, FState, FRemaining);
}

void TVolmarDataport::ClearMessage(TDPMessage& Msg) { volmar::ClearMessage(Msg); }

void TVolmarDataport::EnterWaitHeaderNak() {
    EnterWaitHeader();
    StartTimer(toFirstMessage, kFirstMessageTicks);
}

void TVolmarDataport::EnterWaitHeader() {
    ClearMessage(FMsg);
    FCharTimerPending = false;
}

void TVolmarDataport::EnterWaitLength() { FCharTimerPending = true; }

void TVolmarDataport::EnterWaitData() {
    FRemaining = FMsg.Length;
    FCharTimerPending = true;
}

void TVolmarDataport::EnterWaitCks() { FCharTimerPending = true; }

void TVolmarDataport::EnterWaitQuiet() {
    StartTimer(toSilence, kSilenceTicks);
    FCharTimerPending = false;
}

void TVolmarDataport::ProcessByte(std::uint8_t b) {
    if (FState == dpsWaitHeaderNak || FState == dpsWaitHeader) FFrameSize = 0;
    if (FState != dpsWaitQuiet && FFrameSize < FFrame.size()) FFrame[FFrameSize++] = b;
    switch (FState) {
    case dpsWaitHeaderNak: RxWaitHeaderNak(b); break;
    case dpsWaitHeader: RxWaitHeader(b); break;
    case dpsWaitLength: RxWaitLength(b); break;
    case dpsWaitData: RxWaitData(b); break;
    case dpsWaitCks: RxWaitCks(b); break;
    case dpsWaitQuiet:
        StartTimer(toSilence, kSilenceTicks);
        RxWaitQuiet(b);
        if (OnQuietByte) OnQuietByte(this, b);
        break;
    }
}

void TVolmarDataport::RxWaitHeaderNak(std::uint8_t b) { RxWaitHeader(b); }

void TVolmarDataport::RxWaitHeader(std::uint8_t b) {
    StopTimer();
    FMsg.Valid = false;
    FMsg.Retry = (b & 0x80) != 0;
    FMsg.Header = b;
    FRunningSum = b;

    const TCodeShape shape = ClassifyHeader(b);
    FMsg.MsgClass = shape.MsgClass;
    TDPState next = dpsWaitHeader;
    switch (shape.MsgClass) {
    case mcSingleByte:
        FMsg.Valid = true;
        DeliverMessage();
        next = dpsWaitHeader;
        break;
    case mcHeaderOnly: next = dpsWaitCks; break;
    case mcOneDataByte:
    case mcTwoDataBytes:
        FMsg.Length = shape.DataLength;
        FRemaining = shape.DataLength;
        next = dpsWaitData;
        break;
    default: next = dpsWaitLength; break;
    }
    if (next != FState) SetState(next);
}

void TVolmarDataport::RxWaitLength(std::uint8_t b) {
    StopTimer();
    FRunningSum = static_cast<std::uint8_t>(FRunningSum + b);
    FMsg.Length = b;
    // A zero length is as impossible as one above 20: the frame is abandoned
    // and the silence timeout answers it with a NAK. Remaining only ever
    // counts bytes that fit the record.
    if (b >= 1 && b <= kMaxDataLength) {
        FRemaining = b;
        SetState(dpsWaitData);
    } else {
        FRemaining = 0;
        Abandon(b == 0 ? ffZeroLength : ffOverLong);
    }
}

void TVolmarDataport::RxWaitData(std::uint8_t b) {
    StopTimer();
    FRunningSum = static_cast<std::uint8_t>(FRunningSum + b);
    if (FRemaining > 0 && FRemaining <= FMsg.Length && FMsg.Length <= kMaxDataLength) {
        FMsg.Data[FMsg.Length - FRemaining] = b;
        FRemaining -= 1;
        if (FRemaining > 0)
            FCharTimerPending = true;
        else
            SetState(dpsWaitCks);
    } else {
        // Unreachable through the byte handlers; never stay in this state.
        Abandon(ffOverLong);
    }
}

void TVolmarDataport::RxWaitCks(std::uint8_t b) {
    StopTimer();
    FMsg.Checksum = b;
    FMsg.Valid = (b == FRunningSum);
    DeliverMessage();
}

void TVolmarDataport::RxWaitQuiet(std::uint8_t) { FCharTimerPending = false; }

void TVolmarDataport::DeliverMessage() {
    if (FMsg.LineError != 0) {
        FMsg.Valid = false;
        FMsg.MsgClass = mcInvalid;
    }
    if (!FMsg.Valid) {
        TAcception scratch = acNotSupported;
        if (OnDPInvMessage) OnDPInvMessage(this, &FMsg, FWasInError, scratch);
        Abandon(FMsg.LineError != 0 ? ffLineError : ffBadChecksum);
        return;
    }
    TAcception accepted = acNotSupported;
    if (OnDPMessage) OnDPMessage(this, &FMsg, FWasInError, accepted);
    SendByte(ReplyByte(accepted));
    FWasInError = (accepted == acRejected);
    SetState(dpsWaitHeader);
}

void TVolmarDataport::Abandon(TFrameFault Fault) {
    if (OnFrameAbandoned) OnFrameAbandoned(this, Fault);
    SetState(dpsWaitQuiet);
}

void TVolmarDataport::SendByte(std::uint8_t b, TReplyCause Cause) {
    if (!FComPort || !FComPort->Open()) return;
    if (OnFilterReply && !OnFilterReply(this, b, Cause)) return;
    try {
        FComPort->PutChar(b);
        FDropping = false;
        if (OnReply) OnReply(this, b, Cause, true);
        return;
    } catch (const std::exception&) {
        // The machine has stopped reading and the output ring is full. The
        // reply is lost as on a noisy line: the machine's reply timeout
        // resends, so framing goes on as if it had been sent.
        ++FRepliesDropped;
    }
    if (OnReply) OnReply(this, b, Cause, false);
    if (FDropping) return;
    FDropping = true;
    if (OnReplyDropped) OnReplyDropped(this);
}

void TVolmarDataport::StartTimer(TTimeoutType Kind, std::uint32_t Ticks) {
    FTimerKind = Kind;
    if (FComPort && FTimerHandle != 0) {
        FTimerIdle = false;
        FComPort->SetTimerTrigger(FTimerHandle, Ticks, true);
    }
}

void TVolmarDataport::StopTimer() {
    if (FComPort && FTimerHandle != 0) FComPort->SetTimerTrigger(FTimerHandle, 0, false);
    FTimerIdle = true;
}

void TVolmarDataport::TriggerTimer(IDataportPort*, std::uint16_t TriggerHandle) {
    if (TriggerHandle != FTimerHandle || FTimerIdle) return;
    StopTimer();
    const TTimeoutType kind = FTimerKind;
    if (OnTimeout) OnTimeout(this, kind);
    switch (kind) {
    case toFirstMessage:
        if (FState == dpsWaitHeaderNak) {
            SendByte(kNak, rcFirstMessageNak);
            StartTimer(toFirstMessage, kFirstMessageTicks);
        }
        break;
    case toInterChar:
        if (FState != dpsWaitQuiet) Abandon(ffGap);
        break;
    case toSilence:
        if (FState == dpsWaitQuiet) {
            // Flush first: a NAK queued before the output flush would be
            // discarded with the stale output and never reach the machine.
            if (FComPort && FComPort->Open()) {
                FComPort->FlushInBuffer();
                FComPort->FlushOutBuffer();
            }
            SendByte(kNak, rcSilenceNak);
            SetState(dpsWaitHeader);
        }
        break;
    }
}

} // namespace volmar
