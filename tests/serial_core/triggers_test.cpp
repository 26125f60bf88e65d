#include "serial/triggers.h"

#include <gtest/gtest.h>

#include "serial/device_layer.h"
#include "serial/port_errors.h"
#include "serial/tick_clock.h"

namespace volmar {
namespace {

const std::vector<std::uint16_t> none;

TEST(TriggerHandles, MultiplesOfEightWithTheKindInTheLowBits) {
    TTriggerSet set;
    EXPECT_EQ(set.AddTimer(), 8);
    EXPECT_EQ(set.AddStatus(stModem), 17);
    EXPECT_EQ(set.AddStatus(stLine), 26);
    EXPECT_EQ(set.AddStatus(stOutSent), 37);
    EXPECT_EQ(set.AddTimer(), 40);
    EXPECT_THROW(set.AddStatus(6), EBadArgument);
    try {
        set.AddStatus(9);
    } catch (const EPortException& e) {
        EXPECT_EQ(e.Code(), -1002);
    }
    set.RemoveAll();
    EXPECT_EQ(set.AddTimer(), 8) << "the counter restarts when all are removed";
}

TEST(TriggerHandles, ExhaustedCounterTakesTheLowestFreeMultiple) {
    TTriggerSet set;
    std::vector<std::uint16_t> handles;
    for (int i = 0; i < 4095; ++i) handles.push_back(set.AddTimer());
    EXPECT_EQ(handles.back(), 4095 * 8);
    set.Remove(24);
    set.Remove(8);
    EXPECT_EQ(set.AddTimer(), 8);
    EXPECT_EQ(set.AddStatus(stLine), 24 + 2);
    set.Remove(16);
    EXPECT_EQ(set.AddTimer(), 16);
}

TEST(TriggerHandles, WrongHandlesAreRefused) {
    TTriggerSet set;
    const auto timer = set.AddTimer();
    const auto status = set.AddStatus(stModem);
    EXPECT_THROW(set.SetTimer(status, 1, true, 0), EBadTriggerHandle);
    EXPECT_THROW(set.SetStatus(timer, 1, true, 0), EBadTriggerHandle);
    EXPECT_THROW(set.Remove(0), EBadTriggerHandle);
    EXPECT_THROW(set.Remove(999), EBadTriggerHandle);
    set.Remove(timer);
    EXPECT_THROW(set.Remove(timer), EBadTriggerHandle);
}

TEST(TimerTriggers, FireOnceAfterTheirTicks) {
    TTriggerSet set;
    const auto a = set.AddTimer();
    const auto b = set.AddTimer();
    set.SetTimer(a, 18, true, 100);
    set.SetTimer(b, 2, true, 100);
    EXPECT_FALSE(set.NextExpiredTimer(102));
    EXPECT_EQ(set.NextExpiredTimer(103), b);
    EXPECT_FALSE(set.NextExpiredTimer(118));
    EXPECT_EQ(set.NextExpiredTimer(119), a);
    EXPECT_FALSE(set.NextExpiredTimer(500)) << "one shot";

    // Several expired together come one at a time, in the order added.
    set.SetTimer(b, 1, true, 200);
    set.SetTimer(a, 1, true, 200);
    EXPECT_EQ(set.NextExpiredTimer(210), a);
    EXPECT_EQ(set.NextExpiredTimer(210), b);
}

TEST(TimerTriggers, ZeroTicksKeepsTheCountAndFalseOnlyDisarms) {
    TTriggerSet set;
    const auto h = set.AddTimer();
    set.SetTimer(h, 0, true, 50);
    EXPECT_EQ(set.NextExpiredTimer(51), h) << "never given a count: the next tick";
    set.SetTimer(h, 5, true, 60);
    set.SetTimer(h, 0, false, 61);
    EXPECT_FALSE(set.NextExpiredTimer(100));
    set.SetTimer(h, 0, true, 100);
    EXPECT_FALSE(set.NextExpiredTimer(105));
    EXPECT_EQ(set.NextExpiredTimer(106), h) << "the stored count of 5 is kept";
    set.SetTimer(h, 0xFFFFFFFF, true, 0);
    EXPECT_EQ(set.Timers()[0].Ticks, kMaxTimerTicks);
}

TEST(TimerTriggers, FireAcrossTheClockWrap) {
    TTriggerSet set;
    const auto h = set.AddTimer();
    set.SetTimer(h, 18, true, kTickRange - 5);
    EXPECT_FALSE(set.NextExpiredTimer(kTickRange - 1));
    EXPECT_FALSE(set.NextExpiredTimer(13)) << "18 ticks after arming";
    EXPECT_EQ(set.NextExpiredTimer(14), h);
}

TEST(StatusTriggers, ModemFiresWhenAMaskedLevelDiffersFromArming) {
    TTriggerSet set;
    const auto h = set.AddStatus(stModem);
    TLineStatus line;
    set.SetStatus(h, kModemCTS, true, 0);
    line.ModemStatus = kModemDSR;
    EXPECT_FALSE(set.NextStatus(line, none)) << "an unwatched line";
    line.ModemStatus = kModemCTS | 0x01;
    auto fired = set.NextStatus(line, none);
    ASSERT_TRUE(fired);
    EXPECT_EQ(fired->Handle, h);
    EXPECT_FALSE(set.NextStatus(line, none)) << "once per arming";

    // Armed while CTS is high it fires only when CTS goes low.
    set.SetStatus(h, kModemCTS, true, kModemCTS);
    EXPECT_FALSE(set.NextStatus(line, none));
    line.ModemStatus = 0;
    EXPECT_TRUE(set.NextStatus(line, none));
}

TEST(StatusTriggers, LineErrorsByTheTranslatedFlags) {
    TTriggerSet set;
    const auto h = set.AddStatus(stLine);
    set.SetStatus(h, 7, true, 0);
    TLineStatus line;
    line.ErrorFlags = kErrBreak;
    EXPECT_FALSE(set.NextStatus(line, none)) << "a break alone is not watched by 7";
    line.ErrorFlags = kErrOverflow;
    EXPECT_FALSE(set.NextStatus(line, none));
    line.ErrorFlags = kErrBreak | kErrFraming;
    EXPECT_TRUE(set.NextStatus(line, none));
    set.SetStatus(h, 8, true, 0);
    line.ErrorFlags = kErrBreak;
    EXPECT_TRUE(set.NextStatus(line, none));
    set.SetStatus(h, 1, true, 0);
    line.ErrorFlags = kErrOverrun;
    EXPECT_TRUE(set.NextStatus(line, none));
}

TEST(StatusTriggers, OutputConditionsOrderAndSkipping) {
    TTriggerSet set;
    const auto sent = set.AddStatus(stOutSent);
    const auto used = set.AddStatus(stOutBuffUsed);
    const auto free = set.AddStatus(stOutBuffFree);
    set.SetStatus(sent, 0, true, 0);
    set.SetStatus(used, 2, true, 0);
    set.SetStatus(free, 100, true, 0);
    TLineStatus line;
    line.OutUsed = 3;
    line.OutFree = 99;
    line.OutSent = true;
    EXPECT_EQ(set.NextStatus(line, none)->Handle, sent);
    EXPECT_FALSE(set.NextStatus(line, none));
    line.OutUsed = 2;
    line.OutFree = 100;
    // The earlier trigger comes first; a fired handle can be skipped.
    set.SetStatus(sent, 0, true, 0);
    const std::vector<std::uint16_t> skip = {sent};
    EXPECT_EQ(set.NextStatus(line, skip)->Handle, used);
    EXPECT_EQ(set.NextStatus(line, skip)->Handle, free);
}

TEST(TickClock, MsToTicksRoundsHalvesToEven) {
    EXPECT_EQ(MsToTicks(1000), 18u);
    EXPECT_EQ(MsToTicks(0), 0u);
    EXPECT_EQ(MsToTicks(55), 1u);  // 1.001
    EXPECT_EQ(MsToTicks(27), 0u);  // 0.4914
    EXPECT_EQ(MsToTicks(28), 1u);  // 0.5096
    // 2500 ms is exactly 45.5 ticks: to the even 46; 7500 ms is 136.5: to 136.
    EXPECT_EQ(MsToTicks(2500), 46u);
    EXPECT_EQ(MsToTicks(7500), 136u);
    EXPECT_EQ(MsToTicks(500), 9u);
}

TEST(TickClock, ManualClockWakesItsListeners) {
    TManualTickClock clock(110);
    EXPECT_EQ(clock.Ticks(), 2u);
    int woken = 0;
    int owner = 0;
    clock.AddWakeListener(&owner, [&] { ++woken; });
    clock.AdvanceTicks(3);
    EXPECT_EQ(clock.Milliseconds(), 275u);
    EXPECT_EQ(woken, 1);
    clock.RemoveWakeListener(&owner);
    clock.Advance(1);
    EXPECT_EQ(woken, 1);
    clock.SetMilliseconds(0xFFFFFFFF);
    EXPECT_EQ(clock.Ticks(), kTickRange - 1);
    EXPECT_EQ(TicksBetween(kTickRange - 1, 0), 1u);
}

} // namespace
} // namespace volmar
