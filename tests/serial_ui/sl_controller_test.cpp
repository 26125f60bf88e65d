// The status-light controller over the virtual line, the port on a manual
// clock: lamps lit by line events and put out by timers, the owner's
// handlers kept in the chain and handed back, activation following the
// port's opening and closing.
#include <gtest/gtest.h>

#include "serial/ui/sl_controller.h"
#include "serial/virtual_line.h"
#include "support/qt_pump.h"

namespace volmar {
namespace {

bool WaitFor(const std::function<bool()>& Done) { return testing::PumpUntil(Done, 5000); }

// The main window's handlers, as named types so that a test can tell them
// from the controller's.
struct TOwnerLog {
    std::vector<std::uint16_t> Avail, Status, Timer, LineErrors;
    std::vector<bool> ModemDeltaCTS;
};
struct TOwnerAvail {
    TOwnerLog* Log;
    void operator()(TCustomComPort* CP, std::uint16_t Count) const {
        Log->Avail.push_back(Count);
        for (int i = 0; i < Count; ++i) CP->GetChar();
    }
};
struct TOwnerStatus {
    TOwnerLog* Log;
    void operator()(TCustomComPort*, std::uint16_t H) const { Log->Status.push_back(H); }
};
struct TOwnerTimer {
    TOwnerLog* Log;
    void operator()(TCustomComPort*, std::uint16_t H) const { Log->Timer.push_back(H); }
};

struct SLControllerTest : ::testing::Test {
    std::shared_ptr<TVirtualLine> line = TVirtualLine::Create(
        std::string("slc-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    TManualTickClock clock{1000};
    TCustomComPort port;
    TOwnerLog owner;
    TStatusLight cts, dsr, dcd, ring, txd, rxd, error, brk;
    TSLController controller;
    std::uint16_t ownerModem = 0, ownerTimer = 0;

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
        controller.SetLights({&cts, nullptr, nullptr, nullptr, &txd, &rxd, nullptr, nullptr});
    }
    // The main window's triggers after an open. Its line trigger, being
    // earlier, would read (and clear) the errors before an error lamp's.
    void Open(bool LineTrigger = true) {
        port.SetOpen(true);
        ownerModem = port.AddStatusTrigger(stModem);
        port.SetStatusTrigger(ownerModem, kModemCTS, true);
        if (LineTrigger) port.SetStatusTrigger(port.AddStatusTrigger(stLine), 7, true);
        ownerTimer = port.AddTimerTrigger();
    }
};

TEST_F(SLControllerTest, DefaultsAndTheMissingPort) {
    TSLController fresh;
    EXPECT_EQ(fresh.ErrorOffTimeout(), 36);
    EXPECT_EQ(fresh.BreakOffTimeout(), 36);
    EXPECT_EQ(fresh.RXDOffTimeout(), 1);
    EXPECT_EQ(fresh.TXDOffTimeout(), 1);
    EXPECT_EQ(fresh.RingOffTimeout(), 8);
    EXPECT_EQ(fresh.Lights().CTSLight, nullptr);
    try {
        fresh.SetActive(true);
        FAIL() << "activated without a port";
    } catch (const EPortNotAssigned& e) {
        EXPECT_EQ(e.Code(), -1005);
        EXPECT_STREQ(e.what(), "ComPort component not assigned");
    }
    EXPECT_FALSE(fresh.Active());
}

TEST_F(SLControllerTest, ReceiveAndTransmitLampsAndTheirHoldTimes) {
    Open();
    controller.SetActive(true);
    line->Send({1, 2});
    ASSERT_TRUE(WaitFor([&] { return owner.Avail.size() == 1; }));
    EXPECT_TRUE(rxd.Lit());
    EXPECT_EQ(owner.Avail[0], 2) << "the saved handler gets the same count";
    // A tick on, more data: the lit lamp's timer keeps its first expiry.
    clock.AdvanceTicks(1);
    line->Send({3});
    ASSERT_TRUE(WaitFor([&] { return owner.Avail.size() == 2; }));
    testing::PumpFor(100);
    EXPECT_TRUE(rxd.Lit());
    clock.AdvanceTicks(1);
    EXPECT_TRUE(WaitFor([&] { return !rxd.Lit(); }));

    port.PutString("AB");
    ASSERT_TRUE(WaitFor([&] { return txd.Lit() && port.OutBuffUsed() == 0; }));
    clock.AdvanceTicks(2);
    ASSERT_TRUE(WaitFor([&] { return !txd.Lit(); }));
    port.PutChar('C');
    EXPECT_TRUE(WaitFor([&] { return txd.Lit(); })) << "the output-sent trigger was re-armed";
    EXPECT_FALSE(rxd.Lit());
}

TEST_F(SLControllerTest, CtsLampAndTheMainWindowsModemAndLineHandlers) {
    Open();
    port.OnTriggerStatus = TOwnerStatus{&owner};
    line->SetModemLines(kModemCTS);
    ASSERT_TRUE(WaitFor([&] { return owner.ModemDeltaCTS.size() == 1; }));
    port.SetStatusTrigger(ownerModem, kModemCTS, true);
    controller.SetActive(true);
    EXPECT_TRUE(cts.Lit()) << "read at activation";
    const std::uint16_t probe = port.AddTimerTrigger();
    EXPECT_EQ(probe, 64) << "after 3 of the owner's: a modem and an output-sent trigger, 2 timers";
    port.RemoveTrigger(probe);

    line->SetModemLines(0);
    ASSERT_TRUE(WaitFor([&] { return !cts.Lit() && owner.ModemDeltaCTS.size() == 3; }));
    EXPECT_TRUE(owner.ModemDeltaCTS[1]) << "the owner's trigger is handled before the lamp's";
    line->SetModemLines(kModemCTS);
    EXPECT_TRUE(WaitFor([&] { return cts.Lit(); }));
    for (std::uint16_t h : owner.Status) EXPECT_NE(h & 7, stLine) << "no line trigger of its own";

    line->InjectError(kErrFraming);
    ASSERT_TRUE(WaitFor([&] { return !owner.LineErrors.empty(); }));
    EXPECT_EQ(owner.LineErrors[0], leFraming) << "the error is left for the main window";
    controller.SetActive(false);
    EXPECT_FALSE(cts.Lit());
}

TEST_F(SLControllerTest, HandlersAreChainedAndHandedBackExactly) {
    Open();
    controller.SetActive(true);
    EXPECT_EQ(port.OnTriggerAvail.target<TOwnerAvail>(), nullptr);
    EXPECT_EQ(port.OnTriggerTimer.target<TOwnerTimer>(), nullptr);
    port.SetTimerTrigger(ownerTimer, 3, true);
    clock.AdvanceTicks(4);
    ASSERT_TRUE(WaitFor([&] { return !owner.Timer.empty(); }));
    EXPECT_EQ(owner.Timer, std::vector<std::uint16_t>{ownerTimer});

    controller.SetActive(false);
    EXPECT_NE(port.OnTriggerAvail.target<TOwnerAvail>(), nullptr);
    EXPECT_NE(port.OnTriggerTimer.target<TOwnerTimer>(), nullptr);
    EXPECT_FALSE(port.OnTriggerStatus) << "an empty handler comes back empty";
    port.OnTriggerStatus = TOwnerStatus{&owner};
    port.UpdateHandlerFlags();
    line->Send({7});
    line->SetModemLines(kModemCTS);
    port.PutChar('x');
    ASSERT_TRUE(WaitFor([&] { return !owner.Avail.empty() && !owner.Status.empty(); }));
    testing::PumpFor(150);
    EXPECT_EQ(owner.Status, std::vector<std::uint16_t>{ownerModem}) << "its triggers are gone";
    EXPECT_FALSE(rxd.Lit() || txd.Lit() || cts.Lit());
}

TEST_F(SLControllerTest, ATimerArmedWhileActiveReachesTheOwnerAfterTurningOff) {
    Open();
    controller.SetActive(true);
    port.SetTimerTrigger(ownerTimer, 3, true);
    controller.SetActive(false);
    clock.AdvanceTicks(4);
    ASSERT_TRUE(WaitFor([&] { return !owner.Timer.empty(); }));
    testing::PumpFor(100);
    EXPECT_EQ(owner.Timer, std::vector<std::uint16_t>{ownerTimer});
}

TEST_F(SLControllerTest, ActivationFollowsTheOpeningAndClosingOfThePort) {
    line->SetModemLines(kModemCTS);
    controller.SetActive(true);
    EXPECT_FALSE(controller.Active()) << "a closed port only records the request";
    EXPECT_NE(port.OnTriggerAvail.target<TOwnerAvail>(), nullptr);
    port.SetOpen(true);
    EXPECT_TRUE(controller.Active()) << "carried out at the open";
    EXPECT_TRUE(cts.Lit());

    port.SetOpen(false);
    EXPECT_FALSE(controller.Active());
    EXPECT_FALSE(controller.ActivationPending()) << "a close leaves nothing pending";
    EXPECT_NE(port.OnTriggerAvail.target<TOwnerAvail>(), nullptr);
    EXPECT_FALSE(cts.Lit());
    port.SetOpen(true);
    EXPECT_FALSE(controller.Active());
}

TEST_F(SLControllerTest, ErrorBreakRingDsrAndDcdLamps) {
    controller.SetLights({&cts, &dsr, &dcd, &ring, &txd, &rxd, &error, &brk});
    controller.SetBreakOffTimeout(3);
    Open(false);
    controller.SetActive(true);
    EXPECT_EQ(port.AddTimerTrigger(), 12 * 8) << "nine triggers after the owner's two";

    line->InjectError(kErrBreak);
    ASSERT_TRUE(WaitFor([&] { return brk.Lit(); }));
    EXPECT_FALSE(error.Lit()) << "the error lamp does not watch breaks";
    EXPECT_FALSE(port.LineBreak()) << "the break lamp read the break";
    clock.AdvanceTicks(4);
    ASSERT_TRUE(WaitFor([&] { return !brk.Lit(); }));

    line->InjectError(kErrFraming);
    ASSERT_TRUE(WaitFor([&] { return error.Lit() && !owner.LineErrors.empty(); }));
    EXPECT_EQ(owner.LineErrors[0], leNoError) << "the error lamp read the error first";
    clock.AdvanceTicks(36);
    testing::PumpFor(100);
    EXPECT_TRUE(error.Lit());
    clock.AdvanceTicks(1);
    ASSERT_TRUE(WaitFor([&] { return !error.Lit(); }));
    line->InjectError(kErrParity);
    EXPECT_TRUE(WaitFor([&] { return error.Lit(); })) << "re-armed when it went out";

    line->SetModemLines(kModemDSR | kModemDCD);
    ASSERT_TRUE(WaitFor([&] { return dsr.Lit() && dcd.Lit(); }));
    line->SetModemLines(kModemDCD | kModemRI);
    ASSERT_TRUE(WaitFor([&] { return !dsr.Lit() && ring.Lit(); }));
    clock.AdvanceTicks(9);
    EXPECT_TRUE(WaitFor([&] { return !ring.Lit(); }));
}

TEST_F(SLControllerTest, ChangingThePortAndDestroyingTheController) {
    auto otherLine = TVirtualLine::Create("slc-other");
    TCustomComPort other;
    other.SetDevicePath(otherLine->DevicePath());
    other.SetClock(&clock);
    other.SetAutoOpen(false);
    other.SetOpen(true);
    Open();
    controller.SetActive(true);
    controller.SetComPort(&other);
    EXPECT_TRUE(controller.Active());
    EXPECT_NE(port.OnTriggerAvail.target<TOwnerAvail>(), nullptr) << "the old port's came back";
    otherLine->Send({5});
    ASSERT_TRUE(WaitFor([&] { return rxd.Lit(); }));
    port.SetOpen(false);
    EXPECT_TRUE(controller.Active()) << "the old port is no longer listened to";
    controller.SetComPort(nullptr);
    EXPECT_FALSE(controller.Active());
    EXPECT_FALSE(other.OnTriggerAvail);

    port.SetOpen(true);
    port.OnTriggerStatus = TOwnerStatus{&owner};
    {
        auto* lonely = new TStatusLight;
        TSLController second;
        second.SetLights({nullptr, nullptr, nullptr, nullptr, nullptr, lonely, nullptr, nullptr});
        second.SetComPort(&port);
        second.SetActive(true);
        delete lonely;
        EXPECT_EQ(second.Lights().RXDLight, nullptr) << "a deleted lamp is forgotten";
        line->Send({6});
        ASSERT_TRUE(WaitFor([&] { return !owner.Avail.empty(); }));
    }
    EXPECT_NE(port.OnTriggerAvail.target<TOwnerAvail>(), nullptr)
        << "a controller destroyed while active hands its saved handlers back";
    EXPECT_NE(port.OnTriggerStatus.target<TOwnerStatus>(), nullptr);
    EXPECT_NE(port.OnTriggerTimer.target<TOwnerTimer>(), nullptr);
}

} // namespace
} // namespace volmar
