// The port's failures: one exception class per error code, all derived from
// EPortException, each carrying its negative code and its message.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace volmar {

class EPortException : public std::runtime_error {
public:
    EPortException(std::int32_t Code, const std::string& Message)
        : std::runtime_error(Message), FCode(Code) {}
    std::int32_t Code() const { return FCode; }

    // A further line for the operator (which device, why, what to do about
    // it); empty when there is nothing to add. what() stays the message.
    const std::string& Detail() const { return FDetail; }
    void SetDetail(std::string Text) { FDetail = std::move(Text); }
    // The system error number (errno) behind the failure; 0 when none.
    int SystemError() const { return FSystemError; }
    void SetSystemError(int ErrorNumber) { FSystemError = ErrorNumber; }

private:
    std::int32_t FCode;
    std::string FDetail;
    int FSystemError = 0;
};

#define VOLMAR_PORT_ERROR(Name, CodeValue, Text)                                                   \
    class Name : public EPortException {                                                           \
    public:                                                                                        \
        static constexpr std::int32_t kCode = CodeValue;                                           \
        Name() : EPortException(kCode, Text) {}                                                    \
    };

VOLMAR_PORT_ERROR(EBadArgument, -1002, "Bad argument passed to function")
VOLMAR_PORT_ERROR(EPortNotAssigned, -1005, "ComPort component not assigned")
VOLMAR_PORT_ERROR(EBadId, -2001, "ie_BadId - Specified comport doesn't exist")
VOLMAR_PORT_ERROR(ECommNotOpen, -2007, "ie_NOpen - device not open")
VOLMAR_PORT_ERROR(EAlreadyOpen, -2008, "ie_Open - device already open")
VOLMAR_PORT_ERROR(EPutBlockFail, -3004, "Failed to put entire block")
VOLMAR_PORT_ERROR(EOutputBufferTooSmall, -3006, "Output buffer too small for block")
VOLMAR_PORT_ERROR(EBufferIsEmpty, -3007, "Buffer is empty")
VOLMAR_PORT_ERROR(EBadTriggerHandle, -5003, "Bad trigger handle")
VOLMAR_PORT_ERROR(EOutOfMemory, -8, "Out of memory")

#undef VOLMAR_PORT_ERROR

// A system error: carries the system's error number (errno) and its text,
// with control characters turned into spaces. Code() is minus the number.
class EInOutError : public EPortException {
public:
    explicit EInOutError(int ErrorNumber);
    EInOutError(int ErrorNumber, const std::string& Message);
    int ErrorCode() const { return -Code(); }
};

// Raises the port's error for a system error number: ENOMEM as
// EOutOfMemory, everything else as EInOutError.
[[noreturn]] void RaiseSystemError(int ErrorNumber);

} // namespace volmar
