// A machine's script built step by step together with what the simulator
// should do with it: each step adds its script line, with the answer the
// machine must see, and the exchange line the machine must report.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dataport/message.h"
#include "e2e/line_model.h"
#include "support/machine_session.h"

namespace volmar::testing {

inline std::string HexList(const std::vector<std::uint8_t>& Bytes) {
    return HexBytes(Bytes.data(), Bytes.size());
}

inline std::string CodeText(std::uint8_t Header) {
    char s[8];
    std::snprintf(s, sizeof s, "%02Xh", Header & 0x7F);
    return s;
}

struct ExpectedExchange {
    std::vector<std::uint8_t> Frame;
    std::string Answer;
    int Retries;
    bool AfterSilence = false;  // answered only once the line has been quiet
};

class Conversation {
public:
    Conversation(LineModel& Model, int RetryLimit) : FModel(Model), FRetryLimit(RetryLimit) {}

    // The first lines of every script against the simulator (kSettleLines):
    // a frame given up on.
    void Settle() {
        Script += kSettleLines;
        Expected.push_back({{kSettleByte}, AnswerName(FModel.Abandoned()), 0, true});
    }

    void Comment(const std::string& Text) { Script += "# " + Text + "\n"; }
    void Line(const std::string& Text) { Script += Text + "\n"; }

    // A message the machine frames itself; Retry sends it with bit 7 set
    // from the start, as the resend of one whose answer was lost.
    void Send(std::uint8_t Code, const std::vector<std::uint8_t>& Data = {}, bool Retry = false) {
        const auto header = static_cast<std::uint8_t>(Retry ? Code | 0x80 : Code);
        const auto outcome = FModel.Send(header, Data, FRetryLimit);
        std::string line = "send " + CodeText(Code) + (Retry ? " retry" : "");
        if (!Data.empty()) line += " bytes " + HexList(Data);
        Line(line + " -> " + AnswerName(outcome.Answer));
        Expected.push_back({BuildMessageFrame(header, Data), AnswerName(outcome.Answer),
                            outcome.Retries});
    }

    // The whole frame with its checksum one off.
    void BadChecksum(std::uint8_t Header, const std::vector<std::uint8_t>& Data) {
        auto frame = BuildMessageFrame(Header, Data);
        frame.back() = static_cast<std::uint8_t>(frame.back() + 1);
        Raw(frame, FModel.BadChecksum(Header, Data));
    }

    // The frame with a pause of GapMs before byte number At.
    void Gap(std::uint8_t Header, const std::vector<std::uint8_t>& Data, std::size_t At,
             int GapMs) {
        Raw(BuildMessageFrame(Header, Data), FModel.Abandoned(), At, GapMs);
    }

    // Bytes the receiver must give up on without any message.
    void Abandoned(const std::vector<std::uint8_t>& Bytes) {
        Raw(Bytes, FModel.Abandoned());
    }

    std::string Script;
    std::vector<ExpectedExchange> Expected;

private:
    void Raw(const std::vector<std::uint8_t>& Bytes, std::uint8_t Answer, std::size_t GapAt = 0,
             int GapMs = 0) {
        std::string line = "raw";
        for (std::size_t i = 0; i < Bytes.size(); ++i) {
            if (GapMs > 0 && i == GapAt) line += " ~" + std::to_string(GapMs);
            line += " " + HexBytes(&Bytes[i], 1);
        }
        // The silence alone is half a second; the wait is generous.
        Line(line + " wait=4000 -> " + AnswerName(Answer));
        Expected.push_back({Bytes, AnswerName(Answer), 0, true});
    }

    LineModel& FModel;
    int FRetryLimit;
};

} // namespace volmar::testing
