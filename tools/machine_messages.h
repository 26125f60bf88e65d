// What the stand-in machine puts into its messages: codes named by number
// or by catalogue name, numbers encoded the way the simulator decodes them,
// and the 20-byte "Power on" identity.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace volmar::machine {

// A value a script or the demo got wrong; the text says what and why.
class EBadValue : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Decimal ("38"), or hexadecimal with a prefix or suffix ("0x26", "26h").
// Nothing for anything else or above 0xFFFFFFFF.
std::optional<std::uint32_t> ParseNumber(std::string_view Text);
// One byte in hexadecimal: "7", "7F", "7Fh" or "0x7F".
std::optional<std::uint8_t> ParseHexByte(std::string_view Text);

// The code (0..127) a script names: a number, or (Quoted) a catalogue name,
// compared without regard to case. Raises EBadValue for a name that names
// several codes, an unknown name or a code above 7Fh.
std::uint8_t ResolveMessage(std::string_view Token, bool Quoted);

// The catalogue's names nearest to Name (an edit or two away, case
// ignored), best first and at most three; none when nothing is near.
std::vector<std::string> NearestNames(std::string_view Name);

// Two-digit upper-case hexadecimal with an "h": "26h".
std::string CodeText(std::uint8_t Code);

// The data bytes of a one- or two-data-byte message carrying Value: a byte,
// or a big-endian 16-bit word. Raises EBadValue when the value does not fit
// or the code is of another class.
std::vector<std::uint8_t> EncodeNumber(std::uint8_t Code, std::uint32_t Value);

// A four-byte amount as the simulator reads it: BCD (two decimal digits a
// byte, up to 99999999) or a big-endian binary number.
std::vector<std::uint8_t> EncodeValue32(std::uint32_t Value, bool BCD);

// The machine's identity in its "Power on" message.
struct TPowerOnIdentity {
    std::string Manufacturer = "VLM"; // three characters
    std::string Version = "100";      // three characters
    std::uint16_t AMC = 0x007F;       // arcade management support bits
    std::uint8_t Dataport = 0xFF;     // dataport support bits
    std::uint16_t CreditValue = 100;  // Forint
    std::uint8_t Percent = 85;        // target payout percentage
    std::uint16_t Switches = 0x0080;  // doors closed, payout unit present
    char Protocol = 'B';
    bool BCDValues = true;
};

// The 20 data bytes: manufacturer at 0-2, 3-6 zero, version at 7-9, AMC
// word, dataport byte, credit value word, percentage, switch word, protocol
// character, values mode (1 binary, 0 BCD); words big-endian.
std::vector<std::uint8_t> EncodePowerOn(const TPowerOnIdentity& Identity);

// key=value words: manufacturer version amc dataport credit percent
// switches protocol values (bcd|binary); keys compared without regard to
// case, each at most once, every one optional.
TPowerOnIdentity ParsePowerOnPairs(const std::vector<std::string>& Pairs);

// Switch word bits.
inline constexpr std::uint16_t kRefillKey = 0x0001;
inline constexpr std::uint16_t kBookkeepingKey = 0x0002;
inline constexpr std::uint16_t kServiceDoor = 0x0010;
inline constexpr std::uint16_t kCashDoor = 0x0020;
inline constexpr std::uint16_t kPayoutDoor = 0x0040;
inline constexpr std::uint16_t kPayoutUnit = 0x0080;
inline constexpr std::uint16_t kRefillMode = 0x0100;
inline constexpr std::uint16_t kBookkeepingMode = 0x0200;
inline constexpr std::uint16_t kDumpMode = 0x0400;
inline constexpr std::uint16_t kTestMode = 0x0800;

// Codes the demo and the tests use.
inline constexpr std::uint8_t kTakeOneCredit = 0x0A;
inline constexpr std::uint8_t kCallAttendant = 0x1E;
inline constexpr std::uint8_t kAttendantArrived = 0x1F;
inline constexpr std::uint8_t kCoinInFirst = 0x20;
inline constexpr std::uint8_t kToCashboxFirst = 0x2C;
inline constexpr std::uint8_t kRefillFirst = 0x38;
inline constexpr std::uint8_t kCoinOutFirst = 0x44;
inline constexpr std::uint8_t kDumpFirst = 0x50;
inline constexpr std::uint8_t kTakeMultipleCredits = 0x62;
inline constexpr std::uint8_t kGame = 0x69;
inline constexpr std::uint8_t kCreditValueReport = 0x6B;
inline constexpr std::uint8_t kWinReport = 0x6C;
inline constexpr std::uint8_t kSwitchStates = 0x6E;
inline constexpr std::uint8_t kPowerOn = 0x70;
inline constexpr std::uint8_t kCancelledCredits = 0x74;

// The twelve denominations, in the order of each coin block's codes.
inline constexpr std::uint32_t kDenominations[12] = {1,   2,   5,   10,   20,   50,
                                                     100, 200, 500, 1000, 2000, 5000};
// The code of a denomination within a block (First is the block's 1 Ft code).
std::uint8_t CoinCode(std::uint8_t First, std::uint32_t Forint);

} // namespace volmar::machine
