#include "serial/com_port_plus.h"

#include <QCoreApplication>

#include <functional>

#include "serial/byte_text.h"
#include "serial/profile_file.h"

namespace volmar {

TComPortPlus::TComPortPlus() : FRxTicks(Clock().Milliseconds()) {}

std::string TComPortPlus::Terminator() const { return BytesToControl(FTerminator); }

void TComPortPlus::SetTerminator(const std::string& Text) { FTerminator = ControlToBytes(Text); }

bool TComPortPlus::ShuttingDown() const {
    return State() == psShuttingDown || QCoreApplication::closingDown();
}

bool TComPortPlus::SendString(const std::string& S) {
    FLastError = kErrorWaitingForRoom;
    // A string longer than the whole ring never fits; PutString reports that.
    const std::size_t ringSize = std::size_t{OutBuffUsed()} + OutBuffFree();
    if (S.size() <= ringSize)
        while (OutBuffFree() < S.size() && !ShuttingDown()) ProcessCommunications();

    // Devices that turn the line around need a pause after their last byte.
    if (FRxTxDelay != 0)
        while (Clock().Milliseconds() - FRxTicks < FRxTxDelay && !ShuttingDown())
            if (FYield) QCoreApplication::processEvents();

    PutString(S);
    FLastTx = S;
    FLastError = kErrorNone;

    if (FExpectTxEcho) {
        while (OutBuffUsed() > 0 && !ShuttingDown()) ProcessCommunications();
        if (!WaitForReply(S.size()) || !RemoveEcho(FLastRx)) FLastError = kErrorEcho;
    }
    return FLastError == kErrorNone;
}

bool TComPortPlus::WaitForReply(std::size_t Count) {
    FLastRx.clear();
    FLastError = kErrorNone;
    if (Count == 0 || ShuttingDown()) return true;

    // The reply is collected here; no handler may take its bytes meanwhile.
    const bool wasSuspended = SuspendNotifications(true);
    struct TRestore {
        TComPortPlus* Port;
        bool Was;
        ~TRestore() { Port->SuspendNotifications(Was); }
    } restore{this, wasSuspended};

    const std::uint32_t limit = MsToTicks(FTimeout);
    const std::uint32_t start = Clock().Ticks();
    std::size_t received = 0;
    std::size_t match = 0;
    while (!ShuttingDown()) {
        bool complete = false;
        if (CharReady()) {
            const std::uint8_t byte = GetChar();
            FRxTicks = Clock().Milliseconds();
            FLastRx.push_back(static_cast<char>(byte));
            ++received;
            if (received >= Count) {
                complete = true;
            } else if (!FTerminator.empty()) {
                ++match;
                if (byte != static_cast<std::uint8_t>(FTerminator[match - 1]))
                    match = byte == static_cast<std::uint8_t>(FTerminator[0]) ? 1 : 0;
                else if (match == FTerminator.size())
                    complete = true;
            }
        }
        if (complete) break;
        if (TicksBetween(start, Clock().Ticks()) > limit) {
            FLastError = kErrorReplyTimeout;
            break;
        }
        if (FYield) QCoreApplication::processEvents();
    }
    return ShuttingDown() || FLastError == kErrorNone;
}

bool TComPortPlus::RemoveEcho(std::string& S) const {
    if (!S.starts_with(FLastTx)) return false;
    S.erase(0, FLastTx.size());
    return true;
}

bool TComPortPlus::Transmit(const std::string& S) {
    AddLogInfo("Tx", S, true, 2);
    return SendString(S) && FLastError == kErrorNone;
}

bool TComPortPlus::Receive(std::size_t Count) {
    const bool result = WaitForReply(Count) && FLastError == kErrorNone;
    AddLogInfo("Rx", FLastRx, true, 2);
    return result;
}

bool TComPortPlus::Transact(const std::string& S, std::size_t Count) {
    FLastError = kErrorNone;
    try {
        if (CharReady()) FlushInBuffer();
        const bool result = Transmit(S) && Receive(Count);
        if (!result) FlushInBuffer();
        return result;
    } catch (...) {
        // The original failure is the one to report, not a failing flush.
        try {
            FlushInBuffer();
        } catch (...) {
        }
        throw;
    }
}

void TComPortPlus::AddLogInfo(const std::string& Msg, const std::string& Data, bool AsHex, int Level) {
    if (Logging() != tlOn) return;
    if (FLogInfo != logAll && !(FLogInfo == logLow && Level == 1)) return;
    std::string line = Msg;
    if (!Data.empty()) {
        line += ", ";
        line += AsHex ? HexString(Data) : Data;
    }
    FLog.Record(Clock().Milliseconds(), std::move(line));
}

void TComPortPlus::LogText(const std::string& S) { AddLogInfo(S, std::string(), false, 2); }

void TComPortPlus::LogError(const std::string& Data, std::int32_t Code) {
    AddLogInfo("ERROR " + std::to_string(Code), Data, false, 2);
}

void TComPortPlus::LoadPortSettings(const std::string& FileName, const std::string& Section) {
    TProfileFile ini;
    ini.Load(FileName);
    if (!ini.SectionExists(Section)) return;

    // A value out of the property's range counts as unreadable: the
    // property keeps its value.
    const auto number = [&](const char* Key, std::int64_t Low, std::int64_t High,
                            const std::function<void(std::int32_t)>& Set) {
        std::int32_t value = 0;
        if (ini.TryReadInteger(Section, Key, value) && value >= Low && value <= High) Set(value);
    };
    const auto flag = [&](const char* Key, const std::function<void(bool)>& Set) {
        std::int32_t value = 0;
        if (ini.TryReadInteger(Section, Key, value)) Set(value != 0);
    };
    const auto text = [&](const char* Key, const std::function<void(const std::string&)>& Set) {
        if (ini.KeyExists(Section, Key)) Set(ini.ReadString(Section, Key, std::string()));
    };
    constexpr std::int64_t kInt32Min = INT32_MIN, kInt32Max = INT32_MAX, kWordMax = 0xFFFF;

    number("Baud", kInt32Min, kInt32Max, [this](std::int32_t v) { SetBaud(v); });
    number("ComNumber", 0, kWordMax,
           [this](std::int32_t v) { SetComNumber(static_cast<std::uint16_t>(v)); });
    number("DataBits", 0, kWordMax,
           [this](std::int32_t v) { SetDataBits(static_cast<std::uint16_t>(v)); });
    flag("ExpectTxEcho", [this](bool v) { SetExpectTxEcho(v); });
    number("InSize", 0, kWordMax, [this](std::int32_t v) { SetInSize(static_cast<std::uint16_t>(v)); });
    flag("LogHex", [this](bool v) { SetLogHex(v); });
    number("LogInfo", logNone, logAll,
           [this](std::int32_t v) { SetLogInfo(static_cast<TInfoLogLevels>(v)); });
    text("LogName", [this](const std::string& v) { SetLogName(v); });
    number("LogSize", 0, kInt32Max,
           [this](std::int32_t v) { SetLogSize(static_cast<std::uint32_t>(v)); });
    number("OutSize", 0, kWordMax,
           [this](std::int32_t v) { SetOutSize(static_cast<std::uint16_t>(v)); });
    number("Parity", pNone, pSpace, [this](std::int32_t v) { SetParity(static_cast<TParity>(v)); });
    number("RxTxDelay", 0, kInt32Max,
           [this](std::int32_t v) { SetRxTxDelay(static_cast<std::uint32_t>(v)); });
    number("StopBits", 0, kWordMax,
           [this](std::int32_t v) { SetStopBits(static_cast<std::uint16_t>(v)); });
    number("TapiMode", tmNone, tmOff,
           [this](std::int32_t v) { SetTapiMode(static_cast<TTapiMode>(v)); });
    text("Terminator", [this](const std::string& v) { SetTerminator(v); });
    number("Timeout", 0, kInt32Max,
           [this](std::int32_t v) { SetTimeout(static_cast<std::uint32_t>(v)); });
    flag("TraceHex", [this](bool v) { SetTraceHex(v); });
    text("TraceName", [this](const std::string& v) { SetTraceName(v); });
    number("TraceSize", 0, kInt32Max,
           [this](std::int32_t v) { SetTraceSize(static_cast<std::uint32_t>(v)); });
    flag("UseEventWord", [this](bool v) { SetUseEventWord(v); });
    flag("Yield", [this](bool v) { SetYield(v); });
}

void TComPortPlus::SavePortSettings(const std::string& FileName, const std::string& Section) {
    TProfileFile ini;
    ini.Load(FileName);
    // Unsigned values above the 32-bit signed range are written as they are
    // and read back as unreadable; no real setting comes near.
    const auto unsignedValue = [&](const char* Key, std::uint32_t Value) {
        ini.WriteString(Section, Key, std::to_string(Value));
    };
    ini.WriteInteger(Section, "Baud", Baud());
    ini.WriteInteger(Section, "ComNumber", ComNumber());
    ini.WriteInteger(Section, "DataBits", DataBits());
    ini.WriteBool(Section, "ExpectTxEcho", ExpectTxEcho());
    ini.WriteInteger(Section, "InSize", InSize());
    ini.WriteBool(Section, "LogHex", LogHex());
    ini.WriteInteger(Section, "LogInfo", LogInfo());
    ini.WriteString(Section, "LogName", LogName());
    unsignedValue("LogSize", LogSize());
    ini.WriteInteger(Section, "OutSize", OutSize());
    ini.WriteInteger(Section, "Parity", Parity());
    unsignedValue("RxTxDelay", RxTxDelay());
    ini.WriteInteger(Section, "StopBits", StopBits());
    ini.WriteInteger(Section, "TapiMode", TapiMode());
    ini.WriteString(Section, "Terminator", Terminator());
    unsignedValue("Timeout", Timeout());
    ini.WriteBool(Section, "TraceHex", TraceHex());
    ini.WriteString(Section, "TraceName", TraceName());
    unsignedValue("TraceSize", TraceSize());
    ini.WriteBool(Section, "UseEventWord", UseEventWord());
    ini.WriteBool(Section, "UseMSRShadow", true);
    ini.WriteBool(Section, "Yield", Yield());
    ini.Save(FileName);
}

} // namespace volmar
