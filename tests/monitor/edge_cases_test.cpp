// Corners of the engine's link and port handling: two notifications before
// their deferred commands run, a fixed speed's effect on the speed-signal
// trigger, a failed port chosen again, settings that cannot be used.
#include "monitor/monitor_fixture.h"

namespace volmar::testing {
namespace {

constexpr std::uint8_t kAckByte = 0x06;

// Holds the engine's deferred commands back while Holding, and notes what
// each ucProcessRx finds when it comes up.
class CommandSpy : public QObject {
public:
    struct Seen {
        int Buffered;
        TDPState State;
        std::int32_t In;
        std::size_t DebugLines;
        bool operator==(const Seen&) const = default;
    };
    explicit CommandSpy(TMonitor& M) : FMonitor(M) { M.installEventFilter(this); }
    Seen Now() const {
        return {FMonitor.RxBuffer().Count(), FMonitor.Volmar().State(), FMonitor.Counters().In,
                FMonitor.Logs().Debug.Lines().size()};
    }
    // Posts the held commands again, in their order.
    void Release() {
        Holding = false;
        for (const auto& [command, argument] : Held)
            FMonitor.PostCommand(static_cast<TUserCommand>(command), argument);
    }
    bool Holding = false;
    std::vector<std::pair<int, std::intptr_t>> Held;
    std::vector<Seen> ProcessRxRuns;

protected:
    bool eventFilter(QObject*, QEvent* Event) override {
        if (Event->type() != TUserEvent::EventType()) return false;
        const auto* command = static_cast<TUserEvent*>(Event);
        if (Holding) {
            Held.emplace_back(command->Command(), command->Argument());
            return true;
        }
        if (command->Command() == ucProcessRx) ProcessRxRuns.push_back(Now());
        return false;
    }

private:
    TMonitor& FMonitor;
};

// A lamp's view of the speed signal: a modem trigger of its own, examined
// after the engine's, that reads CTS (taking the change with it) and arms
// itself again, as the window's status lights do.
class SignalLamp {
public:
    explicit SignalLamp(TComPortPlus& Port) : FPort(Port) {
        FHandle = Port.AddStatusTrigger(stModem);
        Port.OnTriggerStatus = [this](TCustomComPort* CP, std::uint16_t Handle) {
            if (Handle != FHandle) return;
            Lit = CP->CTS();
            Arm();
        };
        Port.UpdateHandlerFlags();
        Arm();
    }
    ~SignalLamp() {
        FPort.OnTriggerStatus = nullptr;
        if (FPort.Open()) FPort.RemoveTrigger(FHandle);
    }
    bool Lit = false;

private:
    void Arm() { FPort.SetStatusTrigger(FHandle, 0x10, true); }
    TComPortPlus& FPort;
    std::uint16_t FHandle = 0;
};

TEST_F(MonitorTest, TheFirstProcessRxTakesTheBytesOfTwoNotificationsTheSecondChangesNothing) {
    Create().Logs().Debug.SetVisible(true);
    TMonitor& m = StartOnCom1();
    CommandSpy spy(m);
    spy.Holding = true;
    // One "1Ft In" frame, its header and its checksum announced apart.
    Send({0x20});
    ASSERT_TRUE(PumpUntil([&] { return m.RxBuffer().Count() == 1; }));
    Send({0x20});
    ASSERT_TRUE(PumpUntil([&] { return m.RxBuffer().Count() == 2; }));
    ASSERT_EQ(spy.Held, (std::vector<std::pair<int, std::intptr_t>>{{ucProcessRx, 0},
                                                                    {ucProcessRx, 0}}));
    spy.Release();

    EXPECT_EQ(Answers(1), Bytes{kAckByte});
    ASSERT_EQ(spy.ProcessRxRuns.size(), 2u);
    EXPECT_EQ(spy.ProcessRxRuns[0].Buffered, 2);
    EXPECT_EQ(spy.ProcessRxRuns[1].Buffered, 0) << "the first command took both bytes";
    EXPECT_EQ(spy.ProcessRxRuns[1].In, 1);
    EXPECT_EQ(spy.Now(), spy.ProcessRxRuns[1]) << "the second changed nothing";
    PumpFor(100);
    EXPECT_TRUE(line->TakeSent().empty()) << "and answered nothing";
}

TEST_F(MonitorTest, AFixedSpeedLeavesTheSpeedSignalTriggerOffUntilItIsArmedAgain) {
    TMonitor& m = StartOnCom1("[Dataport]\nSpeed Mode=1\n");
    // A lit lamp means the engine has had its notification too.
    SignalLamp lamp(m.ComPortPlus());
    line->SetModemLines(kModemCTS);
    ASSERT_TRUE(PumpUntil([&] { return lamp.Lit; }));
    Settle();
    EXPECT_EQ(m.ComPortPlus().Baud(), 1200);
    m.SetSpeedMode(smAuto);
    EXPECT_EQ(m.ComPortPlus().Baud(), 9600) << "Auto Baud takes the signal as it is";

    line->SetModemLines(0);
    ASSERT_TRUE(PumpUntil([&] { return !lamp.Lit; }));
    Settle();
    EXPECT_EQ(m.ComPortPlus().Baud(), 9600) << "the notification in 1200 Baud left it unarmed";

    m.PostCommand(ucArmSpeedSignal);
    Settle();
    line->SetModemLines(kModemCTS);
    ASSERT_TRUE(PumpUntil([&] { return lamp.Lit; }));
    Settle();
    line->SetModemLines(0);
    EXPECT_TRUE(PumpUntil([&] { return m.ComPortPlus().Baud() == 1200; }))
        << "followed again once armed";
}

TEST_F(MonitorTest, ChoosingAPortThatFailedToOpenTriesItAgain) {
    WriteSettings("[Devices]\nCOM3=" + (dir / "no-such-device").string() + "\n[Comms]\nPort=3\n",
                  false);
    TMonitor& m = Start();
    ASSERT_EQ(view.Errors.size(), 1u);
    SetDevicePathForCom(3, line->DevicePath());
    m.ChoosePort(3);
    EXPECT_EQ(view.Errors.size(), 1u);
    EXPECT_TRUE(line->IsOpen());
    m.ChoosePort(3);
    EXPECT_TRUE(m.ComPortPlus().Open()) << "an open port's own entry changes nothing";
}

TEST_F(MonitorTest, OutOfRangeSettingsAreNotedNonNumbersStaySilent) {
    WriteSettings("[Comms]\nPort=70000\n[Dataport]\nSpeed Mode=3\n");
    TMonitor& m = Start();
    EXPECT_EQ(m.Reports().Alert().toStdString(),
              "VolmarSim.Ini: Port=70000 is not usable, None is used; "
              "Speed Mode=3 is not usable, 9600 Baud is used");
    EXPECT_FALSE(m.ComPortPlus().Open());
    EXPECT_EQ(m.SpeedMode(), sm9600);
    EXPECT_TRUE(view.Errors.empty()) << "no box";
    Close();
    const std::string ini = ReadFile(kSettingsFileName);
    EXPECT_NE(ini.find("Port=0\n"), std::string::npos);
    EXPECT_NE(ini.find("Speed Mode=2\n"), std::string::npos);

    WriteSettings("[Comms]\nPort=x\n[Dataport]\nSpeed Mode=fast\n");
    EXPECT_TRUE(Start().Reports().Alert().isEmpty()) << "not a number at all reads as missing";
}

} // namespace
} // namespace volmar::testing
