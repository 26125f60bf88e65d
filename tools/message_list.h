// Every message code as a script writer needs it: its class, its name and
// what the simulator answers to it ("volmar-machine --list").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace volmar::machine {

struct TListedMessage {
    std::uint8_t Code;
    std::string Class;   // "Header only", ...
    std::string Name;    // as in scripts: "100Ft In"
    std::string Answer;  // "Ack", "Nak" or "Esc", and when the data can change it
};

// The 128 codes in order. The answers are the simulator's own: its
// interpretation decides a well-formed message of each code.
std::vector<TListedMessage> MessageList();

// The list as a table with a title line, one code a line.
std::string MessageListText();

} // namespace volmar::machine
