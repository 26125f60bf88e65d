// TVolmarDataport: frames the machine's byte stream into dataport messages,
// answers each good one with ACK, NAK or ESC, and recovers from broken or
// interrupted frames with three timers on one port timer trigger.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "dataport/dataport_port.h"
#include "dataport/message.h"
#include "dataport/serial_buffer.h"

namespace volmar {

class TVolmarDataport;

using TDPMessageEvent = std::function<void(TVolmarDataport* Sender, PDPMessage pDPMsg,
                                           bool WasInError, TAcception& Accepted)>;
using TDPTimeoutEvent = std::function<void(TVolmarDataport* Sender, TTimeoutType Timeout)>;
using TOnStateChangeEvent =
    std::function<void(TVolmarDataport* Sender, TDPState State, std::int32_t Count)>;
using TNotifyEvent = std::function<void(TVolmarDataport* Sender)>;

// Why a frame was abandoned.
enum TFrameFault : std::uint8_t {
    ffNone,
    ffBadChecksum,
    ffGap,          // the machine paused inside the frame
    ffOverLong,     // a length byte over 20
    ffZeroLength,
    ffLineError,    // a line error spoiled it
};
// Why a reply byte went out.
enum TReplyCause : std::uint8_t { rcAnswer, rcFirstMessageNak, rcSilenceNak };

using TFrameAbandonedEvent = std::function<void(TVolmarDataport* Sender, TFrameFault Fault)>;
using TReplyEvent =
    std::function<void(TVolmarDataport* Sender, std::uint8_t Byte, TReplyCause Cause, bool Sent)>;
using TByteEvent = std::function<void(TVolmarDataport* Sender, std::uint8_t Byte)>;
// May change a reply byte before it goes out; false: it is not sent.
using TReplyFilter =
    std::function<bool(TVolmarDataport* Sender, std::uint8_t& Byte, TReplyCause Cause)>;

// Timer lengths in port ticks of 55 ms.
inline constexpr std::uint32_t kFirstMessageTicks = 18;
inline constexpr std::uint32_t kInterCharTicks = 1;
inline constexpr std::uint32_t kSilenceTicks = 9;

class TVolmarDataport {
public:
    TVolmarDataport();
    virtual ~TVolmarDataport();
    TVolmarDataport(const TVolmarDataport&) = delete;
    TVolmarDataport& operator=(const TVolmarDataport&) = delete;

    // Binds the port's timer notification to TriggerTimer; nullptr unbinds
    // the previous port. The owner clears it before it destroys the port.
    void SetComPort(IDataportPort* Port);
    IDataportPort* ComPort() const { return FComPort; }

    std::string Version() const { return "1.01"; }
    void SetVersion(const std::string&) {}

    std::uint16_t TimerHandle() const { return FTimerHandle; }
    void SetTimerHandle(std::uint16_t Handle) { FTimerHandle = Handle; }

    void ResetReceiver();
    void ProcessBuffer(TSerialBuffer& Buffer);
    // Records a line error unless one is already recorded.
    void SetLineError(std::uint16_t Code);

    TDPState State() const { return FState; }
    const TDPMessage& Msg() const { return FMsg; }
    TTimeoutType TimerKind() const { return FTimerKind; }
    // True when the last valid message was answered acRejected.
    bool WasInError() const { return FWasInError; }
    std::int32_t Remaining() const { return FRemaining; }
    std::uint8_t RunningSum() const { return FRunningSum; }
    bool CharTimerPending() const { return FCharTimerPending; }
    bool TimerIdle() const { return FTimerIdle; }
    // Replies the open port refused (its output ring full); each is dropped.
    std::uint32_t RepliesDropped() const { return FRepliesDropped; }

    // The handler bound to the port's timer notification.
    virtual void TriggerTimer(IDataportPort* CP, std::uint16_t TriggerHandle);

    TDPMessageEvent OnDPInvMessage;
    TDPMessageEvent OnDPMessage;
    TNotifyEvent OnDPReset;
    TDPTimeoutEvent OnTimeout;
    TOnStateChangeEvent OnStateChange;
    // The port refused a reply, the first time since one was last sent.
    TNotifyEvent OnReplyDropped;
    // For those who watch the line: a frame given up (its bytes in
    // FrameBytes), every reply byte tried, and every byte thrown away while
    // waiting for quiet.
    TFrameAbandonedEvent OnFrameAbandoned;
    TReplyEvent OnReply;
    TByteEvent OnQuietByte;
    // Sees every reply byte first; framing goes on as if it had been sent.
    TReplyFilter OnFilterReply;

    // The bytes of the frame being received or just ended, header first.
    const std::uint8_t* FrameBytes() const { return FFrame.data(); }
    std::size_t FrameSize() const { return FFrameSize; }

protected:
    virtual void StateChanged(TDPState NewState);
    virtual void ClearMessage(TDPMessage& Msg);
    virtual void EnterWaitHeaderNak();
    virtual void EnterWaitHeader();
    virtual void EnterWaitLength();
    virtual void EnterWaitData();
    virtual void EnterWaitCks();
    virtual void EnterWaitQuiet();
    virtual void RxWaitHeaderNak(std::uint8_t b);
    virtual void RxWaitHeader(std::uint8_t b);
    virtual void RxWaitLength(std::uint8_t b);
    virtual void RxWaitData(std::uint8_t b);
    virtual void RxWaitCks(std::uint8_t b);
    virtual void RxWaitQuiet(std::uint8_t b);

private:
    void SetState(TDPState NewState);
    void ProcessByte(std::uint8_t b);
    void DeliverMessage();
    void SendByte(std::uint8_t b, TReplyCause Cause = rcAnswer);
    void Abandon(TFrameFault Fault);
    void StartTimer(TTimeoutType Kind, std::uint32_t Ticks);
    void StopTimer();

    IDataportPort* FComPort = nullptr;
    TDPState FState = dpsWaitHeaderNak;
    std::array<std::uint8_t, kDataBlockSize> FData{};
    TDPMessage FMsg;
    std::uint16_t FTimerHandle = 0;
    TTimeoutType FTimerKind = toFirstMessage;
    bool FWasInError = false;
    std::int32_t FRemaining = 0;
    std::uint8_t FRunningSum = 0;
    bool FCharTimerPending = false;
    bool FTimerIdle = true;
    std::uint32_t FRepliesDropped = 0;
    bool FDropping = false;  // the last reply tried was refused
    std::array<std::uint8_t, kMaxFrameSize> FFrame{};
    std::size_t FFrameSize = 0;
};

} // namespace volmar
