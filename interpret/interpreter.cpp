#include "interpret/interpreter.h"

#include <algorithm>
#include <utility>

#include "dataport/str_format.h"
#include "serial/byte_text.h"

namespace volmar {

const std::array<std::string_view, 8> DataportSupportNames = {
    "Machine Display Control", "Linked Jackpots",      "Cash to Cashbox",
    "Cash Dumps",              "Payout Error Reports", "Error Reports",
    "Payout Level Reports",    "Refills Required Reports",
};

const std::array<std::string_view, 7> AMCSupportNames = {
    "Enter Reject Mode", "Enter Payout Mode", "Enter Refill Mode", "Enter Bookeeping Mode",
    "Enter Sleep Mode",  "Enter Alarm Mode",  "Enter Dump Mode",
};

TInterpreter::TInterpreter(TCounters& Counters, TLogs& Logs, IMachineView& View)
    : FCounters(Counters), FLogs(Logs), FView(View) {}

TAcception TInterpreter::InterpretMessage(const TDPMessage* pDPMsg, bool WasInError) {
    const TDPMessage& msg = *pDPMsg;
    std::string text;
    TAcception result = acRejected;
    FLastRepeat = false;
    const bool forced = std::exchange(FForced, false);
    if (msg.Valid && forced) {
        result = FForcedAnswer;
        // A resend of what was acted on stays a repeat after the refusal;
        // anything else was not decided, and will be when it comes again.
        if (msg.Retry && IsRepeat(msg, WasInError))
            FRefusedRepeat = true;
        else
            FDecided.Known = false;
        CountMessage(msg.Code(), msg.Retry);
    } else if (msg.Valid) {
        if (msg.Retry && IsRepeat(msg, WasInError)) {
            FLastRepeat = true;
            // Already acted on: answer it again, but never count its money twice.
            result = FDecided.Answer;
        } else {
            switch (msg.MsgClass) {
            case mcSingleByte: result = ValidateSingleByte(msg.Code()); break;
            case mcHeaderOnly: result = ValidateHeaderOnly(msg); break;
            case mcOneDataByte: result = ValidateOneDataByte(msg, text); break;
            case mcTwoDataBytes: result = ValidateTwoDataBytes(msg, text); break;
            case mcVariableLength: result = ValidateVariableLength(msg, text); break;
            default: result = acRejected; break;
            }
            RememberDecided(msg, result);
        }
        CountMessage(msg.Code(), msg.Retry);
    }
    FLogs.LogMessage(pDPMsg, result, text);
    FLastAcception = result;
    FLastText = std::move(text);
    return result;
}

// The machine resends (bit 7 set) a message that got a NAK or no answer. It
// is a repeat of something already acted on only when our answer to it was
// sent but lost: then it carries the same code and data as the last decided
// message, that message was not NAKed, and no broken first transmission
// (bit 7 clear) has come since. Any other resend is the first copy we can
// read (the original never arrived, or arrived broken) and is decided and
// acted on like a first transmission. A broken resend changes nothing: the
// machine is still resending the same message. First transmissions are
// always decided, even when equal to the last one (two coins of one value).
bool TInterpreter::IsRepeat(const TDPMessage& Msg, bool WasInError) const {
    if (!FDecided.Known || FBrokenFirstSinceDecided) return false;
    if ((WasInError && !FRefusedRepeat) || FDecided.Answer == acRejected) return false;
    const std::uint8_t length = std::min<std::uint8_t>(Msg.Length, kMaxDataLength);
    return Msg.Code() == FDecided.Code && length == FDecided.Length &&
           std::equal(Msg.Data, Msg.Data + length, FDecided.Data.begin());
}

void TInterpreter::RememberDecided(const TDPMessage& Msg, TAcception Answer) {
    FDecided.Known = true;
    FDecided.Code = Msg.Code();
    FDecided.Length = std::min<std::uint8_t>(Msg.Length, kMaxDataLength);
    std::copy(Msg.Data, Msg.Data + FDecided.Length, FDecided.Data.begin());
    FDecided.Answer = Answer;
    FBrokenFirstSinceDecided = false;
    FRefusedRepeat = false;
}

void TInterpreter::NoteBrokenFrame(std::uint8_t Header) {
    if ((Header & 0x80) == 0) FBrokenFirstSinceDecided = true;
}

void TInterpreter::VolmarDPMessage(TVolmarDataport*, PDPMessage pDPMsg, bool WasInError,
                                   TAcception& Accepted) {
    Accepted = InterpretMessage(pDPMsg, WasInError);
    // The data bytes up to the first zero, as text; the data block always
    // holds a zero after the last data byte. Control bytes are shown in the
    // caret notation so that a CR or LF cannot split the debug line.
    const std::string data = BytesToControl(reinterpret_cast<const char*>(pDPMsg->Data));
    FLogs.DebugLog("OnDPMessage",
                   StrFormat("Type:%s Hdr:%02Xh Data:%d %s - %s",
                             MsgClassNames[pDPMsg->MsgClass].data(), pDPMsg->Header,
                             pDPMsg->Length, data.c_str(),
                             AcceptionNames[Accepted <= acNotSupported ? Accepted : acNotSupported]
                                 .data()));
}

void TInterpreter::VolmarDPInvMessage(TVolmarDataport*, PDPMessage pDPMsg, bool WasInError,
                                      TAcception& Accepted) {
    Accepted = InterpretMessage(pDPMsg, WasInError);
    FLogs.DebugLog("OnDPInvMessage",
                   StrFormat("Type:%d Hdr:%02Xh - %s", pDPMsg->MsgClass, pDPMsg->Header,
                             AcceptionNames[Accepted <= acNotSupported ? Accepted : acNotSupported]
                                 .data()));
}

void TInterpreter::CountMessage(std::uint8_t Code, bool Retry) {
    TCodeCount& count = FCounters.Codes[Code & 0x7F];
    std::int32_t& field = Retry ? count.Retries : count.Messages;
    AddWrapped(field, 1);
    FLogs.ShowMessageCount(Retry ? 3 : 2, (Code & 0x7F) + 1, field);
}

void TInterpreter::SetValuesMode(bool BCDValues) {
    FBCDValues = BCDValues;
    FView.ShowValuesMode(BCDValues);
}

TAcception TInterpreter::ValidateSingleByte(std::uint8_t Code) {
    if (ClassifyHeader(Code).MsgClass != mcSingleByte) return acNotSupported;
    switch (Code) {
    case 0x01: case 0x02: case 0x03: case 0x04:
    case 0x07: case 0x08:
    case 0x16: case 0x17: case 0x18: case 0x19: case 0x1A:
        return acNotSupported;
    case 0x05: return acAccepted;
    default: return acRejected;  // "Unused" codes and the three reply bytes
    }
}

TAcception TInterpreter::ValidateHeaderOnly(const TDPMessage& Msg) {
    const std::uint8_t code = Msg.Code();
    if (code == 0x0A) return DecodeTakeOneCredit();
    if (code == 0x1E || code == 0x1F) return DecodeAttendant(code);
    if (code >= 0x20 && code <= 0x2B) return DecodeCoinIn(code);
    if (code >= 0x2C && code <= 0x37) return DecodeToCashbox(code);
    if (code >= 0x38 && code <= 0x43) return DecodeRefill(code);
    if (code >= 0x44 && code <= 0x4F) return DecodeCoinOut(code);
    if (code >= 0x50 && code <= 0x5B) return DecodeDump(code);
    return acNotSupported;  // 1Ch, 1Dh, the linked jackpot messages
}

TAcception TInterpreter::ValidateOneDataByte(const TDPMessage& Msg, std::string& Text) {
    switch (Msg.Code()) {
    case 0x62: return DecodeTakeCredits(Msg, Text);
    case 0x66: case 0x67: return acRejected;
    default: return acNotSupported;
    }
}

TAcception TInterpreter::ValidateTwoDataBytes(const TDPMessage& Msg, std::string& Text) {
    switch (Msg.Code()) {
    case 0x69: return DecodeGame(Msg, Text);
    case 0x6B: return DecodeCreditValue(Msg, Text);
    case 0x6C: return DecodeWinReport(Msg, Text);
    case 0x6E: return DecodeSwitchStates(Msg, Text);
    default: return acNotSupported;
    }
}

TAcception TInterpreter::ValidateVariableLength(const TDPMessage& Msg, std::string& Text) {
    switch (Msg.Code()) {
    case 0x70: return DecodePowerOn(Msg, Text);
    case 0x74: return DecodeCancelledCredits(Msg, Text);
    case 0x77: return DecodeSendData(Msg, Text);
    case 0x78: case 0x79: case 0x7F: return acRejected;
    default: return acNotSupported;
    }
}

} // namespace volmar
