// Corners of the window's link, port and panel handling: two notifications
// before their deferred commands run, a fixed speed's effect on the
// speed-signal trigger, a failed port chosen again, refreshes out of range,
// the values mode on the panel, settings that cannot be used.
#include "app/window_fixture.h"
#include "dataport/message.h"

namespace volmar::testing {
namespace {

constexpr std::uint8_t kAckByte = 0x06;

class EdgeTest : public WindowTest {
protected:
    TfrmVolmar& StartOnCom1(const std::string& More = "") {
        WriteSettings("[Comms]\nPort=1\n" + More);
        TfrmVolmar& w = Start();
        EXPECT_TRUE(w.Monitor().ComPortPlus().Open());
        return w;
    }
    std::uint8_t Exchange(std::uint8_t Header, const Bytes& Data = {}) {
        Send(BuildMessageFrame(Header, Data));
        const Bytes answer = Answers(1);
        return answer.empty() ? 0 : answer.back();
    }
};

// Holds the window's deferred commands back while Holding, and notes what
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
    explicit CommandSpy(TfrmVolmar& W) : FWindow(W) { W.Monitor().installEventFilter(this); }
    Seen Now() const {
        return {FWindow.Monitor().RxBuffer().Count(), FWindow.Monitor().Volmar().State(), FWindow.Monitor().Counters().In,
                FWindow.Monitor().Logs().Debug.Lines().size()};
    }
    // Posts the held commands again, in their order.
    void Release() {
        Holding = false;
        for (const auto& [command, argument] : Held)
            FWindow.Monitor().PostCommand(static_cast<TUserCommand>(command), argument);
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
    TfrmVolmar& FWindow;
};

TEST_F(EdgeTest, TheFirstProcessRxTakesTheBytesOfTwoNotificationsTheSecondChangesNothing) {
    TfrmVolmar& w = StartOnCom1("[Options]\nDebug=1\n");
    CommandSpy spy(w);
    spy.Holding = true;
    // One "1Ft In" frame, its header and its checksum announced apart.
    Send({0x20});
    ASSERT_TRUE(PumpUntil([&] { return w.Monitor().RxBuffer().Count() == 1; }));
    Send({0x20});
    ASSERT_TRUE(PumpUntil([&] { return w.Monitor().RxBuffer().Count() == 2; }));
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

TEST_F(EdgeTest, AFixedSpeedLeavesTheSpeedSignalTriggerOffUntilItIsArmedAgain) {
    TfrmVolmar& w = StartOnCom1("[Dataport]\nSpeed Mode=1\n");
    TStatusLight* lamp = w.pnlSmallMeters->ledSpeedSelect;
    // The lamp's trigger is examined after the window's, so a lit lamp means
    // the window has had its notification too.
    line->SetModemLines(kModemCTS);
    ASSERT_TRUE(PumpUntil([&] { return lamp->Lit(); }));
    Settle();
    EXPECT_EQ(w.Monitor().ComPortPlus().Baud(), 1200);
    w.btnAutoBaud->trigger();
    EXPECT_EQ(w.Monitor().ComPortPlus().Baud(), 9600) << "Auto Baud takes the signal as it is";

    line->SetModemLines(0);
    ASSERT_TRUE(PumpUntil([&] { return !lamp->Lit(); }));
    Settle();
    EXPECT_EQ(w.Monitor().ComPortPlus().Baud(), 9600) << "the notification in 1200 Baud left it unarmed";

    w.Monitor().PostCommand(ucArmSpeedSignal);
    Settle();
    line->SetModemLines(kModemCTS);
    ASSERT_TRUE(PumpUntil([&] { return lamp->Lit(); }));
    Settle();
    line->SetModemLines(0);
    EXPECT_TRUE(PumpUntil([&] { return w.Monitor().ComPortPlus().Baud() == 1200; }))
        << "followed again once armed";
}

TEST_F(EdgeTest, ChoosingAPortThatFailedToOpenTriesItAgain) {
    WriteSettings("[Devices]\nCOM3=" + (dir / "no-such-device").string() + "\n[Comms]\nPort=3\n",
                  false);
    TfrmVolmar& w = Start();
    ASSERT_EQ(errors.size(), 1u);
    SetDevicePathForCom(3, line->DevicePath());
    emit w.cmbxComPort->activated(3);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_TRUE(line->IsOpen());
    emit w.cmbxComPort->activated(3);
    EXPECT_TRUE(w.Monitor().ComPortPlus().Open()) << "an open port's own entry changes nothing";
}

TEST_F(EdgeTest, RefreshesOutOfRangeChangeNoMeter) {
    TfrmVolmar& w = Start();
    for (int i = 1; i <= kMeterCount; ++i) *MeterTotal(w.Monitor().Counters(), i) = i;
    w.UpdateMeters(11);
    w.UpdateMeters(-1);
    for (int i = 1; i <= kMeterCount; ++i) EXPECT_EQ(w.MachinePage->Meter(i)->Value(), 0) << i;
    EXPECT_EQ(w.pnlSmallMeters->Meter(miIn)->Value(), 0);
    w.UpdateMeters(kMeterCount);
    EXPECT_EQ(w.MachinePage->Meter(kMeterCount)->Value(), kMeterCount) << "the last index is in";
}

TEST_F(EdgeTest, PowerOnShowsTheValuesModeOnThePanel) {
    StartOnCom1();
    Bytes power(20, 0);
    power[19] = 1;
    ASSERT_EQ(Exchange(0x70, power), kAckByte);
    EXPECT_EQ(window->MachinePage->ValuesModeText().toStdString(), "Binary");
    power[19] = 3;
    ASSERT_EQ(Exchange(0x70, power), kAckByte);
    EXPECT_EQ(window->MachinePage->ValuesModeText().toStdString(), "BCD");
}

TEST_F(WindowTest, OutOfRangeSettingsAreNotedNonNumbersStaySilent) {
    WriteSettings("[Comms]\nPort=70000\n[Dataport]\nSpeed Mode=3\n");
    TfrmVolmar& w = Start();
    EXPECT_EQ(w.Monitor().Reports().Alert().toStdString(), "VolmarSim.Ini: Port=70000 is not usable, None is used; "
                                       "Speed Mode=3 is not usable, 9600 Baud is used");
    EXPECT_FALSE(w.Monitor().ComPortPlus().Open());
    EXPECT_EQ(w.Monitor().SpeedMode(), sm9600);
    EXPECT_TRUE(errors.empty()) << "no box";
    Close();
    const std::string ini = ReadFile(kSettingsFileName);
    EXPECT_NE(ini.find("Port=0\n"), std::string::npos);
    EXPECT_NE(ini.find("Speed Mode=2\n"), std::string::npos);

    WriteSettings("[Comms]\nPort=x\n[Dataport]\nSpeed Mode=fast\n");
    EXPECT_TRUE(Start().Monitor().Reports().Alert().isEmpty()) << "not a number at all reads as missing";
}

} // namespace
} // namespace volmar::testing
