#include "serial/byte_text.h"

#include <sys/stat.h>

#include "dataport/message.h"

namespace volmar {

std::string HexString(std::string_view Bytes) {
    return HexBytes(reinterpret_cast<const std::uint8_t*>(Bytes.data()), Bytes.size());
}

std::string ControlToBytes(std::string_view Text) {
    std::string out;
    out.reserve(Text.size());
    for (;;) {
        const std::size_t caret = Text.find('^');
        if (caret == std::string_view::npos || caret + 1 >= Text.size()) {
            out.append(Text);
            return out;
        }
        out.append(Text.substr(0, caret));
        const auto code = static_cast<unsigned char>(Text[caret + 1]);
        out.push_back(static_cast<char>((code - 0x40) & 0x1F));
        Text.remove_prefix(caret + 2);
    }
}

std::string BytesToControl(std::string_view Bytes) {
    std::string out;
    out.reserve(Bytes.size());
    for (const char c : Bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20) {
            out.push_back('^');
            out.push_back(static_cast<char>(b + 0x40));
        } else {
            out.push_back(c);
        }
    }
    return out;
}

bool DirectoryExists(const std::string& Path) {
    struct stat st {};
    return !Path.empty() && ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace volmar
