// The status-light controller over the virtual line, with the port on a
// manual clock: lamps lit by line events and put out by timers, the
// owner's handlers kept in the chain and handed back, and activation
// following the port's opening and closing.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dataport/receiver.h"
#include "serial/ui/sl_controller.h"
#include "serial/virtual_line.h"
#include "support/qt_pump.h"

namespace volmar {
namespace {

using testing::PumpFor;
using testing::PumpUntil;

constexpr int kWaitMs = 5000;

bool WaitFor(const std::function<bool()>& Done) { return PumpUntil(Done, kWaitMs); }

// What the main window and the dataport put on the port, as named types so
// a test can tell them from the controller's handlers.
struct TOwnerLog {
    std::vector<std::uint16_t> AvailCounts;
    std::vector<std::uint16_t> StatusHandles;
    std::vector<std::uint16_t> TimerHandles;
    std::vector<bool> ModemDeltaCTS;
    std::vector<std::uint16_t> LineErrors;
    bool TakeBytes = true;
};

struct TOwnerAvail {
    TOwnerLog* Log;
    void operator()(TCustomComPort* CP, std::uint16_t Count) const {
        Log->AvailCounts.push_back(Count);
        if (Log->TakeBytes)
            for (int i = 0; i < Count; ++i) CP->GetChar();
    }
};

struct TOwnerStatus {
    TOwnerLog* Log;
    void operator()(TCustomComPort*, std::uint16_t Handle) const {
        Log->StatusHandles.push_back(Handle);
    }
};

struct TOwnerTimer {
    TOwnerLog* Log;
    void operator()(TCustomComPort*, std::uint16_t Handle) const {
        Log->TimerHandles.push_back(Handle);
    }
};

struct SLControllerTest : ::testing::Test {
    std::shared_ptr<TVirtualLine> line = TVirtualLine::Create(
        std::string("slc-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    TManualTickClock clock{1000};
    TCustomComPort port;
    TOwnerLog owner;
    TStatusLight cts, dsr, dcd, ring, txd, rxd, error, brk;
    TSLController controller;

    // The main window's own triggers, added after each open.
    std::uint16_t ownerModem = 0, ownerLine = 0, ownerTimer = 0;

    void SetUp() override {
        port.SetDevicePath(line->DevicePath());
        port.SetClock(&clock);
        port.SetAutoOpen(false);
        port.OnTriggerAvail = TOwnerAvail{&owner};
        port.OnTriggerTimer = TOwnerTimer{&owner};
        port.OnTriggerModemStatus = [this](TCustomComPort* CP) {
            owner.ModemDeltaCTS.push_back(CP->DeltaCTS());
        };
        port.OnTriggerLineError = [this](TCustomComPort*, std::uint16_t Error, bool) {
            owner.LineErrors.push_back(Error);
        };
        controller.SetComPort(&port);
    }

    // Without the line trigger when the controller's error lamp is to see
    // the errors: the earlier trigger's handler reads (and so clears) them.
    void OpenLikeTheMainWindow(bool WithLineTrigger = true) {
        port.SetOpen(true);
        ownerModem = port.AddStatusTrigger(stModem);
        port.SetStatusTrigger(ownerModem, kModemCTS, true);
        if (WithLineTrigger) {
            ownerLine = port.AddStatusTrigger(stLine);
            port.SetStatusTrigger(ownerLine, 7, true);
        }
        ownerTimer = port.AddTimerTrigger();
    }

    void UseMainWindowLamps() {
        TLightSet set;
        set.CTSLight = &cts;
        set.TXDLight = &txd;
        set.RXDLight = &rxd;
        controller.SetLights(set);
    }

    void UseAllLamps() {
        controller.SetLights({&cts, &dsr, &dcd, &ring, &txd, &rxd, &error, &brk});
    }
};

TEST_F(SLControllerTest, DefaultsAndTheMissingPort) {
    TSLController fresh;
    EXPECT_EQ(fresh.ComPort(), nullptr);
    EXPECT_FALSE(fresh.Active());
    EXPECT_EQ(fresh.ErrorOffTimeout(), 36);
    EXPECT_EQ(fresh.BreakOffTimeout(), 36);
    EXPECT_EQ(fresh.RXDOffTimeout(), 1);
    EXPECT_EQ(fresh.TXDOffTimeout(), 1);
    EXPECT_EQ(fresh.RingOffTimeout(), 8);
    const TLightSet lights = fresh.Lights();
    for (TStatusLight* lamp : {lights.CTSLight, lights.DSRLight, lights.DCDLight, lights.RINGLight,
                               lights.TXDLight, lights.RXDLight, lights.ERRORLight,
                               lights.BREAKLight})
        EXPECT_EQ(lamp, nullptr);

    try {
        fresh.SetActive(true);
        FAIL() << "activated without a port";
    } catch (const EPortNotAssigned& e) {
        EXPECT_EQ(e.Code(), -1005);
        EXPECT_STREQ(e.what(), "ComPort component not assigned");
    }
    EXPECT_FALSE(fresh.Active());
    EXPECT_NO_THROW(fresh.SetActive(false)) << "already inactive: nothing to do";
}

TEST_F(SLControllerTest, ReceiveLampHoldsWhileBytesWaitAndIsNotReArmedWhileLit) {
    UseMainWindowLamps();
    OpenLikeTheMainWindow();
    controller.SetActive(true);
    ASSERT_TRUE(controller.Active());
    EXPECT_FALSE(rxd.Lit());

    line->Send({1, 2});
    ASSERT_TRUE(WaitFor([&] { return owner.AvailCounts.size() == 1; }));
    EXPECT_TRUE(rxd.Lit());
    EXPECT_EQ(owner.AvailCounts[0], 2) << "the saved handler gets the same count";

    // One tick on, more data: the lamp is lit, so its timer keeps its expiry.
    clock.AdvanceTicks(1);
    line->Send({3});
    ASSERT_TRUE(WaitFor([&] { return owner.AvailCounts.size() == 2; }));
    PumpFor(100);
    EXPECT_TRUE(rxd.Lit()) << "one tick is not past the hold time";
    clock.AdvanceTicks(1);
    EXPECT_TRUE(WaitFor([&] { return !rxd.Lit(); }))
        << "out two ticks after it was lit, not two after the second burst";

    // Bytes left in the ring keep it lit for another hold time.
    owner.TakeBytes = false;
    line->Send({4});
    ASSERT_TRUE(WaitFor([&] { return rxd.Lit(); }));
    const std::size_t timersBefore = owner.TimerHandles.size();
    clock.AdvanceTicks(2);
    ASSERT_TRUE(WaitFor([&] { return owner.TimerHandles.size() > timersBefore; }))
        << "the receive timer reaches the saved timer handler too";
    EXPECT_TRUE(rxd.Lit());
    EXPECT_EQ(port.GetChar(), 4);
    clock.AdvanceTicks(2);
    EXPECT_TRUE(WaitFor([&] { return !rxd.Lit(); }));
}

TEST_F(SLControllerTest, TransmitLampLitBySendingAndOutAfterItsHoldTime) {
    UseMainWindowLamps();
    OpenLikeTheMainWindow();
    controller.SetActive(true);

    port.PutString("AB");
    ASSERT_TRUE(WaitFor([&] { return txd.Lit(); }));
    ASSERT_TRUE(line->WaitSent(2, std::chrono::milliseconds(kWaitMs)));
    EXPECT_EQ(line->TakeSent(), (std::vector<std::uint8_t>{'A', 'B'}));
    ASSERT_TRUE(WaitFor([&] { return port.OutBuffUsed() == 0; }));
    clock.AdvanceTicks(2);
    ASSERT_TRUE(WaitFor([&] { return !txd.Lit(); }));

    // Going out re-armed the output-sent trigger.
    port.PutChar('C');
    EXPECT_TRUE(WaitFor([&] { return txd.Lit(); }));
    clock.AdvanceTicks(2);
    EXPECT_TRUE(WaitFor([&] { return !txd.Lit(); }));
    EXPECT_FALSE(rxd.Lit()) << "sending does not light the receive lamp";
}

TEST_F(SLControllerTest, CtsLampFollowsTheLineAndTheOwnerStillSeesTheChange) {
    UseMainWindowLamps();
    OpenLikeTheMainWindow();
    port.OnTriggerStatus = TOwnerStatus{&owner};
    line->SetModemLines(kModemCTS);
    ASSERT_TRUE(WaitFor([&] { return (port.ModemStatus() & kModemCTS) != 0; }));
    // Let the owner's own trigger report the change before the controller starts.
    ASSERT_TRUE(WaitFor([&] { return owner.ModemDeltaCTS.size() == 1; }));
    port.SetStatusTrigger(ownerModem, kModemCTS, true);

    controller.SetActive(true);
    EXPECT_TRUE(cts.Lit()) << "read at activation";

    line->SetModemLines(0);
    ASSERT_TRUE(WaitFor([&] { return !cts.Lit(); }));
    ASSERT_TRUE(WaitFor([&] { return owner.ModemDeltaCTS.size() >= 3; }))
        << "the owner's modem handler hears its trigger and the controller's";
    EXPECT_TRUE(owner.ModemDeltaCTS[1])
        << "the owner's earlier trigger is handled before the controller reads CTS";
    EXPECT_NE(std::find(owner.StatusHandles.begin(), owner.StatusHandles.end(), ownerModem),
              owner.StatusHandles.end())
        << "the owner's status handler received its own handle";

    line->SetModemLines(kModemCTS);
    EXPECT_TRUE(WaitFor([&] { return cts.Lit(); })) << "the modem trigger was re-armed";

    controller.SetActive(false);
    EXPECT_FALSE(cts.Lit()) << "inactive lamps are out";
}

TEST_F(SLControllerTest, HandlersAreChainedAndHandedBackExactly) {
    UseMainWindowLamps();
    OpenLikeTheMainWindow();
    ASSERT_FALSE(port.OnTriggerStatus) << "the main window has no status handler";

    controller.SetActive(true);
    EXPECT_EQ(port.OnTriggerAvail.target<TOwnerAvail>(), nullptr) << "the controller sits in front";
    EXPECT_EQ(port.OnTriggerTimer.target<TOwnerTimer>(), nullptr);
    EXPECT_TRUE(port.OnTriggerStatus);

    port.SetTimerTrigger(ownerTimer, 3, true);
    clock.AdvanceTicks(4);
    ASSERT_TRUE(WaitFor([&] { return !owner.TimerHandles.empty(); }));
    EXPECT_EQ(owner.TimerHandles, (std::vector<std::uint16_t>{ownerTimer}))
        << "the dataport's timer reaches it with its own handle";

    controller.SetActive(false);
    EXPECT_NE(port.OnTriggerAvail.target<TOwnerAvail>(), nullptr);
    EXPECT_NE(port.OnTriggerTimer.target<TOwnerTimer>(), nullptr);
    EXPECT_FALSE(port.OnTriggerStatus) << "an empty handler comes back empty";

    line->Send({7});
    ASSERT_TRUE(WaitFor([&] { return owner.AvailCounts.size() == 1; }));
    EXPECT_FALSE(rxd.Lit()) << "no longer driven";
    port.SetTimerTrigger(ownerTimer, 1, true);
    clock.AdvanceTicks(2);
    EXPECT_TRUE(WaitFor([&] { return owner.TimerHandles.size() == 2; }));
    port.PutChar('x');
    ASSERT_TRUE(line->WaitSent(1, std::chrono::milliseconds(kWaitMs)));
    PumpFor(100);
    EXPECT_FALSE(txd.Lit());
}

TEST_F(SLControllerTest, TheReceiverKeepsWorkingBehindTheController) {
    TSerialBuffer buffer(256);
    TVolmarDataport rx;
    rx.OnDPMessage = [](TVolmarDataport*, PDPMessage, bool, TAcception& a) { a = acAccepted; };
    port.OnTriggerAvail = [&](TCustomComPort* cp, std::uint16_t n) {
        for (int i = 0; i < n; ++i) buffer.Put(cp->GetChar());
        rx.ProcessBuffer(buffer);
    };
    UseMainWindowLamps();
    port.SetOpen(true);
    rx.SetComPort(&port);
    rx.SetTimerHandle(port.AddTimerTrigger());
    controller.SetActive(true);
    rx.ResetReceiver();

    clock.AdvanceTicks(19);
    ASSERT_TRUE(WaitFor([&] { return line->WaitSent(1, std::chrono::milliseconds(0)); }));
    EXPECT_EQ(line->TakeSent(), (std::vector<std::uint8_t>{0x15}))
        << "the receiver's timer still fires: the first-message NAK";
    EXPECT_TRUE(WaitFor([&] { return txd.Lit(); }));

    line->Send({0x26, 0x26});
    ASSERT_TRUE(WaitFor([&] { return line->WaitSent(1, std::chrono::milliseconds(0)); }));
    EXPECT_EQ(line->TakeSent(), (std::vector<std::uint8_t>{0x06}))
        << "received bytes still reach the main window's handler";
    EXPECT_TRUE(rxd.Lit());

    controller.SetActive(false);
    line->Send({0x26, 0x26});
    ASSERT_TRUE(WaitFor([&] { return line->WaitSent(1, std::chrono::milliseconds(0)); }));
    EXPECT_EQ(line->TakeSent(), (std::vector<std::uint8_t>{0x06})) << "and after deactivation";
    rx.SetTimerHandle(0);
    rx.SetComPort(nullptr);
}

TEST_F(SLControllerTest, MainWindowLampsAddNoLineTrigger) {
    UseMainWindowLamps();
    OpenLikeTheMainWindow();
    port.OnTriggerStatus = TOwnerStatus{&owner};
    ASSERT_EQ(ownerTimer, 24) << "three handles so far";

    controller.SetActive(true);
    // Handles are counted out in eights: the next one shows how many the
    // controller took.
    const std::uint16_t probe = port.AddTimerTrigger();
    EXPECT_EQ(probe, 64) << "a modem trigger, two timers and an output-sent trigger";
    port.RemoveTrigger(probe);

    port.PutChar('x');
    line->SetModemLines(kModemCTS);
    ASSERT_TRUE(WaitFor([&] { return cts.Lit() && txd.Lit(); }));
    for (std::uint16_t h : owner.StatusHandles) {
        if (h == ownerModem || h == ownerLine) continue;
        EXPECT_TRUE((h & 7) == stModem || (h & 7) == stOutSent) << "handle " << h;
    }
    EXPECT_GE(owner.StatusHandles.size(), 3u) << "the saved status handler sees every trigger";

    line->InjectError(kErrFraming);
    ASSERT_TRUE(WaitFor([&] { return !owner.LineErrors.empty(); }));
    EXPECT_EQ(owner.LineErrors[0], leFraming) << "the error code is left for the main window";
}

TEST_F(SLControllerTest, EveryLampWithItsTriggersAndHoldTimes) {
    UseAllLamps();
    controller.SetBreakOffTimeout(3);
    OpenLikeTheMainWindow(false);
    controller.SetActive(true);
    EXPECT_EQ(port.AddTimerTrigger(), 12 * 8) << "nine triggers after the owner's two";

    line->InjectError(kErrBreak);
    ASSERT_TRUE(WaitFor([&] { return brk.Lit(); }));
    EXPECT_FALSE(error.Lit()) << "the error lamp does not watch breaks";
    EXPECT_FALSE(port.LineBreak()) << "the break lamp's trigger read the break";
    clock.AdvanceTicks(4);
    ASSERT_TRUE(WaitFor([&] { return !brk.Lit(); }));

    line->InjectError(kErrFraming);
    ASSERT_TRUE(WaitFor([&] { return error.Lit(); }));
    ASSERT_TRUE(WaitFor([&] { return !owner.LineErrors.empty(); }));
    EXPECT_EQ(owner.LineErrors[0], leNoError) << "the error lamp's trigger read the error first";
    EXPECT_FALSE(brk.Lit());
    clock.AdvanceTicks(36);
    PumpFor(100);
    EXPECT_TRUE(error.Lit()) << "36 ticks are not past the hold time";
    clock.AdvanceTicks(1);
    ASSERT_TRUE(WaitFor([&] { return !error.Lit(); }));
    line->InjectError(kErrParity);
    EXPECT_TRUE(WaitFor([&] { return error.Lit(); })) << "the error trigger was re-armed";

    line->SetModemLines(kModemDSR | kModemDCD);
    ASSERT_TRUE(WaitFor([&] { return dsr.Lit() && dcd.Lit(); }));
    EXPECT_FALSE(cts.Lit());
    line->SetModemLines(kModemDCD);
    ASSERT_TRUE(WaitFor([&] { return !dsr.Lit(); }));
    EXPECT_TRUE(dcd.Lit());

    line->SetModemLines(kModemDCD | kModemRI);
    ASSERT_TRUE(WaitFor([&] { return ring.Lit(); }));
    clock.AdvanceTicks(9);
    EXPECT_TRUE(WaitFor([&] { return !ring.Lit(); }));

    controller.SetActive(false);
    for (TStatusLight* lamp : {&cts, &dsr, &dcd, &ring, &txd, &rxd, &error, &brk})
        EXPECT_FALSE(lamp->Lit());
}

TEST_F(SLControllerTest, DeactivationRemovesTheControllersTriggers) {
    UseMainWindowLamps();
    OpenLikeTheMainWindow();
    controller.SetActive(true);
    controller.SetActive(false);
    port.OnTriggerStatus = TOwnerStatus{&owner};
    port.UpdateHandlerFlags();

    line->SetModemLines(kModemCTS);
    port.PutChar('x');
    ASSERT_TRUE(WaitFor([&] { return !owner.StatusHandles.empty(); }));
    PumpFor(150);
    EXPECT_EQ(owner.StatusHandles, (std::vector<std::uint16_t>{ownerModem}))
        << "only the main window's trigger is left";
}

TEST_F(SLControllerTest, ActivationFollowsThePortOpeningAndClosing) {
    UseMainWindowLamps();
    line->SetModemLines(kModemCTS);
    controller.SetActive(true);
    EXPECT_FALSE(controller.Active()) << "a closed port only records the request";
    EXPECT_TRUE(controller.ActivationPending());
    EXPECT_NE(port.OnTriggerAvail.target<TOwnerAvail>(), nullptr);
    EXPECT_FALSE(cts.Lit());

    port.SetOpen(true);
    EXPECT_TRUE(controller.Active()) << "carried out at the open";
    EXPECT_FALSE(controller.ActivationPending());
    EXPECT_EQ(port.OnTriggerAvail.target<TOwnerAvail>(), nullptr);
    EXPECT_TRUE(cts.Lit());
    line->Send({1});
    ASSERT_TRUE(WaitFor([&] { return rxd.Lit(); }));

    port.SetOpen(false);
    EXPECT_FALSE(controller.Active()) << "a close deactivates";
    EXPECT_FALSE(controller.ActivationPending()) << "and leaves nothing pending";
    EXPECT_NE(port.OnTriggerAvail.target<TOwnerAvail>(), nullptr);
    EXPECT_NE(port.OnTriggerTimer.target<TOwnerTimer>(), nullptr);
    EXPECT_FALSE(cts.Lit());
    EXPECT_FALSE(rxd.Lit());

    port.SetOpen(true);
    EXPECT_FALSE(controller.Active()) << "only a request made while closed is carried out";
    controller.SetActive(true);
    EXPECT_TRUE(controller.Active());
}

TEST_F(SLControllerTest, MovingToAnotherPortTakesTheActivationAlong) {
    auto otherLine = TVirtualLine::Create("slc-other");
    TCustomComPort other;
    other.SetDevicePath(otherLine->DevicePath());
    other.SetClock(&clock);
    other.SetAutoOpen(false);
    TOwnerLog otherOwner;
    other.OnTriggerAvail = TOwnerAvail{&otherOwner};
    other.SetOpen(true);

    UseMainWindowLamps();
    OpenLikeTheMainWindow();
    controller.SetActive(true);
    controller.SetComPort(&other);
    EXPECT_EQ(controller.ComPort(), &other);
    EXPECT_TRUE(controller.Active());
    EXPECT_NE(port.OnTriggerAvail.target<TOwnerAvail>(), nullptr) << "the old port got its own back";
    EXPECT_EQ(other.OnTriggerAvail.target<TOwnerAvail>(), nullptr);

    otherLine->Send({5});
    ASSERT_TRUE(WaitFor([&] { return rxd.Lit(); }));
    EXPECT_EQ(otherOwner.AvailCounts, (std::vector<std::uint16_t>{1}));

    port.SetOpen(false);
    EXPECT_TRUE(controller.Active()) << "the old port's close is no longer heard";
    other.SetOpen(false);
    EXPECT_FALSE(controller.Active());

    controller.SetComPort(nullptr);
    EXPECT_EQ(controller.ComPort(), nullptr);
    EXPECT_THROW(controller.SetActive(true), EPortNotAssigned);
}

TEST_F(SLControllerTest, DeletedLampsAndADeletedController) {
    auto* lonely = new TStatusLight;
    TLightSet set;
    set.RXDLight = lonely;
    set.TXDLight = &txd;
    controller.SetLights(set);
    OpenLikeTheMainWindow();
    controller.SetActive(true);
    delete lonely;
    EXPECT_EQ(controller.Lights().RXDLight, nullptr);
    EXPECT_EQ(controller.Lights().TXDLight, &txd);
    line->Send({1});
    ASSERT_TRUE(WaitFor([&] { return owner.AvailCounts.size() == 1; }));
    controller.SetActive(false);

    port.OnTriggerStatus = TOwnerStatus{&owner};
    {
        TSLController second;
        second.SetLights(set);
        second.SetComPort(&port);
        second.SetActive(true);
        EXPECT_EQ(port.OnTriggerStatus.target<TOwnerStatus>(), nullptr);
    }
    EXPECT_NE(port.OnTriggerAvail.target<TOwnerAvail>(), nullptr)
        << "a controller destroyed while active hands its saved handlers back";
    EXPECT_NE(port.OnTriggerStatus.target<TOwnerStatus>(), nullptr);
    EXPECT_NE(port.OnTriggerTimer.target<TOwnerTimer>(), nullptr);
    line->SetModemLines(kModemCTS);
    EXPECT_TRUE(WaitFor([&] { return !owner.StatusHandles.empty(); }));
}

} // namespace
} // namespace volmar
