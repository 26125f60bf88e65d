// Faults the operator arms on purpose, to see how the machine copes with a
// monitoring unit that refuses, stays silent or garbles its answers. Each
// fault applies to all codes or chosen ones, fires on every Nth matching
// message and/or with a probability, and ends after a number of firings or
// seconds when asked to.
#pragma once

#include <QJsonObject>
#include <QString>

#include <bitset>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dataport/message.h"
#include "dataport/receiver.h"

namespace volmar {

enum class TFaultKind : std::uint8_t {
    Nak,          // NAK instead of the table's answer; not acted on
    Esc,          // ESC instead; not acted on
    Withhold,     // no answer at all; acted on
    Delay,        // the answer late; acted on
    WrongByte,    // a byte that is none of ACK, NAK, ESC; acted on
    Garbage,      // extra bytes after the answer; acted on
    Silence,      // no answers and no NAKs for a while; acted on
    NoFirstNaks,  // no NAKs while waiting for the first message
};

struct TFaultRule {
    TFaultKind Kind = TFaultKind::Nak;
    // The codes it applies to; all by default.
    std::bitset<128> Codes = std::bitset<128>().set();
    // Fires on every Nth matching message, each time with this probability.
    int EveryNth = 1;
    double Probability = 1.0;
    // Ends by itself after this many firings or seconds; 0: never.
    int MaxFirings = 0;
    double ForSeconds = 0;
    // Delay: milliseconds, or a random time up to DelayMaxMs when larger.
    int DelayMs = 500;
    int DelayMaxMs = 0;
    // WrongByte: the byte; Garbage: how many bytes follow the answer.
    std::uint8_t Byte = 0x3F;
    int GarbageCount = 3;
    // Silence: how long.
    double SilenceSeconds = 5;
};

// A fault as JSON ({"kind":"nak","codes":"20-2B,70","every":2,"probability":0.5,
// "firings":1,"seconds":30,"delay_ms":300,"delay_max_ms":900,"byte":63,"count":3,
// "silence_s":5}); Error says what is wrong when it cannot be read.
std::optional<TFaultRule> FaultFromJson(const QJsonObject& Object, QString& Error);
QJsonObject FaultToJson(const TFaultRule& Rule);
// "nak", "esc", "withhold", "delay", "wrong-byte", "garbage", "silence", "no-first-naks".
const char* FaultKindKey(TFaultKind Kind);
// A person's words for it: "NAK instead of the answer", ...
QString FaultText(const TFaultRule& Rule);
// "20-2B,70" → the codes; false when the text is no list of codes.
bool ParseCodeList(const QString& Text, std::bitset<128>& Codes);
QString CodeListText(const std::bitset<128>& Codes);

// What to do with a reply byte.
struct TReplyAction {
    bool Send = true;       // false: withheld (perhaps sent later)
    int DelayMs = -1;       // >= 0: sent that much later
    int Garbage = 0;        // bytes of garbage to send after it
};

class TFaults {
public:
    // Milliseconds on the engine's clock, for the ends and the silences.
    explicit TFaults(std::function<std::uint32_t()> NowMs);

    int Arm(const TFaultRule& Rule);
    // Ends the fault Arm returned Id for, if it is still armed.
    void Disarm(int Id);
    void Clear();
    // Also ends the faults whose time is up (the engine asks often).
    bool Active();
    struct TArmed {
        int Id;
        TFaultRule Rule;
        int Firings;
    };
    std::vector<TArmed> List();
    void SetSeed(std::uint32_t Seed) { FRandom.seed(Seed); }

    // For a valid message: the NAK or ESC a fault answers instead, if one fires.
    std::optional<TAcception> ForcedAnswer(const TDPMessage& Msg);
    // For a reply byte about to go out for the message with Code (its cause
    // tells answers from NAKs of the receiver's own). May change Byte.
    TReplyAction FilterReply(std::uint8_t& Byte, TReplyCause Cause, std::uint8_t Code);

    // Each firing, described for the event log and the capture.
    std::function<void(const TFaultRule& Rule, const std::string& What)> OnFired;
    // The set of armed faults changed (armed, cleared, or ended by itself).
    std::function<void()> OnChanged;

private:
    struct TEntry {
        int Id;
        TFaultRule Rule;
        int Matches = 0;
        int Firings = 0;
        std::uint32_t ArmedMs = 0;
    };
    void Expire();
    TReplyAction Filter(std::uint8_t& Byte, TReplyCause Cause, std::uint8_t Code);
    bool Fires(TEntry& Entry, std::uint8_t Code);
    void Fired(TEntry& Entry, const std::string& What);

    std::function<std::uint32_t()> FNowMs;
    std::vector<TEntry> FEntries;
    int FNextId = 1;
    std::mt19937 FRandom{std::random_device{}()};
    // A silence fault that fired holds every reply back until then.
    bool FSilent = false;
    std::uint32_t FSilentUntilMs = 0;
    int FSilentId = 0;
};

} // namespace volmar
