#include "serial/port_errors.h"

#include <cerrno>
#include <cstring>

namespace volmar {

namespace {

std::string SystemText(int ErrorNumber) {
    std::string text = std::strerror(ErrorNumber);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return text;
}

} // namespace

EInOutError::EInOutError(int ErrorNumber) : EInOutError(ErrorNumber, SystemText(ErrorNumber)) {}

EInOutError::EInOutError(int ErrorNumber, const std::string& Message)
    : EPortException(-ErrorNumber, Message) {
    SetSystemError(ErrorNumber);
}

void RaiseSystemError(int ErrorNumber) {
    if (ErrorNumber == ENOMEM) throw EOutOfMemory();
    throw EInOutError(ErrorNumber);
}

} // namespace volmar
