// The decoders: what each accepted message does to the totals and the panel.
#include "dataport/str_format.h"
#include "interpret/interpreter.h"
#include "interpret/machine_values.h"

namespace volmar {

namespace {

std::uint16_t Word16(const std::uint8_t* Data) {
    return static_cast<std::uint16_t>(Data[0] * 256 + Data[1]);
}

std::string Chars(const std::uint8_t* Data, std::size_t Count) {
    std::string text;
    for (std::size_t i = 0; i < Count && Data[i] != 0; ++i) text.push_back(static_cast<char>(Data[i]));
    return text;
}

} // namespace

std::int32_t TInterpreter::DecodeValue32(const std::uint8_t* Data) const {
    if (FBCDValues) {
        std::int32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value * 100 + (Data[i] >> 4) * 10 + (Data[i] & 0x0F);
        return value;
    }
    const std::uint32_t plain = (std::uint32_t{Data[0]} << 24) | (std::uint32_t{Data[1]} << 16) |
                                (std::uint32_t{Data[2]} << 8) | Data[3];
    return static_cast<std::int32_t>(plain);
}

void TInterpreter::AddToTotal(int MeterIndex, std::int64_t Amount) {
    if (std::int32_t* total = MeterTotal(FCounters, MeterIndex)) AddWrapped(*total, Amount);
    FView.PostUpdateMeters(MeterIndex);
}

TAcception TInterpreter::DecodeTakeOneCredit() {
    AddToTotal(miCreditsTaken, 1);
    return acAccepted;
}

TAcception TInterpreter::DecodeAttendant(std::uint8_t Code) {
    FView.SetAttendantLamp(Code == 0x1E);
    return acAccepted;
}

TAcception TInterpreter::DecodeCoinMovement(std::uint8_t Code, std::uint8_t FirstCode,
                                            int MeterIndex) {
    AddToTotal(MeterIndex, kDenominations[static_cast<std::size_t>(Code - FirstCode)]);
    return acAccepted;
}

TAcception TInterpreter::DecodeCoinIn(std::uint8_t Code) {
    return DecodeCoinMovement(Code, 0x20, miIn);
}
TAcception TInterpreter::DecodeToCashbox(std::uint8_t Code) {
    return DecodeCoinMovement(Code, 0x2C, miCashbox);
}
TAcception TInterpreter::DecodeRefill(std::uint8_t Code) {
    return DecodeCoinMovement(Code, 0x38, miRefills);
}
TAcception TInterpreter::DecodeCoinOut(std::uint8_t Code) {
    return DecodeCoinMovement(Code, 0x44, miOut);
}
TAcception TInterpreter::DecodeDump(std::uint8_t Code) {
    return DecodeCoinMovement(Code, 0x50, miDumps);
}

TAcception TInterpreter::DecodeTakeCredits(const TDPMessage& Msg, std::string& Text) {
    const int n = Msg.Data[0];
    AddToTotal(miCreditsTaken, n);
    Text = StrFormat("(%d off)", n);
    return acAccepted;
}

TAcception TInterpreter::DecodeGame(const TDPMessage& Msg, std::string& Text) {
    const int stake = Word16(Msg.Data);
    AddToTotal(miGames, 1);
    AddToTotal(miStakes, stake);
    Text = std::to_string(stake);
    return acAccepted;
}

TAcception TInterpreter::DecodeCreditValue(const TDPMessage& Msg, std::string& Text) {
    const int value = Word16(Msg.Data);
    FView.SetIdentityText(ilCreditValue, StrFormat("%dFt", value));
    Text = StrFormat("(%dFt)", value);
    return acAccepted;
}

TAcception TInterpreter::DecodeWinReport(const TDPMessage& Msg, std::string& Text) {
    const int win = Word16(Msg.Data);
    AddToTotal(miWins, win);
    Text = std::to_string(win) + "Ft";
    return acAccepted;
}

TAcception TInterpreter::DecodeSwitchStates(const TDPMessage& Msg, std::string& Text) {
    const std::uint16_t word = Word16(Msg.Data);
    FView.SetSwitchStates(word);
    Text = StrFormat("%.4Xh", word);
    return acAccepted;
}

TAcception TInterpreter::DecodePowerOn(const TDPMessage& Msg, std::string& Text) {
    const std::uint8_t* d = Msg.Data;
    FView.SetIdentityText(ilManufCode, Chars(d, 3));
    FView.SetIdentityText(ilVersion, Chars(d + 7, 3));
    const std::uint16_t management = Word16(d + 10);
    FView.SetCheckListBits(slAMC, management);
    FView.SetCheckListBits(slDataport, d[12]);
    FView.SetIdentityText(ilCreditValue, StrFormat("%dFt", Word16(d + 13)));
    FView.SetIdentityText(ilTargPercent, StrFormat("%d%%", d[15]));
    const std::uint16_t switches = Word16(d + 16);
    FView.SetSwitchStates(switches);
    FView.SetIdentityText(ilProtoVer, StrFormat("\"%s\" (%2Xh)", Chars(d + 18, 1).c_str(), d[18]));
    SetValuesMode(d[19] != 1);
    Text = StrFormat("(A=%.4Xh O=%.2Xh S=%.4Xh)", management, d[12], switches);
    return acAccepted;
}

// A four-byte amount read as a plain number with its top bit set would be
// negative: it is not a valid count and would take money off a total.
TAcception TInterpreter::DecodeCancelledCredits(const TDPMessage& Msg, std::string& Text) {
    const std::int32_t value = DecodeValue32(Msg.Data);
    if (value < 0) {
        Text = "(invalid value)";
        return acRejected;
    }
    AddToTotal(miCancelledCredits, value);
    Text = StrFormat("(%d off)", value);
    return acAccepted;
}

TAcception TInterpreter::DecodeSendData(const TDPMessage& Msg, std::string& Text) {
    const std::uint8_t type = Msg.Data[0];
    const std::int32_t value = DecodeValue32(Msg.Data + 1);
    if (value < 0) {
        Text = "(invalid value)";
        return acRejected;
    }
    switch (type) {
    case 0:
        Text = StrFormat("(%d off Cash In)", value);
        AddToTotal(miIn, value);
        return acAccepted;
    case 1:
        Text = StrFormat("(%d off Cash Out)", value);
        AddToTotal(miOut, value);
        return acAccepted;
    case 2:
        Text = StrFormat("(%d off Stakes)", value);
        AddToTotal(miStakes, value);
        AddToTotal(miGames, 1);
        return acAccepted;
    case 3:
        Text = StrFormat("(%d off Wins)", value);
        AddToTotal(miWins, value);
        return acAccepted;
    default: Text = StrFormat("(%d off unknown data type)", value); return acRejected;
    }
}

} // namespace volmar
