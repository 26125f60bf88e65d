// The circular receive buffer between the port's data notification and the
// receiver. It holds at most Size - 1 bytes; a byte that finds it full is
// dropped without a report.
#pragma once

#include <cstdint>
#include <vector>

namespace volmar {

class TSerialBuffer {
public:
    explicit TSerialBuffer(std::int32_t Capacity);

    // Reallocates the storage (at least 2 bytes) and empties the buffer.
    void SetSize(std::int32_t Capacity);
    std::int32_t Size() const { return FSize; }
    std::int32_t Head() const { return FHead; }
    std::int32_t Tail() const { return FTail; }

    std::int32_t Count() const;
    void Reset();
    void Put(std::uint8_t Byte);
    bool Get(std::uint8_t& Byte);

private:
    void Advance(std::int32_t& Position) const;

    std::vector<std::uint8_t> FStorage;
    std::int32_t FSize = 0;
    std::int32_t FHead = 0;
    std::int32_t FTail = 0;
};

} // namespace volmar
