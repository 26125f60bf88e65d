// The port over the virtual line: what a pseudo-terminal cannot show.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <ctime>
#include <thread>

#include "dataport/receiver.h"
#include "serial/com_port.h"
#include "serial/virtual_line.h"
#include "support/qt_pump.h"

namespace volmar {
namespace {

using testing::PumpFor;
using testing::PumpUntil;
using Bytes = std::vector<std::uint8_t>;

struct VirtualPortTest : ::testing::Test {
    std::shared_ptr<TVirtualLine> line = TVirtualLine::Create(
        std::string("vport-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    TManualTickClock clock{1000};
    TCustomComPort port;
    std::vector<std::string> events;
    std::thread::id uiThread = std::this_thread::get_id();

    void SetUp() override {
        port.SetDevicePath(line->DevicePath());
        port.SetClock(&clock);
        port.SetAutoOpen(false);
    }
    void Record(const std::string& e) {
        EXPECT_EQ(std::this_thread::get_id(), uiThread) << "handlers run on the UI thread";
        events.push_back(e);
    }
    bool WaitEvents(std::size_t n) {
        return PumpUntil([&] { return events.size() >= n; });
    }
};

TEST_F(VirtualPortTest, OpenCloseAndTheOpenRules) {
    EXPECT_EQ(port.State(), psClosed);
    EXPECT_THROW(port.PutChar(1), ECommNotOpen);
    EXPECT_FALSE(port.CTS()) << "reads of a closed port give nothing";
    EXPECT_EQ(port.OutBuffFree(), port.OutSize());
    port.SetOpen(true);
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(port.State(), psOpen);
    EXPECT_TRUE(line->IsOpen());
    EXPECT_TRUE(line->DTR());
    EXPECT_TRUE(line->RTS());
    port.SetOpen(false);
    EXPECT_EQ(port.State(), psClosed);
    EXPECT_FALSE(line->IsOpen());

    port.SetAutoOpen(true);
    port.PutChar(0x41);
    EXPECT_TRUE(port.Open()) << "AutoOpen opens on first use";
    EXPECT_TRUE(line->WaitSent(1, std::chrono::seconds(2)));
    EXPECT_EQ(line->TakeSent(), Bytes{0x41});
}

TEST_F(VirtualPortTest, FailedOpensLeaveThePortClosed) {
    TCustomComPort second;
    second.SetDevicePath(line->DevicePath());
    port.SetOpen(true);
    try {
        second.SetOpen(true);
        FAIL() << "opened twice";
    } catch (const EPortException& e) {
        EXPECT_EQ(e.Code(), -2008);
    }
    EXPECT_FALSE(second.Open());

    TCustomComPort missing;
    missing.SetDevicePath("virtual:no-such-line");
    try {
        missing.SetOpen(true);
        FAIL() << "opened a missing line";
    } catch (const EPortException& e) {
        EXPECT_EQ(e.Code(), -2001);
        EXPECT_STREQ(e.what(), "ie_BadId - Specified comport doesn't exist");
    }
    EXPECT_FALSE(missing.Open());
    EXPECT_EQ(missing.State(), psClosed);

    TCustomComPort none;
    EXPECT_THROW(none.SetOpen(true), EBadId) << "COM number 0 names no device";
}

TEST_F(VirtualPortTest, LineSettingsAppliedOnlyWhenTheyChange) {
    port.SetBaud(1200);
    port.SetParity(pOdd);
    EXPECT_EQ(line->SettingsWrites(), 0) << "a closed port only stores";
    port.SetOpen(true);
    EXPECT_EQ(line->SettingsWrites(), 1);
    EXPECT_EQ(line->Settings(), (TLineSettings{1200, pOdd, 8, 1}));
    port.SetBaud(1200);
    EXPECT_EQ(line->SettingsWrites(), 1);
    port.SetBaud(9600);
    EXPECT_EQ(line->SettingsWrites(), 2);
    EXPECT_EQ(line->Settings().Baud, 9600);
    port.SetDataBits(5);
    EXPECT_EQ(line->Settings().StopBits, 3) << "5 data bits: one and a half";
    port.SetStopBits(2);
    EXPECT_EQ(line->Settings().StopBits, 3);
    EXPECT_EQ(port.StopBits(), 2);
}

TEST_F(VirtualPortTest, OneNotificationPerBurstAndLeftoversAnnouncedAgain) {
    std::vector<int> counts;
    port.OnTriggerAvail = [&](TCustomComPort* cp, std::uint16_t count) {
        Record("avail");
        counts.push_back(count);
        if (counts.size() == 1) cp->GetChar();  // take one, leave two
    };
    port.SetOpen(true);
    line->Send({1, 2, 3});
    ASSERT_TRUE(WaitEvents(1));
    PumpFor(100);
    EXPECT_EQ(counts, (std::vector<int>{3})) << "no new bytes, no new notification";
    line->Send({4});
    ASSERT_TRUE(WaitEvents(2));
    EXPECT_EQ(counts[1], 3) << "two left behind plus one new";
    EXPECT_EQ(port.GetChar(), 2);
    EXPECT_EQ(port.GetChar(), 3);
    EXPECT_EQ(port.GetChar(), 4);
    try {
        port.GetChar();
        FAIL();
    } catch (const EPortException& e) {
        EXPECT_EQ(e.Code(), -3007);
    }
}

TEST_F(VirtualPortTest, SendingQueuesAllOrNothing) {
    port.SetOutSize(4);
    port.SetOpen(true);
    EXPECT_EQ(port.OutBuffFree(), 4);
    try {
        port.PutString("12345");
        FAIL();
    } catch (const EPortException& e) {
        EXPECT_EQ(e.Code(), -3006);
    }
    EXPECT_EQ(port.OutBuffUsed(), 0);
    port.PutString("");
    port.PutString("1234");
    ASSERT_TRUE(line->WaitSent(4, std::chrono::seconds(2)));
    EXPECT_EQ(line->TakeSent(), (Bytes{'1', '2', '3', '4'}));
}

TEST_F(VirtualPortTest, FlushesReachTheDevice) {
    port.SetOpen(true);
    line->Send({9, 9});
    ASSERT_TRUE(PumpUntil([&] { return port.InBuffUsed() == 2; }));
    port.FlushInBuffer();
    EXPECT_EQ(port.InBuffUsed(), 0);
    EXPECT_FALSE(port.CharReady());
    EXPECT_EQ(line->InputPurges(), 1);
    port.FlushOutBuffer();
    EXPECT_EQ(line->OutputPurges(), 1);
}

TEST_F(VirtualPortTest, AFlushDuringAWriteKeepsTheWrittenBytesOffTheLine) {
    port.SetOpen(true);
    line->SetFarEndReading(false);
    line->HoldWrites(true);
    const std::shared_ptr<void> release(nullptr, [&](void*) { line->HoldWrites(false); });
    port.PutString("AB");
    ASSERT_TRUE(line->WaitWriteHeld(std::chrono::seconds(2)));
    // The held write goes on once the flush has purged the device, or, when
    // the flush waits for the write to end first, a little later.
    std::thread writeEnds([&] {
        line->WaitOutputPurges(1, std::chrono::milliseconds(300));
        line->HoldWrites(false);
    });
    port.FlushOutBuffer();
    writeEnds.join();
    port.PutChar('C');
    line->SetFarEndReading(true);
    ASSERT_TRUE(line->WaitSent(1, std::chrono::seconds(2)));
    EXPECT_EQ(line->TakeSent(), Bytes{'C'}) << "only what was queued after the flush";
}

TEST_F(VirtualPortTest, ModemTriggerFiresOncePerArming) {
    std::uint16_t modem = 0;
    port.OnTriggerStatus = [&](TCustomComPort*, std::uint16_t h) {
        Record("status " + std::to_string(h));
    };
    port.OnTriggerModemStatus = [&](TCustomComPort* cp) {
        Record(std::string("modem cts=") + (cp->CTS() ? "1" : "0"));
    };
    port.SetOpen(true);
    modem = port.AddStatusTrigger(stModem);
    EXPECT_EQ(modem, 9);
    port.SetStatusTrigger(modem, kModemCTS, true);
    line->SetModemLines(kModemCTS);
    ASSERT_TRUE(WaitEvents(2));
    EXPECT_EQ(events, (std::vector<std::string>{"status 9", "modem cts=1"}));
    line->SetModemLines(0);
    PumpFor(120);
    EXPECT_EQ(events.size(), 2u) << "not again until re-armed";
    EXPECT_TRUE(port.DeltaCTS());
    EXPECT_FALSE(port.DeltaCTS()) << "reading clears the change bit";

    // Armed while CTS is high, it fires only when CTS goes low.
    line->SetModemLines(kModemCTS);
    ASSERT_TRUE(PumpUntil([&] { return (port.ModemStatus() & kModemCTS) != 0; }));
    port.SetStatusTrigger(modem, kModemCTS, true);
    PumpFor(120);
    EXPECT_EQ(events.size(), 2u);
    line->SetModemLines(0);
    ASSERT_TRUE(WaitEvents(4));
    EXPECT_EQ(events[3], "modem cts=0");
}

TEST_F(VirtualPortTest, AChangeFirstSeenByAReadOnTheUIThreadStillCounts) {
    port.OnTriggerAvail = [&](TCustomComPort* cp, std::uint16_t) {
        cp->GetChar();
        // The dispatcher waits for this handler, so this read sees the edge first.
        line->SetModemLines(kModemCTS);
        EXPECT_FALSE(cp->DSR());
    };
    int modem = 0;
    bool changed = false;
    port.OnTriggerModemStatus = [&](TCustomComPort* cp) {
        ++modem;
        changed = cp->DeltaCTS();
    };
    port.SetOpen(true);
    const auto h = port.AddStatusTrigger(stModem);
    port.SetStatusTrigger(h, kModemCTS, true);
    line->Send({1});
    ASSERT_TRUE(PumpUntil([&] { return modem == 1; }));
    EXPECT_TRUE(changed) << "the owner re-arms its trigger only on a change";
}

TEST_F(VirtualPortTest, LineErrorsAndBreaks) {
    std::vector<std::pair<int, bool>> errors;
    port.OnTriggerLineError = [&](TCustomComPort*, std::uint16_t e, bool brk) {
        Record("line");
        errors.emplace_back(e, brk);
    };
    port.SetOpen(true);
    const auto h = port.AddStatusTrigger(stLine);
    port.SetStatusTrigger(h, 7, true);

    line->InjectError(kErrBreak);
    PumpFor(120);
    EXPECT_TRUE(errors.empty()) << "a break alone is not watched by 7";
    EXPECT_EQ(port.LineError(), leBreak);
    EXPECT_EQ(port.LineError(), leBreak) << "the break flag stays";
    EXPECT_TRUE(port.LineBreak());
    EXPECT_FALSE(port.LineBreak());
    EXPECT_EQ(port.LineError(), leNoError);

    line->Send({0x20});
    line->InjectError(kErrFraming | kErrBreak);
    ASSERT_TRUE(WaitEvents(1));
    EXPECT_EQ(errors[0], (std::pair<int, bool>{leFraming, true}));
    EXPECT_EQ(port.InBuffUsed(), 1) << "the good byte arrives, the errored one does not";

    port.SetStatusTrigger(h, 7, true);
    line->InjectError(kErrParity | kErrOverrun);
    ASSERT_TRUE(WaitEvents(2));
    EXPECT_EQ(errors[1].first, leOverrun) << "overrun before parity";
    EXPECT_EQ(port.LineError(), leNoError) << "reading the code cleared the flags";
}

TEST_F(VirtualPortTest, TimersOnTheManualClock) {
    std::vector<std::uint16_t> fired;
    port.OnTriggerTimer = [&](TCustomComPort*, std::uint16_t h) {
        Record("timer");
        fired.push_back(h);
    };
    port.SetOpen(true);
    const auto a = port.AddTimerTrigger();
    const auto b = port.AddTimerTrigger();
    EXPECT_EQ(a, 8);
    EXPECT_EQ(b, 16);
    port.SetTimerTrigger(a, 18, true);
    port.SetTimerTrigger(b, 2, true);
    clock.AdvanceTicks(2);
    PumpFor(80);
    EXPECT_TRUE(fired.empty()) << "two ticks have not passed the expiry";
    clock.AdvanceTicks(1);
    ASSERT_TRUE(WaitEvents(1));
    EXPECT_EQ(fired, (std::vector<std::uint16_t>{b}));
    clock.AdvanceTicks(15);
    PumpFor(80);
    EXPECT_EQ(fired.size(), 1u);
    clock.AdvanceTicks(1);
    ASSERT_TRUE(WaitEvents(2));
    EXPECT_EQ(fired[1], a);
    clock.AdvanceTicks(100);
    PumpFor(80);
    EXPECT_EQ(fired.size(), 2u) << "one shot";

    EXPECT_THROW(port.SetTimerTrigger(99, 1, true), EBadTriggerHandle);
    port.RemoveAllTriggers();
    EXPECT_EQ(port.AddTimerTrigger(), 8);
}

TEST_F(VirtualPortTest, EighteenTicksOnTheSystemClockTakeAboutASecond) {
    port.SetClock(nullptr);
    qint64 firedAfter = -1;
    QElapsedTimer sinceArming;
    port.OnTriggerTimer = [&](TCustomComPort*, std::uint16_t) {
        firedAfter = sinceArming.elapsed();
    };
    port.SetOpen(true);
    const auto h = port.AddTimerTrigger();
    sinceArming.start();
    port.SetTimerTrigger(h, 18, true);
    ASSERT_TRUE(PumpUntil([&] { return firedAfter >= 0; }, 5000));
    // More than 18 whole ticks (990 ms, less a millisecond each for the two
    // clocks' rounding); the upper bound only allows for a busy machine.
    EXPECT_GE(firedAfter, 988);
    EXPECT_LT(firedAfter, 3000);
}

TEST_F(VirtualPortTest, TriggersAndListenersAcrossCloseAndOpen) {
    std::vector<std::string> calls;
    int ownerA = 0, ownerB = 0;
    port.AddPortListener([&](void*, TCustomComPort* p, bool opening) {
        calls.push_back(std::string("A ") + (opening ? "open" : "close") +
                        (p->State() == psShuttingDown ? " shutting" : ""));
    }, &ownerA);
    port.AddPortListener([&](void*, TCustomComPort*, bool opening) {
        calls.push_back(std::string("B ") + (opening ? "open" : "close"));
    }, &ownerB);
    int avail = 0;
    port.OnTriggerAvail = [&](TCustomComPort* cp, std::uint16_t n) {
        avail++;
        for (int i = 0; i < n; ++i) cp->GetChar();
    };
    port.SetOpen(true);
    const auto t = port.AddTimerTrigger();
    port.SetOpen(false);
    port.SetOpen(true);
    EXPECT_NO_THROW(port.SetTimerTrigger(t, 1, true)) << "triggers come back at open";
    EXPECT_EQ(calls, (std::vector<std::string>{"B open", "A open", "B close", "A close shutting",
                                               "B open", "A open"}));
    port.RemovePortListener(&ownerB);
    port.RemoveAllTriggers();
    port.SetOpen(false);
    port.SetOpen(true);
    line->Send({1});
    ASSERT_TRUE(PumpUntil([&] { return avail == 1; })) << "data is announced after a reopen";
    EXPECT_EQ(calls.back(), "A open");
    port.RemovePortListener(&ownerA);
}

TEST_F(VirtualPortTest, NoNotificationsWhileSuspendedOrWithoutHandlers) {
    port.SetOpen(true);
    line->Send({1});
    PumpFor(100);
    int avail = 0;
    port.OnTriggerAvail = [&](TCustomComPort*, std::uint16_t) { ++avail; };
    port.UpdateHandlerFlags();
    EXPECT_FALSE(port.SuspendNotifications(true));
    line->Send({2});
    PumpFor(100);
    EXPECT_EQ(avail, 0);
    EXPECT_TRUE(port.SuspendNotifications(false));
    ASSERT_TRUE(PumpUntil([&] { return avail == 1; }));
}

TEST_F(VirtualPortTest, AHandlerFailureIsReportedAndTheDispatcherGoesOn) {
    std::vector<std::string> reported;
    SetPortErrorHandler([&](const std::exception& e) { reported.push_back(e.what()); });
    int calls = 0;
    port.OnTriggerAvail = [&](TCustomComPort* cp, std::uint16_t) {
        ++calls;
        cp->GetChar();
        throw std::runtime_error("handler broke");
    };
    port.SetOpen(true);
    line->Send({1});
    ASSERT_TRUE(PumpUntil([&] { return calls == 1; }));
    line->Send({2});
    ASSERT_TRUE(PumpUntil([&] { return calls == 2; }));
    EXPECT_EQ(reported, (std::vector<std::string>{"handler broke", "handler broke"}));
    SetPortErrorHandler(nullptr);
}

TEST_F(VirtualPortTest, ANotificationNotTakenInTimeIsDropped) {
    int avail = 0;
    port.OnTriggerAvail = [&](TCustomComPort* cp, std::uint16_t n) {
        ++avail;
        for (int i = 0; i < n; ++i) cp->GetChar();
    };
    port.SetOpen(true);
    line->Send({1});
    // The UI thread is busy for longer than the hand-over waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(kHandOverTimeoutMs + 300));
    PumpFor(100);
    EXPECT_EQ(avail, 0) << "an abandoned notification never runs late";
    line->Send({2});
    ASSERT_TRUE(PumpUntil([&] { return avail == 1; }));
}

double ProcessCpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

TEST_F(VirtualPortTest, AHandlerThatOutlastsTheHandOverIsNotWaitedForBySpinning) {
    constexpr int kOverMs = 1000;
    int calls = 0;
    double cpuMs = -1;
    port.OnTriggerAvail = [&](TCustomComPort* cp, std::uint16_t n) {
        for (int i = 0; i < n; ++i) cp->GetChar();
        if (++calls > 1) return;
        const double before = ProcessCpuMs();
        std::this_thread::sleep_for(std::chrono::milliseconds(kHandOverTimeoutMs + kOverMs));
        cpuMs = ProcessCpuMs() - before;
        // The dispatcher has given up on this handler: closing must not hang.
        cp->SetOpen(false);
        cp->SetOpen(true);
    };
    port.SetOpen(true);
    line->Send({1});
    ASSERT_TRUE(PumpUntil([&] { return cpuMs >= 0; }, 2 * kHandOverTimeoutMs + kOverMs));
    // A dispatcher that kept polling the finished hand-over would burn a core
    // for kOverMs; an idle one uses next to nothing.
    EXPECT_LT(cpuMs, kOverMs / 4) << "CPU ms used while the handler slept";
    line->Send({2});
    ASSERT_TRUE(PumpUntil([&] { return calls == 2; }));
}

TEST_F(VirtualPortTest, AFarEndThatStopsReadingFillsTheOutputRing) {
    port.SetOutSize(64);
    port.SetOpen(true);
    line->SetFarEndReading(false);
    const std::size_t total = TVirtualLine::kDeviceOutputQueue + port.OutSize();
    std::string bytes(total, '\0');
    for (std::size_t i = 0; i < total; ++i) bytes[i] = static_cast<char>(i * 7);
    std::size_t put = 0;
    ASSERT_TRUE(PumpUntil([&] {
        const std::size_t n = std::min<std::size_t>(port.OutBuffFree(), total - put);
        port.PutString(bytes.substr(put, n));
        put += n;
        return put == total;
    }));
    EXPECT_EQ(port.OutBuffFree(), 0) << "the device holds what it can, the ring the rest";
    try {
        port.PutChar(0);
        FAIL() << "queued into a full ring";
    } catch (const EPortException& e) {
        EXPECT_EQ(e.Code(), -3006);
    }
    EXPECT_TRUE(line->TakeSent().empty());

    line->SetFarEndReading(true);
    ASSERT_TRUE(line->WaitSent(total, std::chrono::seconds(3)));
    EXPECT_EQ(line->TakeSent(), Bytes(bytes.begin(), bytes.end()));
    // The writer counts the bytes off the ring just after the device took them.
    EXPECT_TRUE(PumpUntil([&] { return port.OutBuffUsed() == 0; }));
}

TEST_F(VirtualPortTest, VanishedDeviceIsReportedOnce) {
    int lost = 0;
    port.OnDeviceLost = [&](TCustomComPort*) { Record("lost"); ++lost; };
    port.SetOpen(true);
    line->Vanish();
    ASSERT_TRUE(WaitEvents(1));
    EXPECT_TRUE(port.DeviceLost());
    PumpFor(150);
    EXPECT_EQ(lost, 1);
    port.PutChar(1);  // goes nowhere, no failure
    port.SetOpen(false);
    EXPECT_EQ(port.State(), psClosed);
}

TEST_F(VirtualPortTest, TheReceiverAnswersOverThePort) {
    TSerialBuffer buffer(256);
    TVolmarDataport rx;
    rx.OnDPMessage = [](TVolmarDataport*, PDPMessage, bool, TAcception& a) { a = acAccepted; };
    port.OnTriggerAvail = [&](TCustomComPort* cp, std::uint16_t n) {
        for (int i = 0; i < n; ++i) buffer.Put(cp->GetChar());
        rx.ProcessBuffer(buffer);
    };
    port.SetOpen(true);
    rx.SetComPort(&port);
    rx.SetTimerHandle(port.AddTimerTrigger());
    rx.ResetReceiver();
    clock.AdvanceTicks(19);
    ASSERT_TRUE(PumpUntil([&] { return line->WaitSent(1, std::chrono::milliseconds(0)); }));
    EXPECT_EQ(line->TakeSent(), Bytes{0x15}) << "the first-message NAK from a port timer";
    line->Send({0x26, 0x26});
    ASSERT_TRUE(PumpUntil([&] { return line->WaitSent(1, std::chrono::milliseconds(0)); }));
    EXPECT_EQ(line->TakeSent(), Bytes{0x06});
    rx.SetTimerHandle(0);
    rx.SetComPort(nullptr);
}

} // namespace
} // namespace volmar
