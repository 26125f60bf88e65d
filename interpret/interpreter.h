// Decides the answer to every message the receiver delivers, counts it,
// applies it to the totals and the machine panel, and logs it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "dataport/receiver.h"
#include "interpret/counters.h"
#include "interpret/logs.h"
#include "interpret/machine_view.h"

namespace volmar {

class TInterpreter {
public:
    TInterpreter(TCounters& Counters, TLogs& Logs, IMachineView& View);

    TAcception InterpretMessage(const TDPMessage* pDPMsg, bool WasInError);
    // The answer of the previous InterpretMessage call, invalid messages included.
    TAcception LastAcception() const { return FLastAcception; }
    // What the previous InterpretMessage call decoded from the data (empty
    // when nothing was decoded, or for a repeat).
    const std::string& LastText() const { return FLastText; }
    // The next valid message is answered Answer (NAK or ESC) whatever the
    // table says, and not acted on; its resend is decided afresh.
    void ForceNextAnswer(TAcception Answer) {
        FForced = true;
        FForcedAnswer = Answer;
    }
    // The previous message was a resend of one already acted on.
    bool LastWasRepeat() const { return FLastRepeat; }

    // A frame the receiver abandoned (bad checksum, line error, impossible
    // length, gap). Call it from the receiver's OnStateChange whenever the
    // state becomes dpsWaitQuiet, with the receiver's Msg().Header: a broken
    // first transmission means the next resend was never acted on.
    void NoteBrokenFrame(std::uint8_t Header);

    // The receiver's OnDPMessage and OnDPInvMessage handlers.
    void VolmarDPMessage(TVolmarDataport* Sender, PDPMessage pDPMsg, bool WasInError,
                         TAcception& Accepted);
    void VolmarDPInvMessage(TVolmarDataport* Sender, PDPMessage pDPMsg, bool WasInError,
                            TAcception& Accepted);

    void CountMessage(std::uint8_t Code, bool Retry);

    // True: four-byte values arrive as BCD; false: plain big-endian numbers.
    bool BCDValues() const { return FBCDValues; }
    void SetValuesMode(bool BCDValues);

    // Four data bytes, as BCD or as a plain number by the values mode.
    std::int32_t DecodeValue32(const std::uint8_t* Data) const;

private:
    TAcception ValidateSingleByte(std::uint8_t Code);
    TAcception ValidateHeaderOnly(const TDPMessage& Msg);
    TAcception ValidateOneDataByte(const TDPMessage& Msg, std::string& Text);
    TAcception ValidateTwoDataBytes(const TDPMessage& Msg, std::string& Text);
    TAcception ValidateVariableLength(const TDPMessage& Msg, std::string& Text);

    TAcception DecodeTakeOneCredit();
    TAcception DecodeAttendant(std::uint8_t Code);
    TAcception DecodeCoinIn(std::uint8_t Code);
    TAcception DecodeToCashbox(std::uint8_t Code);
    TAcception DecodeRefill(std::uint8_t Code);
    TAcception DecodeCoinOut(std::uint8_t Code);
    TAcception DecodeDump(std::uint8_t Code);
    TAcception DecodeCoinMovement(std::uint8_t Code, std::uint8_t FirstCode, int MeterIndex);
    TAcception DecodeTakeCredits(const TDPMessage& Msg, std::string& Text);
    TAcception DecodeGame(const TDPMessage& Msg, std::string& Text);
    TAcception DecodeCreditValue(const TDPMessage& Msg, std::string& Text);
    TAcception DecodeWinReport(const TDPMessage& Msg, std::string& Text);
    TAcception DecodeSwitchStates(const TDPMessage& Msg, std::string& Text);
    TAcception DecodePowerOn(const TDPMessage& Msg, std::string& Text);
    TAcception DecodeCancelledCredits(const TDPMessage& Msg, std::string& Text);
    TAcception DecodeSendData(const TDPMessage& Msg, std::string& Text);

    void AddToTotal(int MeterIndex, std::int64_t Amount);

    bool IsRepeat(const TDPMessage& Msg, bool WasInError) const;
    void RememberDecided(const TDPMessage& Msg, TAcception Answer);

    // The last valid message that was decided rather than taken for a repeat.
    struct TDecidedMessage {
        bool Known = false;
        std::uint8_t Code = 0;
        std::uint8_t Length = 0;
        std::array<std::uint8_t, kMaxDataLength> Data{};
        TAcception Answer = acNotSupported;
    };

    TCounters& FCounters;
    TLogs& FLogs;
    IMachineView& FView;
    TAcception FLastAcception = acNotSupported;
    std::string FLastText;
    bool FLastRepeat = false;
    bool FForced = false;
    // The last answer was a forced refusal of a repeat: the machine's next
    // resend is still the message already acted on.
    bool FRefusedRepeat = false;
    TAcception FForcedAnswer = acRejected;
    TDecidedMessage FDecided;
    bool FBrokenFirstSinceDecided = false;
    bool FBCDValues = true;
};

} // namespace volmar
