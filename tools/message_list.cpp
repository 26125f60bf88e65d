#include "tools/message_list.h"

#include <algorithm>
#include <array>

#include "dataport/message.h"
#include "interpret/interpreter.h"
#include "tools/machine_messages.h"

namespace volmar::machine {

namespace {

// Where the data decides the answer rather than the code.
struct TAnswerNote {
    std::uint8_t Code;
    const char* Note;
};
constexpr TAnswerNote kNotes[] = {
    {0x74, "Nak for a binary amount with its top bit set"},
    {0x77, "Nak for a data type above 3 or a binary amount with its top bit set"},
};

} // namespace

std::vector<TListedMessage> MessageList() {
    TCounters counters{};
    TLogs logs;
    TUnseenMachineView view;
    TInterpreter interpreter(counters, logs, view);
    std::array<std::uint8_t, kDataBlockSize> data{};
    std::vector<TListedMessage> list;
    for (int code = 0; code < 128; ++code) {
        const auto header = static_cast<std::uint8_t>(code);
        const TCodeShape shape = ClassifyHeader(header);
        TDPMessage msg;
        msg.Data = data.data();
        msg.Valid = true;
        msg.MsgClass = shape.MsgClass;
        msg.Header = header;
        // Zeros make a well-formed message of every code: no coin is
        // unknown, a BCD zero is a valid amount, data type 0 is Cash In.
        msg.Length = shape.MsgClass == mcVariableLength ? kMaxDataLength : shape.DataLength;
        const TAcception answer = interpreter.InterpretMessage(&msg, false);
        std::string text(ReplyNames[answer <= acNotSupported ? answer : acNotSupported]);
        for (const TAnswerNote& note : kNotes)
            if (note.Code == header) text += std::string("; ") + note.Note;
        list.push_back({header, std::string(MsgClassNames[shape.MsgClass]),
                        std::string(DPMessageNames[header]), text});
    }
    return list;
}

std::string MessageListText() {
    const std::vector<TListedMessage> list = MessageList();
    std::size_t classWidth = 5, nameWidth = 4;
    for (const TListedMessage& m : list) {
        classWidth = std::max(classWidth, m.Class.size());
        nameWidth = std::max(nameWidth, m.Name.size());
    }
    const auto row = [&](const std::string& Code, const std::string& Class, const std::string& Name,
                         const std::string& Answer) {
        return Code + "  " + Class + std::string(classWidth - Class.size() + 2, ' ') + Name +
               std::string(nameWidth - Name.size() + 2, ' ') + Answer + "\n";
    };
    std::string text = row("code", "class", "name", "answer");
    for (const TListedMessage& m : list) text += row(CodeText(m.Code) + " ", m.Class, m.Name, m.Answer);
    return text;
}

} // namespace volmar::machine
