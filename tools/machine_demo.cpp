#include "tools/machine_demo.h"

#include <algorithm>

namespace volmar::machine {

namespace {
constexpr std::uint32_t kCoins[] = {10, 20, 50, 100, 200};
constexpr std::uint32_t kNotes[] = {500, 1000, 2000};
constexpr std::uint32_t kWinFactors[] = {1, 2, 2, 3, 5, 10, 20};
constexpr int kMaxBetCredits = 5;
constexpr int kMaxPayoutCoins = 10;
} // namespace

TDemoSession::TDemoSession(std::uint32_t Seed) : FRandom(Seed) {
    FIdentity.Manufacturer = "VLM";
    FIdentity.Version = "102";
    FIdentity.Switches = FSwitches;
}

int TDemoSession::Pick(int Low, int High) {
    return std::uniform_int_distribution<int>(Low, High)(FRandom);
}

bool TDemoSession::Chance(double P) {
    return std::bernoulli_distribution(P)(FRandom);
}

void TDemoSession::Queue(std::uint8_t Header, std::vector<std::uint8_t> Data) {
    FPlanned.push_back({Header, std::move(Data), Pick(kDemoMinDelayMs, kDemoMaxDelayMs)});
}

void TDemoSession::QueueSwitches(std::uint16_t Word) {
    FSwitches = Word;
    Queue(kSwitchStates, EncodeNumber(kSwitchStates, Word));
}

TDemoMessage TDemoSession::Next() {
    while (FPlanned.empty())
        Plan();
    TDemoMessage m = std::move(FPlanned.front());
    FPlanned.pop_front();
    return m;
}

void TDemoSession::Plan() {
    if (!FPoweredOn) {
        FPoweredOn = true;
        Queue(kPowerOn, EncodePowerOn(FIdentity));
        Queue(kCreditValueReport, EncodeNumber(kCreditValueReport, FIdentity.CreditValue));
        QueueSwitches(FSwitches);
        return;
    }
    if (FAttendantCalled && --FAttendantDue <= 0) {
        AttendantVisit();
        return;
    }
    const bool canPlay = FCredit >= FIdentity.CreditValue;
    // Weights of the scenes that make sense now.
    const int coins = canPlay ? 25 : 80;
    const int game = canPlay ? 50 : 0;
    const int collect = FCredit > 0 ? 8 : 0;
    const int call = FAttendantCalled ? 0 : 4;
    const int books = FAttendantCalled ? 0 : 3;
    int roll = Pick(1, coins + game + collect + call + books);
    if ((roll -= coins) <= 0) return CoinsIn();
    if ((roll -= game) <= 0) return PlayGame();
    if ((roll -= collect) <= 0) return Collect();
    if ((roll -= call) <= 0) {
        Queue(kCallAttendant);
        FAttendantCalled = true;
        FAttendantDue = Pick(2, 5);
        return;
    }
    Bookkeeping();
}

void TDemoSession::CoinsIn() {
    for (int n = Pick(1, 4); n > 0; --n) {
        const bool note = Chance(0.15);
        const std::uint32_t value = note ? kNotes[Pick(0, 2)] : kCoins[Pick(0, 4)];
        Queue(CoinCode(kCoinInFirst, value));
        FCredit += value;
        // A full hopper passes the coin on to the cashbox.
        if (!note && Chance(0.35)) Queue(CoinCode(kToCashboxFirst, value));
    }
}

void TDemoSession::PlayGame() {
    const std::int64_t credits = FCredit / FIdentity.CreditValue;
    const int bet = Pick(1, static_cast<int>(std::min<std::int64_t>(kMaxBetCredits, credits)));
    if (bet == 1)
        Queue(kTakeOneCredit);
    else
        Queue(kTakeMultipleCredits,
              EncodeNumber(kTakeMultipleCredits, static_cast<std::uint32_t>(bet)));
    const std::uint32_t stake = static_cast<std::uint32_t>(bet) * FIdentity.CreditValue;
    FCredit -= stake;
    Queue(kGame, EncodeNumber(kGame, stake));
    if (Chance(0.35)) {
        const std::uint32_t win = std::min<std::uint32_t>(stake * kWinFactors[Pick(0, 6)], 0xFFFF);
        Queue(kWinReport, EncodeNumber(kWinReport, win));
        FCredit += win;
    }
}

void TDemoSession::Collect() {
    // The hopper pays the largest coins first, a handful at a time; a big
    // credit is left for the attendant to pay by hand.
    int paid = 0;
    for (std::uint32_t coin : {200u, 100u, 50u, 20u, 10u}) {
        while (FCredit >= coin && paid < kMaxPayoutCoins) {
            Queue(CoinCode(kCoinOutFirst, coin));
            FCredit -= coin;
            ++paid;
        }
    }
    if (FCredit >= 10 * FIdentity.CreditValue && !FAttendantCalled) {
        Queue(kCallAttendant);
        FAttendantCalled = true;
        FAttendantDue = Pick(1, 3);
    }
}

void TDemoSession::AttendantVisit() {
    Queue(kAttendantArrived);
    FAttendantCalled = false;
    const std::uint16_t closed = FSwitches;
    QueueSwitches(closed | kServiceDoor);
    if (FCredit >= 10 * FIdentity.CreditValue) {
        const auto credits = static_cast<std::uint32_t>(FCredit / FIdentity.CreditValue);
        Queue(kCancelledCredits, EncodeValue32(credits, FIdentity.BCDValues));
        FCredit -= static_cast<std::int64_t>(credits) * FIdentity.CreditValue;
    }
    if (Chance(0.7)) {
        QueueSwitches(closed | kServiceDoor | kRefillKey);
        QueueSwitches(closed | kServiceDoor | kRefillKey | kRefillMode);
        for (int n = Pick(2, 4); n > 0; --n)
            Queue(CoinCode(kRefillFirst, Chance(0.5) ? 100 : 200));
        QueueSwitches(closed | kServiceDoor);
    }
    QueueSwitches(closed);
}

void TDemoSession::Bookkeeping() {
    const std::uint16_t closed = FSwitches;
    QueueSwitches(closed | kCashDoor);
    QueueSwitches(closed | kCashDoor | kBookkeepingKey | kBookkeepingMode);
    QueueSwitches(closed | kCashDoor);
    if (Chance(0.4)) {
        QueueSwitches(closed | kCashDoor | kPayoutDoor);
        QueueSwitches(closed | kCashDoor | kPayoutDoor | kDumpMode);
        for (int n = Pick(1, 3); n > 0; --n)
            Queue(CoinCode(kDumpFirst, kCoins[Pick(0, 4)]));
        QueueSwitches(closed | kCashDoor | kPayoutDoor);
    }
    QueueSwitches(closed);
}

void RunDemo(TDemoSession& Session, TExchanger& Exchanger, IMachineLine& Line, std::ostream& Out) {
    try {
        for (;;) {
            const TDemoMessage m = Session.Next();
            Line.Idle(m.DelayMs);
            Out << FormatExchangeLine(Exchanger.Send(m.Header, m.Data)) << std::endl;
        }
    } catch (const EStopRequested&) {
    }
}

} // namespace volmar::machine
