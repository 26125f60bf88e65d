// The link between port, buffer and receiver; the port choice and the speed
// signal; Reset.
#include <algorithm>
#include <utility>
#include <vector>

#include "dataport/message.h"
#include "monitor/monitor_fixture.h"
#include "monitor/user_commands.h"

namespace volmar::testing {
namespace {

constexpr std::uint8_t kAckByte = 0x06;
constexpr std::uint8_t kNakByte = 0x15;

class LinkTest : public MonitorTest {
protected:
    std::string EventCell(int Col, int Row) { return monitor->Logs().Events.Cell(Col, Row); }
};

// Count one-forint coins (20h 20h each), as a machine writes them at once.
Bytes Coins(int Count) { return Bytes(static_cast<std::size_t>(2 * Count), 0x20); }

TEST_F(LinkTest, ABurstLongerThanTheReceiveBufferIsAnsweredInFull) {
    TMonitor& m = StartOnCom1();
    Send(Coins(200));
    EXPECT_EQ(Answers(200), Bytes(200, kAckByte));
    EXPECT_EQ(m.Counters().In, 200);
    EXPECT_EQ(m.Counters().Codes[0x20].Messages, 200);
}

// Holds back the engine's deferred commands, to be posted again later in order.
class CommandsHeld : public QObject {
public:
    bool eventFilter(QObject*, QEvent* Event) override {
        if (Event->type() != TUserEvent::EventType()) return false;
        const auto* command = static_cast<TUserEvent*>(Event);
        Held.emplace_back(command->Command(), command->Argument());
        return true;
    }
    std::vector<std::pair<int, std::intptr_t>> Held;
};

TEST_F(LinkTest, ALineErrorBehindAWaitingBurstSpoilsOnlyWhatCameAfterIt) {
    TMonitor& m = StartOnCom1();
    TComPortPlus& port = m.ComPortPlus();
    int avails = 0, errors = 0;
    port.OnTriggerAvail = [&, avail = port.OnTriggerAvail](TCustomComPort* CP, std::uint16_t N) {
        ++avails;
        avail(CP, N);
    };
    port.OnTriggerLineError = [&, error = port.OnTriggerLineError](TCustomComPort* CP,
                                                                   std::uint16_t E, bool B) {
        ++errors;
        error(CP, E, B);
    };
    // The port's notifications overtake the engine's own commands: a parity
    // error and a coin after it are announced while most of the burst waits.
    CommandsHeld commands;
    m.installEventFilter(&commands);
    Send(Coins(200));
    ASSERT_TRUE(PumpUntil([&] { return avails == 1; }));
    line->InjectError(kErrParity);
    Send({0x26, 0x26});
    ASSERT_TRUE(PumpUntil([&] { return avails == 2 && errors == 1; }));
    m.removeEventFilter(&commands);
    for (const auto& [command, argument] : commands.Held)
        m.PostCommand(static_cast<TUserCommand>(command), argument);

    EXPECT_EQ(Answers(200), Bytes(200, kAckByte));
    EXPECT_EQ(m.Counters().In, 200) << "the coin after the error is spoiled, and no other";
    const int rows = m.Logs().Events.RowCount();
    EXPECT_EQ(EventCell(1, rows - 2), "Rx parity error");
    EXPECT_EQ(EventCell(2, rows - 1), "No");
}

TEST_F(LinkTest, ALineErrorIsLoggedAndSpoilsTheNextMessage) {
    TMonitor& m = StartOnCom1();
    line->InjectError(kErrParity);
    ASSERT_TRUE(PumpUntil([&] { return m.Logs().Events.RowCount() == 2; }));
    EXPECT_EQ(EventCell(0, 1), "12:34:56");
    EXPECT_EQ(EventCell(1, 1), "Rx parity error");
    EXPECT_EQ(EventCell(2, 1), "No");
    Send({0x26, 0x26});
    ASSERT_TRUE(PumpUntil([&] { return m.Volmar().State() == dpsWaitQuiet; }));
    EXPECT_EQ(m.Logs().Events.RowCount(), 3) << "the spoiled message is logged";
    EXPECT_EQ(m.Counters().In, 0) << "and not acted on";
    clock.AdvanceTicks(kSilenceTicks + 1);
    EXPECT_EQ(Answers(1), Bytes{kNakByte}) << "the silence after it is answered with a NAK";

    // The line trigger was armed again: the next error is logged too.
    line->InjectError(kErrFraming);
    ASSERT_TRUE(PumpUntil([&] { return m.Logs().Events.RowCount() == 4; }));
    EXPECT_EQ(EventCell(1, 3), "Rx framing error");

    // Bytes the device itself had to drop are never lost without a trace.
    int overflows = 0;
    QObject::connect(&m, &TMonitor::TrafficRecorded, [&](const TTrafficRecord& R) {
        overflows += R.Event == TLineEvent::LineError && R.Value == leBuffer;
    });
    line->InjectError(kErrOverflow);
    ASSERT_TRUE(PumpUntil([&] { return m.Logs().Events.RowCount() == 5; }));
    EXPECT_EQ(EventCell(1, 4), "Buffer overrun");
    EXPECT_EQ(overflows, 1) << "on record";
}

TEST_F(LinkTest, ReceiverEventsInTheDebugLog) {
    Create().Logs().Debug.SetVisible(true);
    TMonitor& m = StartOnCom1();
    const auto& lines = m.Logs().Debug.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "4242 Dataport Reset: "), lines.end());
    Send({0x69});
    ASSERT_TRUE(PumpUntil([&] { return m.Volmar().State() == dpsWaitData; }));
    EXPECT_EQ(lines.back(), "4242 Dataport State Changed: Wait data (2 remaining)");
    Send({0x00, 0x0A});
    ASSERT_TRUE(PumpUntil([&] { return m.Volmar().State() == dpsWaitCks; }));
    EXPECT_EQ(lines.back(), "4242 Dataport State Changed: Wait cks");
    const std::size_t before = lines.size();
    clock.AdvanceTicks(2);
    ASSERT_TRUE(PumpUntil([&] { return m.Volmar().State() == dpsWaitQuiet; }));
    ASSERT_GE(lines.size(), before + 2);
    EXPECT_EQ(lines[before], "4242 Inter-character timeout: At stage 4 (Wait cks)");
    EXPECT_EQ(lines[before + 1], "4242 Dataport State Changed: Wait quiet");
}

TEST_F(LinkTest, NoDebugLinesWhileThePanelIsHidden) {
    TMonitor& m = StartOnCom1();
    Send({0x20, 0x20});
    Answers(1);
    EXPECT_TRUE(m.Logs().Debug.Lines().empty());
}

TEST_F(LinkTest, ResetWithThePortOpen) {
    TMonitor& m = StartOnCom1();
    Send({0x26, 0x26});
    Answers(1);
    m.SetSwitchStates(0x0070);
    const int inputPurges = line->InputPurges();
    const int outputPurges = line->OutputPurges();
    view.Calls.clear();
    m.Reset();
    Settle();
    EXPECT_EQ(line->InputPurges(), inputPurges + 1);
    EXPECT_EQ(line->OutputPurges(), outputPurges + 1);
    EXPECT_EQ(m.Counters().In, 0);
    EXPECT_EQ(m.Counters().Codes[0x26].Messages, 0);
    EXPECT_EQ(m.Logs().Messages.Cell(2, 0x26 + 1), "");
    EXPECT_EQ(m.Logs().Events.RowCount(), 1) << "cut to the title row";
    EXPECT_EQ(m.Switches(), 0);
    EXPECT_EQ(view.Calls, (std::vector<std::string>{"Status=Resetting...", "Switches=0",
                                                    "ResetMeters", "Status=", "Meters=0"}))
        << "the identity is kept";
    EXPECT_EQ(m.Volmar().State(), dpsWaitHeaderNak);
}

TEST_F(LinkTest, ResetWithThePortClosed) {
    TMonitor& m = Start();
    m.Counters().Stakes = 40;
    m.Reset();
    Settle();
    EXPECT_TRUE(view.Errors.empty());
    EXPECT_EQ(m.Counters().Stakes, 0);
    EXPECT_EQ(view.Last("Meters="), "0");
    EXPECT_EQ(line->InputPurges(), 0);
}

TEST_F(LinkTest, AutoBaudFollowsTheSpeedSignal) {
    TMonitor& m = StartOnCom1("[Dataport]\nSpeed Mode=0\n");
    EXPECT_TRUE(m.AutoBaudActive());
    EXPECT_EQ(view.Last("Baud="), "1200");
    EXPECT_EQ(view.Last("SpeedSelect="), "active");
    line->SetModemLines(kModemCTS);
    ASSERT_TRUE(PumpUntil([&] { return m.ComPortPlus().Baud() == 9600; }));
    Settle();
    EXPECT_EQ(view.Last("Baud="), "9600");
    EXPECT_EQ(line->Settings().Baud, 9600);
    EXPECT_EQ(line->Settings().Parity, pOdd) << "only the baud changes";
    line->SetModemLines(0);
    ASSERT_TRUE(PumpUntil([&] { return m.ComPortPlus().Baud() == 1200; }));
    Settle();
    EXPECT_EQ(view.Last("Baud="), "1200");
    line->SetModemLines(kModemCTS);
    ASSERT_TRUE(PumpUntil([&] { return m.ComPortPlus().Baud() == 9600; })) << "and again";
}

TEST_F(LinkTest, AFixedSpeedIgnoresTheSignalUntilAutoBaud) {
    TMonitor& m = StartOnCom1("[Dataport]\nSpeed Mode=2\n");
    EXPECT_EQ(view.Last("SpeedSelect="), "inactive");
    line->SetModemLines(kModemCTS);
    PumpFor(150);
    Settle();
    EXPECT_EQ(m.ComPortPlus().Baud(), 9600);
    line->SetModemLines(0);
    PumpFor(150);
    Settle();
    EXPECT_EQ(m.ComPortPlus().Baud(), 9600) << "9600 Baud ignores the signal";
    EXPECT_EQ(view.Last("Baud="), "9600");
    m.SetSpeedMode(smAuto);
    EXPECT_EQ(m.ComPortPlus().Baud(), 1200) << "Auto Baud takes the signal's present state";
    EXPECT_EQ(view.Last("SpeedSelect="), "active");
}

TEST_F(LinkTest, AutoBaudWithThePortClosedOnlyRefreshesTheLabel) {
    TMonitor& m = Start();
    view.Calls.clear();
    m.SetSpeedMode(smAuto);
    EXPECT_EQ(m.ComPortPlus().Baud(), 9600);
    EXPECT_EQ(view.Calls, (std::vector<std::string>{"SpeedMode=0", "Baud=9600",
                                                    "SpeedSelect=inactive"}));
}

TEST_F(LinkTest, APortInUseFallsBackToNone) {
    WriteSettings("");
    TComPortPlus other;
    other.SetDevicePath(line->DevicePath());
    other.SetOpen(true);
    TMonitor& m = Start();
    m.ChoosePort(1);
    EXPECT_EQ(view.Warnings,
              std::vector<std::string>{"COM1 port is in use, please select another port"});
    EXPECT_FALSE(m.ComPortPlus().Open());
    EXPECT_EQ(m.ComPortPlus().ComNumber(), 0);
    EXPECT_EQ(view.Last("Port="), "0");
    EXPECT_TRUE(view.Errors.empty());
}

TEST_F(LinkTest, ChoosingAnotherPortAndNone) {
    TMonitor& m = StartOnCom1();
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    auto second = TVirtualLine::Create("win-second-" + test);
    SetDevicePathForCom(2, second->DevicePath());
    m.ChoosePort(2);
    EXPECT_FALSE(line->IsOpen());
    EXPECT_TRUE(second->IsOpen());
    EXPECT_EQ(view.Last("Port="), "2");
    Settle();
    second->Send({0x20, 0x20});
    Bytes got;
    ASSERT_TRUE(PumpUntil([&] {
        const Bytes more = second->TakeSent();
        got.insert(got.end(), more.begin(), more.end());
        return !got.empty();
    }));
    EXPECT_EQ(got, Bytes{kAckByte}) << "the receiver answers on the new port";
    m.ChoosePort(2);
    EXPECT_TRUE(second->IsOpen()) << "the same entry changes nothing";
    m.ChoosePort(0);
    EXPECT_FALSE(second->IsOpen());
    EXPECT_EQ(m.Volmar().TimerHandle(), 0);
    EXPECT_EQ(view.Last("Lights="), "off");
}

} // namespace
} // namespace volmar::testing
