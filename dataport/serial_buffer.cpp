#include "dataport/serial_buffer.h"

#include <algorithm>

namespace volmar {

TSerialBuffer::TSerialBuffer(std::int32_t Capacity) { SetSize(Capacity); }

void TSerialBuffer::SetSize(std::int32_t Capacity) {
    FSize = std::max<std::int32_t>(Capacity, 2);
    FStorage.assign(static_cast<std::size_t>(FSize), 0);
    Reset();
}

std::int32_t TSerialBuffer::Count() const {
    const std::int32_t n = FHead - FTail;
    return n < 0 ? n + FSize : n;
}

void TSerialBuffer::Reset() {
    FHead = 0;
    FTail = 0;
}

void TSerialBuffer::Put(std::uint8_t Byte) {
    if (Count() >= FSize - 1) return;
    FStorage[static_cast<std::size_t>(FHead)] = Byte;
    Advance(FHead);
}

bool TSerialBuffer::Get(std::uint8_t& Byte) {
    if (Count() == 0) return false;
    Byte = FStorage[static_cast<std::size_t>(FTail)];
    Advance(FTail);
    return true;
}

void TSerialBuffer::Advance(std::int32_t& Position) const {
    Position += 1;
    while (Position >= FSize) Position -= FSize;
}

} // namespace volmar
