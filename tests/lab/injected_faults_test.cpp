// Faults armed on purpose: what goes out on the line, and that the books
// stay true to what the machine was told, resends included.
#include "lab/fault_driver.h"
#include "lab/lab_fixture.h"
#include "lab/line_watch.h"

namespace volmar::testing {
namespace {

class InjectedFaultsTest : public LabTest {
protected:
    TFaults& Rules() { return lab->Faults()->Rules(); }
    TMonitor& StartWith(TFaultKind Kind, const std::string& Codes = "", int Firings = 1) {
        TMonitor& m = StartOnCom1();
        Rules().SetSeed(1);
        TFaultRule rule;
        rule.Kind = Kind;
        EXPECT_TRUE(ParseCodeList(QString::fromStdString(Codes), rule.Codes));
        rule.MaxFirings = Firings;
        rule.DelayMs = 40;
        Rules().Arm(rule);
        return m;
    }
    // Everything that comes back within Ms.
    Bytes AnswersWithin(int Ms) {
        Settle(Ms);
        return line->TakeSent();
    }
    std::uint64_t Stat(TStatKind Kind) { return lab->Watch()->Statistics()[Kind].Count; }
    // Ends the run and forgets its counts, for the next case.
    void CloseAndForget() {
        Close();
        fs::remove(dir / kCountersFileName);
    }
};

TEST_F(InjectedFaultsTest, ARefusalIsNotActedOnAndTheResendIsDecidedAfresh) {
    for (TFaultKind kind : {TFaultKind::Nak, TFaultKind::Esc}) {
        TMonitor& m = StartWith(kind, "20-2B");
        EXPECT_EQ(Exchange(0x20), kind == TFaultKind::Nak ? kNak : kEsc);
        EXPECT_EQ(m.Counters().In, 0) << "not acted on";
        EXPECT_EQ(Exchange(0xA0), kAck) << "the resend is decided and acted on";
        EXPECT_EQ(m.Counters().In, 1);
        EXPECT_EQ(m.Counters().Codes[0x20].Retries, 1);
        EXPECT_EQ(Stat(stFaultsInjected), 1u);
        EXPECT_EQ(Stat(stRepeats), 0u);
        // The message's row with the refusal that went out, then the fault's.
        const TStringGrid& log = m.Logs().Events;
        EXPECT_EQ(log.Cell(5, 1), "20 20");
        EXPECT_EQ(log.Cell(4, 1), kind == TFaultKind::Nak ? "Nak" : "Esc");
        EXPECT_EQ(log.Cell(1, 2).rfind("Fault injected: ", 0), 0u) << log.Cell(1, 2);
        CloseAndForget();
    }
}

TEST_F(InjectedFaultsTest, AGarbledAnswerWasActedOnAndItsResendIsARepeat) {
    struct Case {
        TFaultKind Kind;
        Bytes Line;            // what the machine gets for the first message
        const char* Response;  // what the message's row says went out
    };
    for (const Case& c :
         {Case{TFaultKind::Withhold, {}, "none"}, Case{TFaultKind::WrongByte, {0x3F}, "3Fh"},
          Case{TFaultKind::Delay, {kAck}, "Ack"},
          Case{TFaultKind::Garbage, {kAck, 0xAA, 0x55, 0xAA}, "Ack"}}) {
        TMonitor& m = StartWith(c.Kind);
        Send({0x20, 0x20});
        const Bytes first = AnswersWithin(c.Kind == TFaultKind::Delay ? 300 : 100);
        EXPECT_EQ(first, c.Line) << FaultKindKey(c.Kind);
        const TStringGrid& log = m.Logs().Events;
        EXPECT_EQ(log.Cell(4, 1), c.Response) << FaultKindKey(c.Kind);
        EXPECT_EQ(log.Cell(1, 2).rfind("Fault injected: ", 0), 0u) << log.Cell(1, 2);
        EXPECT_EQ(m.Counters().In, 1) << "acted on";
        EXPECT_EQ(Exchange(0xA0), kAck);
        EXPECT_EQ(m.Counters().In, 1) << "the resend is not counted twice";
        EXPECT_EQ(Stat(stRepeats), 1u);
        CloseAndForget();
    }
}

TEST_F(InjectedFaultsTest, ARefusedRepeatIsStillARepeat) {
    TMonitor& m = StartWith(TFaultKind::Withhold);
    TFaultRule nak;
    nak.EveryNth = 2;
    nak.MaxFirings = 1;
    Rules().Arm(nak);
    Send({0x20, 0x20});
    EXPECT_TRUE(AnswersWithin(100).empty());
    EXPECT_EQ(Exchange(0xA0), kNak) << "the resend refused";
    EXPECT_EQ(Exchange(0xA0), kAck);
    EXPECT_EQ(m.Counters().In, 1) << "one coin, counted once";
    EXPECT_EQ(m.Counters().Codes[0x20].Retries, 2);
}

TEST_F(InjectedFaultsTest, SilenceHoldsEveryReplyBackUntilItEnds) {
    TMonitor& m = StartWith(TFaultKind::NoFirstNaks, "", 0);
    clock.AdvanceTicks(kFirstMessageTicks + 1);
    EXPECT_TRUE(AnswersWithin(100).empty()) << "no first-message NAK";
    Rules().Clear();
    TFaultRule silence;
    silence.Kind = TFaultKind::Silence;
    silence.SilenceSeconds = 2;
    silence.MaxFirings = 1;
    Rules().Arm(silence);
    Send({0x20, 0x20});
    EXPECT_TRUE(AnswersWithin(100).empty());
    Send({0x26, 0x27});
    Settle();
    clock.AdvanceTicks(kSilenceTicks + 1);
    EXPECT_TRUE(AnswersWithin(100).empty()) << "no silence NAK either";
    clock.Advance(2000);
    EXPECT_EQ(Exchange(0x20), kAck);
    EXPECT_EQ(m.Counters().In, 2);
    EXPECT_FALSE(Rules().Active());
}

TEST_F(InjectedFaultsTest, FrequencyAndEndRules) {
    StartOnCom1();
    bool active = false;
    QObject::connect(lab->Faults(), &TFaultDriver::FaultsChanged, [&](bool A) { active = A; });
    TFaultRule rule;
    rule.Kind = TFaultKind::Nak;
    rule.EveryNth = 2;
    rule.MaxFirings = 2;
    Rules().Arm(rule);
    Settle();
    EXPECT_TRUE(active);
    Bytes answers;
    for (int i = 0; i < 6; ++i) answers.push_back(Exchange(0x26));
    EXPECT_EQ(answers, (Bytes{kAck, kNak, kAck, kNak, kAck, kAck}));
    EXPECT_FALSE(active) << "ended after two firings, and said so";

    rule = {};
    rule.ForSeconds = 1;
    Rules().Arm(rule);
    EXPECT_EQ(Exchange(0x26), kNak);
    clock.Advance(1000);
    EXPECT_EQ(Exchange(0x26), kAck);
    Settle();
    EXPECT_FALSE(active);
}

TEST(FaultRuleTest, ReadFromJsonOrRefusedWithAReason) {
    QString error;
    const auto rule = FaultFromJson({{QStringLiteral("kind"), QStringLiteral("delay")},
                                     {QStringLiteral("codes"), QStringLiteral("20-2B,70")},
                                     {QStringLiteral("delay_ms"), 100}},
                                    error);
    ASSERT_TRUE(rule) << error.toStdString();
    EXPECT_TRUE(rule->Codes.test(0x2B) && rule->Codes.test(0x70) && !rule->Codes.test(0x2C));
    EXPECT_EQ(CodeListText(rule->Codes), QStringLiteral("20-2B,70"));
    for (const QJsonObject& wrong :
         {QJsonObject{{QStringLiteral("kind"), QStringLiteral("explode")}},
          QJsonObject{{QStringLiteral("kind"), QStringLiteral("nak")}, {QStringLiteral("codes"), QStringLiteral("zz")}},
          QJsonObject{{QStringLiteral("kind"), QStringLiteral("wrong-byte")}, {QStringLiteral("byte"), 6}},
          QJsonObject{{QStringLiteral("kind"), QStringLiteral("nak")}, {QStringLiteral("probability"), 2}}}) {
        error.clear();
        EXPECT_FALSE(FaultFromJson(wrong, error));
        EXPECT_FALSE(error.isEmpty());
    }
}

} // namespace
} // namespace volmar::testing
