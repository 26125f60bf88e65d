// TComPortPlus: the port with synchronous command and reply, echo removal,
// an information log and its settings kept in a settings file.
#pragma once

#include <cstdint>
#include <string>

#include "serial/com_port.h"

namespace volmar {

enum TInfoLogLevels : std::uint8_t { logNone, logLow, logAll };

// LastError values.
inline constexpr std::int32_t kErrorNone = 0;
inline constexpr std::int32_t kErrorEcho = 200;
inline constexpr std::int32_t kErrorReplyTimeout = 201;
inline constexpr std::int32_t kErrorWaitingForRoom = 202;

class TComPortPlus : public TCustomComPort {
public:
    TComPortPlus();

    bool ExpectTxEcho() const { return FExpectTxEcho; }
    void SetExpectTxEcho(bool Value) { FExpectTxEcho = Value; }
    std::int32_t LastError() const { return FLastError; }
    const std::string& LastTx() const { return FLastTx; }
    const std::string& LastRx() const { return FLastRx; }
    TInfoLogLevels LogInfo() const { return FLogInfo; }
    void SetLogInfo(TInfoLogLevels Value) { FLogInfo = Value; }
    // The least time in ms between the last byte received and the next send.
    std::uint32_t RxTxDelay() const { return FRxTxDelay; }
    void SetRxTxDelay(std::uint32_t Value) { FRxTxDelay = Value; }
    // The clock's milliseconds at creation and at each byte WaitForReply took.
    std::uint32_t RxTicks() const { return FRxTicks; }
    // In caret notation: "^M^J" is CR LF.
    std::string Terminator() const;
    void SetTerminator(const std::string& Text);
    std::uint32_t Timeout() const { return FTimeout; }
    void SetTimeout(std::uint32_t Value) { FTimeout = Value; }
    // Whether the synchronous waits process the application's events.
    bool Yield() const { return FYield; }
    void SetYield(bool Value) { FYield = Value; }

    // Queues the bytes (waiting for room) and, with ExpectTxEcho, takes
    // their echo off the line. True when LastError is 0.
    bool SendString(const std::string& S);
    // Collects bytes into LastRx until Count have come or the terminator has
    // been seen; false with LastError 201 when Timeout passes first.
    bool WaitForReply(std::size_t Count);
    // Removes LastTx from the front of S; false, leaving S, when S does not
    // begin with it.
    bool RemoveEcho(std::string& S) const;
    bool Transmit(const std::string& S);
    bool Receive(std::size_t Count);
    // Sends S and waits for the reply; the input is flushed before when it
    // holds anything, and after a failure.
    bool Transact(const std::string& S, std::size_t Count);
    bool Command(const std::string& S) { return Transact(S, 255); }

    // Records a line in the information log when Logging is on and LogInfo
    // admits Level (logLow: level 1 only; logAll: every level).
    void AddLogInfo(const std::string& Msg, const std::string& Data, bool AsHex, int Level);
    void LogText(const std::string& S);
    void LogError(const std::string& Data, std::int32_t Code);

    // The settings kept in a section of a settings file; Tracing and
    // Logging themselves are not kept.
    void LoadPortSettings(const std::string& FileName, const std::string& Section);
    void SavePortSettings(const std::string& FileName, const std::string& Section);

    // Shows the configuration dialog with the option mask (bit 0 the port
    // choice, 1 the line settings, 2 the advanced tab, 3 logging and
    // tracing); true when it was confirmed and its values written back.
    // Defined with the dialog: only programs with widgets can call it.
    bool Configure(std::uint32_t Options);

private:
    bool ShuttingDown() const;

    bool FExpectTxEcho = true;
    std::int32_t FLastError = kErrorNone;
    std::string FLastTx;
    std::string FLastRx;
    TInfoLogLevels FLogInfo = logNone;
    std::uint32_t FRxTxDelay = 4;
    std::uint32_t FRxTicks = 0;
    std::string FTerminator = "\r\n";
    std::uint32_t FTimeout = 1000;
    bool FYield = true;
};

} // namespace volmar
