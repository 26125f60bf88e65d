// Byte strings as text: hexadecimal rendering and the caret notation for
// control characters ("^M^J" for CR LF). Byte strings are std::string
// holding any byte values.
#pragma once

#include <string>
#include <string_view>

namespace volmar {

// Two upper-case hexadecimal digits a byte, separated by single blanks.
std::string HexString(std::string_view Bytes);

// "^" and a character becomes that character's code minus 40h, low five
// bits; a caret at the very end stays a caret.
std::string ControlToBytes(std::string_view Text);

// Bytes below 20h become a caret and the byte plus 40h; all others are
// copied, the caret included.
std::string BytesToControl(std::string_view Bytes);

bool DirectoryExists(const std::string& Path);

} // namespace volmar
