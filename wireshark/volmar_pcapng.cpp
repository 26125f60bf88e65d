// volmar-pcapng IN OUT.pcapng: a text or JSON Lines capture of the
// simulator's as a pcapng file for Wireshark. OUT is made afresh: a file
// already there is left as it is.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "lab/pcapng_convert.h"

int main(int argc, char** argv) {
    if (argc != 3 || argv[1][0] == '-') {
        std::cerr << "usage: volmar-pcapng CAPTURE OUT.pcapng\n"
                     "Writes a text or JSON Lines capture of the Volmar Simulator as pcapng.\n";
        return 2;
    }
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::status(argv[1], ec).type() != fs::file_type::regular) {
        std::cerr << "volmar-pcapng: " << argv[1] << " is not a capture file\n";
        return 1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::ostringstream out;
    const std::string error = in ? volmar::ConvertToPcapng(in, out) : std::strerror(errno);
    if (!error.empty()) {
        std::cerr << "volmar-pcapng: " << argv[1] << ": " << error << '\n';
        return 1;
    }
    // "x": never replaces what is there, nor follows a link to it.
    std::FILE* file = std::fopen(argv[2], "wbx");
    if (!file) {
        std::cerr << "volmar-pcapng: cannot make " << argv[2] << ": " << std::strerror(errno)
                  << '\n';
        return 1;
    }
    const std::string bytes = out.str();
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::cerr << "volmar-pcapng: cannot write " << argv[2] << '\n';
        fs::remove(argv[2], ec);
        return 1;
    }
    return 0;
}
