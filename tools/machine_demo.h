// An endless made-up session of a gaming machine at a human pace: it powers
// on, players put in coins, play games and win, the hopper sends coins to
// the cashbox, an attendant is called and comes later to open the service
// door and refill, the cash door is opened for the bookkeeping. Every
// message is one the simulator accepts.
#pragma once

#include "tools/machine_exchange.h"
#include "tools/machine_messages.h"

#include <cstdint>
#include <deque>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace volmar::machine {

struct TDemoMessage {
    std::uint8_t Header = 0;
    std::vector<std::uint8_t> Data;
    int DelayMs = 0; // before it is sent
};

inline constexpr int kDemoMinDelayMs = 500;
inline constexpr int kDemoMaxDelayMs = 2000;

class TDemoSession {
  public:
    explicit TDemoSession(std::uint32_t Seed);

    TDemoMessage Next();

    // The player's credit in Forint, as this session has reported it.
    // Scenes are planned whole: the credit already counts the messages
    // planned but not yet handed out.
    std::int64_t CreditFt() const { return FCredit; }
    std::size_t Planned() const { return FPlanned.size(); }
    std::uint16_t Switches() const { return FSwitches; }
    bool AttendantCalled() const { return FAttendantCalled; }
    const TPowerOnIdentity& Identity() const { return FIdentity; }

  private:
    void Plan();
    void Queue(std::uint8_t Header, std::vector<std::uint8_t> Data = {});
    void QueueSwitches(std::uint16_t Word);
    int Pick(int Low, int High); // inclusive
    bool Chance(double P);

    void CoinsIn();
    void PlayGame();
    void Collect();
    void AttendantVisit();
    void Bookkeeping();

    std::mt19937 FRandom;
    std::deque<TDemoMessage> FPlanned;
    TPowerOnIdentity FIdentity;
    bool FPoweredOn = false;
    std::int64_t FCredit = 0;
    std::uint16_t FSwitches = kPayoutUnit;
    bool FAttendantCalled = false;
    int FAttendantDue = 0; // scenes until the called attendant arrives
};

// Sends the session's messages until a stop is requested or the line goes
// away, one line per exchange to Out.
void RunDemo(TDemoSession& Session, TExchanger& Exchanger, IMachineLine& Line, std::ostream& Out);

} // namespace volmar::machine
