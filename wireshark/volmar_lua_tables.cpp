// Writes the dissector from its template, with the names of the codes, the
// classes, the faults, the reply causes and the events, the coin values, the
// switch bits and the support bits as the simulator has them, so that the
// dissector never carries a second copy to drift.
//   volmar_lua_tables TEMPLATE OUTPUT
#include <cctype>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "dataport/message.h"
#include "interpret/machine_values.h"
#include "interpret/machine_view.h"
#include "monitor/traffic_record.h"

namespace {

std::string Quoted(std::string_view Text) {
    std::string out = "\"";
    for (const char c : Text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}

template <typename TName>
void Table(std::ostream& Out, const char* Name, int Count, TName NameOf) {
    Out << "local " << Name << " = {\n";
    for (int i = 0; i < Count; ++i) Out << "    [" << i << "] = " << Quoted(NameOf(i)) << ",\n";
    Out << "}\n";
}

// Lua entries { bit = N, name = "Name", key = "key" }, one a named bit.
template <typename TBits>
void BitTable(std::ostream& Out, const char* Name, const TBits& Bits) {
    Out << "local " << Name << " = {\n";
    for (const auto& [bit, name, key] : Bits)
        Out << "    { bit = " << bit << ", name = " << Quoted(name) << ", key = " << Quoted(key) << " },\n";
    Out << "}\n";
}

struct TNamedBit {
    int Bit;
    std::string_view Name;
    std::string Key;
};

// A check list's items as bits, bit 0 first, each keyed by its name in lower
// case with blanks as underscores.
template <std::size_t N>
std::vector<TNamedBit> ListBits(const std::array<std::string_view, N>& Names) {
    std::vector<TNamedBit> bits;
    for (std::size_t i = 0; i < N; ++i) {
        std::string key;
        for (const char c : Names[i])
            key += c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        bits.push_back({static_cast<int>(i), Names[i], key});
    }
    return bits;
}

} // namespace

int main(int argc, char** argv) {
    using namespace volmar;
    if (argc != 3) {
        std::cerr << "usage: volmar_lua_tables TEMPLATE OUTPUT\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    std::stringstream source;
    source << in.rdbuf();
    if (!in) {
        std::cerr << "cannot read " << argv[1] << '\n';
        return 1;
    }
    std::ostringstream tables;
    Table(tables, "CODE_NAMES", static_cast<int>(DPMessageNames.size()),
          [](int i) { return DPMessageNames[static_cast<std::size_t>(i)]; });
    Table(tables, "CLASS_NAMES", static_cast<int>(MsgClassNames.size()),
          [](int i) { return MsgClassNames[static_cast<std::size_t>(i)]; });
    Table(tables, "FAULT_NAMES", ffLineError + 1, [](int i) {
        return std::string_view(i == ffNone ? "none" : FrameFaultName(static_cast<TFrameFault>(i)));
    });
    Table(tables, "CAUSE_NAMES", rcSilenceNak + 1,
          [](int i) { return std::string_view(ReplyCauseName(static_cast<TReplyCause>(i))); });
    Table(tables, "EVENT_NAMES", kLineEventCount, [](int i) {
        return std::string_view(LineEventName(static_cast<TLineEvent>(i)));
    });
    tables << "local DENOMINATIONS = {";
    for (std::size_t i = 0; i < kDenominations.size(); ++i)
        tables << (i == 0 ? " [0] = " : ", ") << kDenominations[i];
    tables << " }\n";
    tables << "local COIN_FIRST, COIN_LAST = " << int{kFirstCoinCode} << ", "
           << kFirstCoinCode + kCoinRangeCount * static_cast<int>(kDenominations.size()) - 1 << '\n';
    BitTable(tables, "SWITCH_BITS", kSwitchBits);
    BitTable(tables, "AMC_BITS", ListBits(AMCSupportNames));
    BitTable(tables, "DATAPORT_BITS", ListBits(DataportSupportNames));
    std::string text = source.str();
    const std::string mark = "@VOLMAR_TABLES@";
    const std::size_t at = text.find(mark);
    if (at == std::string::npos) {
        std::cerr << argv[1] << " has no " << mark << '\n';
        return 1;
    }
    text.replace(at, mark.size(), tables.str());
    std::ofstream out(argv[2], std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::cerr << "cannot write " << argv[2] << '\n';
        return 1;
    }
    return 0;
}
