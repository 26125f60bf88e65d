// What the machine's data bytes stand for where the program names them:
// the coin and note values and the bits of the door and switch word.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace volmar {

// Forint values of the twelve denominations; each coin-movement range has
// twelve consecutive codes in this order.
inline constexpr std::array<std::int32_t, 12> kDenominations = {1,   2,   5,    10,   20,   50,
                                                                100, 200, 500, 1000, 2000, 5000};
// The five ranges (in, to cashbox, refill, out, dump) follow one another.
inline constexpr std::uint8_t kFirstCoinCode = 0x20;
inline constexpr int kCoinRangeCount = 5;

struct TSwitchBit {
    int Bit;
    std::string_view Name;
    std::string_view Key; // short lower-case name, for filters
};
// The bits of the switch word the machine panel shows; the others are not named.
inline constexpr std::array<TSwitchBit, 10> kSwitchBits = {{
    {0, "Refill Key", "refill_key"},
    {1, "Bookeeping Key", "bookkeeping_key"},
    {4, "Service Door", "service_door"},
    {5, "Cash Door", "cash_door"},
    {6, "Payout Door", "payout_door"},
    {7, "Payout Unit Present", "payout_unit"},
    {8, "Refill Mode", "refill_mode"},
    {9, "Bookeeping Mode", "bookkeeping_mode"},
    {10, "Dump Mode", "dump_mode"},
    {11, "Test Mode", "test_mode"},
}};

} // namespace volmar
