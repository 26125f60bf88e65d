#include "serial/com_port_plus.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "serial/notify_target.h"
#include "serial/profile_file.h"
#include "serial/virtual_line.h"
#include "support/qt_pump.h"

namespace volmar {
namespace {

namespace fs = std::filesystem;
using testing::PumpFor;
using testing::PumpUntil;
using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(const std::string& S) { return Bytes(S.begin(), S.end()); }
std::string ToString(const Bytes& B) { return std::string(B.begin(), B.end()); }

// Exposes the information log's entries.
class TTestPort : public TComPortPlus {
public:
    std::vector<std::pair<std::uint32_t, std::string>> LogEntries() const { return FLog.Entries(); }
};

// The far end of the line on its own thread: echoes what the port sends
// when Echo is set, and answers Reply to every string ending in CR.
class TFarEnd {
public:
    TFarEnd(std::shared_ptr<TVirtualLine> Line, bool Echo, std::string Reply)
        : FLine(std::move(Line)), FEcho(Echo), FReply(std::move(Reply)), FThread([this] { Run(); }) {}
    ~TFarEnd() {
        FStop = true;
        FThread.join();
    }

private:
    void Run() {
        std::string pending;
        while (!FStop) {
            if (!FLine->WaitSent(1, std::chrono::milliseconds(10))) continue;
            const Bytes got = FLine->TakeSent();
            Bytes answer;
            if (FEcho) answer = got;
            pending += ToString(got);
            if (!pending.empty() && pending.back() == '\r' && !FReply.empty()) {
                const Bytes reply = ToBytes(FReply);
                answer.insert(answer.end(), reply.begin(), reply.end());
                pending.clear();
            }
            if (!answer.empty()) FLine->Send(answer);
        }
    }

    std::shared_ptr<TVirtualLine> FLine;
    bool FEcho;
    std::string FReply;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

struct PlusPortTest : ::testing::Test {
    std::shared_ptr<TVirtualLine> line = TVirtualLine::Create(
        std::string("plus-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    TManualTickClock clock{5000};
    TTestPort port;
    // Ends any wait that would otherwise hang on the manual clock.
    QTimer watchdog;

    void SetUp() override {
        port.SetDevicePath(line->DevicePath());
        port.SetClock(&clock);
        port.SetAutoOpen(false);
        port.SetRxTxDelay(0);
        port.SetOpen(true);
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [this] { clock.AdvanceTicks(1000); });
        watchdog.start(5000);
    }
    // Sends from the far end and waits until the port's ring holds it.
    void Arrive(const std::string& S) {
        const std::size_t before = port.InBuffUsed();
        line->Send(ToBytes(S));
        ASSERT_TRUE(PumpUntil([&] { return port.InBuffUsed() >= before + S.size(); }));
    }
    // Waits until the port has posted a notification to this thread and
    // leaves it in the event queue, not yet run.
    bool AwaitPostedNotification() {
        struct TCatch : QObject {
            bool Seen = false;
            bool eventFilter(QObject* Target, QEvent* Event) override {
                if (Seen || Event->type() != TNotifyTarget::EventType()) return false;
                Seen = true;
                const auto ticket = static_cast<TNotifyEvent*>(Event)->Ticket;
                QCoreApplication::postEvent(Target, new TNotifyEvent(ticket));
                return true;
            }
        } filter;
        QCoreApplication::instance()->installEventFilter(&filter);
        QElapsedTimer timer;
        timer.start();
        // Each call delivers only the notifications posted before it.
        while (!filter.Seen && timer.elapsed() < 3000) {
            QCoreApplication::sendPostedEvents(nullptr, TNotifyTarget::EventType());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        QCoreApplication::instance()->removeEventFilter(&filter);
        return filter.Seen;
    }
    // Advances the manual clock by ClockMs from the event loop after Ms.
    void AdvanceLater(int Ms, std::uint32_t ClockMs, std::function<void()> Before = {}) {
        QTimer::singleShot(Ms, &watchdog, [this, ClockMs, Before] {
            if (Before) Before();
            clock.Advance(ClockMs);
        });
    }
};

TEST(PlusPortDefaults, Properties) {
    TComPortPlus port;
    EXPECT_TRUE(port.ExpectTxEcho());
    EXPECT_EQ(port.LastError(), 0);
    EXPECT_EQ(port.LogInfo(), logNone);
    EXPECT_EQ(port.RxTxDelay(), 4u);
    EXPECT_EQ(port.Timeout(), 1000u);
    EXPECT_TRUE(port.Yield());
    EXPECT_EQ(port.Terminator(), "^M^J");
    port.SetTerminator("^C>");
    EXPECT_EQ(port.Terminator(), "^C>");
}

TEST(PlusPortDefaults, ClosedPortStoresOnlyOffOrOn) {
    TComPortPlus port;
    port.SetTracing(tlOn);
    EXPECT_EQ(port.Tracing(), tlOn);
    port.SetTracing(tlDump);
    EXPECT_EQ(port.Tracing(), tlOff);
    port.SetLogging(tlPause);
    EXPECT_EQ(port.Logging(), tlOff);
}

TEST_F(PlusPortTest, ReplyEndsAtTheTerminator) {
    Arrive("OK\r\nA");
    clock.SetMilliseconds(7777);
    EXPECT_TRUE(port.WaitForReply(5));
    EXPECT_EQ(port.LastRx(), "OK\r\n");
    EXPECT_EQ(port.LastError(), 0);
    EXPECT_EQ(port.RxTicks(), 7777u);
    ASSERT_TRUE(port.CharReady());
    EXPECT_EQ(port.GetChar(), 'A') << "the byte after the terminator stays";
}

TEST_F(PlusPortTest, TerminatorMatchRestarts) {
    Arrive("\r\r\nX");
    EXPECT_TRUE(port.WaitForReply(10));
    EXPECT_EQ(port.LastRx(), "\r\r\n");

    port.FlushInBuffer();
    port.SetTerminator("ab");
    Arrive("aab!");
    EXPECT_TRUE(port.WaitForReply(10));
    EXPECT_EQ(port.LastRx(), "aab");
}

TEST_F(PlusPortTest, CountEndsTheReply) {
    port.SetTerminator("");
    Arrive("\r\nABC");
    EXPECT_TRUE(port.WaitForReply(3));
    EXPECT_EQ(port.LastRx(), "\r\nA");

    port.SetTerminator("^J");
    EXPECT_TRUE(port.WaitForReply(2));
    EXPECT_EQ(port.LastRx(), "BC") << "the count completes before any terminator";
}

TEST_F(PlusPortTest, ZeroCountReturnsAtOnce) {
    Arrive("waiting");
    EXPECT_TRUE(port.WaitForReply(0));
    EXPECT_EQ(port.LastRx(), "");
    EXPECT_EQ(port.LastError(), 0);
    EXPECT_EQ(port.InBuffUsed(), 7) << "nothing was taken";
}

TEST_F(PlusPortTest, TimeoutAfterMoreThanTheTimeoutTicks) {
    Arrive("OK");
    port.SetTimeout(1000);  // 18 ticks
    bool lastTickGiven = false;
    AdvanceLater(20, 18 * kMsPerTick);
    AdvanceLater(200, kMsPerTick, [&] { lastTickGiven = true; });
    EXPECT_FALSE(port.WaitForReply(5));
    EXPECT_TRUE(lastTickGiven) << "18 ticks are not yet more than the timeout";
    EXPECT_EQ(port.LastError(), 201);
    EXPECT_EQ(port.LastRx(), "OK");

    AdvanceLater(20, 19 * kMsPerTick);
    EXPECT_FALSE(port.Receive(1));
    EXPECT_EQ(port.LastError(), 201);
}

TEST_F(PlusPortTest, TimeoutAcrossTheClockWrap) {
    // The last tick before the wrap; 30 ms later the clock reads tick 0.
    clock.SetMilliseconds((kTickRange - 1) * kMsPerTick);
    port.SetTimeout(55);  // 1 tick
    bool lastTickGiven = false;
    AdvanceLater(20, 30);
    AdvanceLater(200, kMsPerTick, [&] { lastTickGiven = true; });
    EXPECT_FALSE(port.WaitForReply(1));
    EXPECT_TRUE(lastTickGiven);
    EXPECT_EQ(port.LastError(), 201);
}

TEST_F(PlusPortTest, WaitRestoresTheSuspension) {
    Arrive("x");
    EXPECT_TRUE(port.WaitForReply(1));
    EXPECT_FALSE(port.SuspendNotifications(true)) << "not suspended after the wait";
    Arrive("y");
    EXPECT_TRUE(port.WaitForReply(1));
    EXPECT_TRUE(port.SuspendNotifications(false)) << "still suspended as before the wait";
}

TEST_F(PlusPortTest, ANotificationPostedBeforeAWaitRunsAfterIt) {
    bool waiting = false;
    std::vector<bool> timers;
    port.OnTriggerTimer = [&](TCustomComPort*, std::uint16_t) { timers.push_back(waiting); };
    port.UpdateHandlerFlags();
    port.SetTimerTrigger(port.AddTimerTrigger(), 1, true);
    clock.AdvanceTicks(2);
    ASSERT_TRUE(AwaitPostedNotification());
    line->Send({'x'});
    waiting = true;
    EXPECT_TRUE(port.WaitForReply(1)) << "the dispatcher is not held up by the postponed timer";
    waiting = false;
    EXPECT_TRUE(timers.empty()) << "no handler runs inside the wait";
    ASSERT_TRUE(PumpUntil([&] { return !timers.empty(); }));
    EXPECT_EQ(timers, std::vector<bool>{false});
}

TEST_F(PlusPortTest, DataPostedBeforeAWaitIsAnnouncedWithWhatTheWaitLeft) {
    std::vector<std::pair<bool, int>> avail;
    bool waiting = false;
    port.OnTriggerAvail = [&](TCustomComPort* cp, std::uint16_t n) {
        avail.emplace_back(waiting, n);
        for (int i = 0; i < n; ++i) cp->GetChar();
    };
    port.UpdateHandlerFlags();
    line->Send(ToBytes("OK\r\nX"));
    ASSERT_TRUE(AwaitPostedNotification());
    waiting = true;
    EXPECT_TRUE(port.WaitForReply(10));
    waiting = false;
    EXPECT_EQ(port.LastRx(), "OK\r\n");
    ASSERT_TRUE(PumpUntil([&] { return !avail.empty(); }));
    EXPECT_EQ(avail, (std::vector<std::pair<bool, int>>{{false, 1}}));
    EXPECT_FALSE(port.CharReady());
}

TEST_F(PlusPortTest, ADeviceLostDuringAWaitIsReportedAfterIt) {
    bool waiting = false;
    std::vector<bool> lost;
    port.OnDeviceLost = [&](TCustomComPort*) { lost.push_back(waiting); };
    port.UpdateHandlerFlags();
    QTimer::singleShot(20, &watchdog, [&] { line->Vanish(); });
    QTimer endWait;
    QObject::connect(&endWait, &QTimer::timeout, [&] {
        if (port.DeviceLost()) clock.AdvanceTicks(19);
    });
    endWait.start(10);
    waiting = true;
    EXPECT_FALSE(port.WaitForReply(1));
    waiting = false;
    endWait.stop();
    ASSERT_TRUE(port.DeviceLost());
    ASSERT_TRUE(PumpUntil([&] { return !lost.empty(); }));
    PumpFor(100);
    EXPECT_EQ(lost, std::vector<bool>{false});
}

TEST_F(PlusPortTest, SendStringTakesTheEcho) {
    TFarEnd far(line, true, "");
    EXPECT_TRUE(port.SendString("AT\r"));
    EXPECT_EQ(port.LastError(), 0);
    EXPECT_EQ(port.LastTx(), "AT\r");
    EXPECT_EQ(port.LastRx(), "");
    EXPECT_FALSE(port.CharReady());
}

TEST_F(PlusPortTest, MissingEchoIs200) {
    AdvanceLater(50, 19 * kMsPerTick);
    EXPECT_FALSE(port.SendString("AT\r"));
    EXPECT_EQ(port.LastError(), 200);
    EXPECT_EQ(ToString(line->TakeSent()), "AT\r");
}

TEST_F(PlusPortTest, DifferentEchoIs200) {
    std::thread far([&] {
        if (line->WaitSent(3, std::chrono::seconds(3))) line->Send(ToBytes("AX\r"));
    });
    EXPECT_FALSE(port.SendString("AT\r"));
    far.join();
    EXPECT_EQ(port.LastError(), 200);
    EXPECT_EQ(port.LastRx(), "AX\r") << "a wrong echo stays in LastRx";
}

TEST_F(PlusPortTest, WithoutEchoTheBytesJustGo) {
    port.SetExpectTxEcho(false);
    EXPECT_TRUE(port.SendString("ATZ\r"));
    ASSERT_TRUE(line->WaitSent(4, std::chrono::seconds(2)));
    EXPECT_EQ(ToString(line->TakeSent()), "ATZ\r");
}

TEST_F(PlusPortTest, RxTxDelayWaitsAfterTheLastByteReceived) {
    port.SetExpectTxEcho(false);
    port.SetRxTxDelay(4);
    Arrive("x");
    ASSERT_TRUE(port.WaitForReply(1));
    bool sentEarly = true;
    QTimer::singleShot(50, &watchdog, [&] { clock.Advance(3); });
    QTimer::singleShot(150, &watchdog, [&] {
        sentEarly = line->WaitSent(1, std::chrono::milliseconds(0));
        clock.Advance(1);
    });
    EXPECT_TRUE(port.SendString("go"));
    EXPECT_FALSE(sentEarly) << "3 ms after the last byte is too soon";
    ASSERT_TRUE(line->WaitSent(2, std::chrono::seconds(2)));
    EXPECT_EQ(ToString(line->TakeSent()), "go");
}

TEST_F(PlusPortTest, RemoveEcho) {
    port.SetExpectTxEcho(false);
    ASSERT_TRUE(port.SendString("AB"));
    std::string s = "ABC";
    EXPECT_TRUE(port.RemoveEcho(s));
    EXPECT_EQ(s, "C");
    s = "AB";
    EXPECT_TRUE(port.RemoveEcho(s));
    EXPECT_EQ(s, "");
    for (const std::string other : {"AX", "A", "", "xAB"}) {
        s = other;
        EXPECT_FALSE(port.RemoveEcho(s)) << other;
        EXPECT_EQ(s, other);
    }
}

TEST_F(PlusPortTest, TransactFlushesStaleInputAndGetsTheReply) {
    TFarEnd far(line, true, "OK\r\n");
    Arrive("stale");
    const int purges = line->InputPurges();
    EXPECT_TRUE(port.Transact("AT\r", 255));
    EXPECT_EQ(port.LastRx(), "OK\r\n");
    EXPECT_EQ(port.LastTx(), "AT\r");
    EXPECT_EQ(line->InputPurges(), purges + 1);

    EXPECT_TRUE(port.Command("AT\r"));
    EXPECT_EQ(port.LastRx(), "OK\r\n");
    EXPECT_EQ(line->InputPurges(), purges + 1) << "no flush when nothing is waiting";
}

TEST_F(PlusPortTest, TransactFlushesAfterAFailure) {
    std::thread far([&] {
        if (line->WaitSent(2, std::chrono::seconds(3))) line->Send(ToBytes("Y\r\nrest"));
    });
    const int purges = line->InputPurges();
    EXPECT_FALSE(port.Transact("X\r", 255));
    far.join();
    EXPECT_EQ(port.LastError(), 200);
    EXPECT_EQ(line->InputPurges(), purges + 1);
    PumpFor(30);
    EXPECT_EQ(port.InBuffUsed(), 0);
}

TEST_F(PlusPortTest, TransactFlushesWhenAStepRaises) {
    port.SetOpen(false);
    port.SetOutSize(8);
    port.SetOpen(true);
    Arrive("stale");
    const int purges = line->InputPurges();
    EXPECT_THROW(port.Transact(std::string(16, 'x'), 255), EOutputBufferTooSmall);
    EXPECT_EQ(line->InputPurges(), purges + 2) << "once before sending, once for the failure";

    port.SetOpen(false);
    EXPECT_THROW(port.Transact("AT\r", 255), ECommNotOpen);
}

TEST_F(PlusPortTest, LogLinesAndLevels) {
    port.SetLogging(tlOn);
    port.SetExpectTxEcho(false);
    port.SetLogInfo(logAll);
    clock.SetMilliseconds(1234);
    ASSERT_TRUE(port.Transmit("AT\r"));
    Arrive("OK");
    port.SetTimeout(0);
    port.SetTerminator("");
    ASSERT_TRUE(port.Receive(2));
    port.LogError("abc", 5);
    port.LogText("plain");
    port.AddLogInfo("Raw", "a b", false, 2);
    port.AddLogInfo("Empty", "", true, 1);
    const std::vector<std::pair<std::uint32_t, std::string>> all{
        {1234, "Tx, 41 54 0D"}, {1234, "Rx, 4F 4B"},   {1234, "ERROR 5, abc"},
        {1234, "plain"},        {1234, "Raw, a b"},    {1234, "Empty"}};
    EXPECT_EQ(port.LogEntries(), all);

    port.SetLogging(tlClear);
    port.SetLogInfo(logLow);
    port.AddLogInfo("one", "", false, 1);
    port.AddLogInfo("two", "", false, 2);
    port.LogText("text");
    port.SetLogInfo(logNone);
    port.AddLogInfo("none", "", false, 1);
    EXPECT_EQ(port.LogEntries(), (std::vector<std::pair<std::uint32_t, std::string>>{{1234, "one"}}));

    port.SetLogInfo(logAll);
    port.SetLogging(tlPause);
    port.LogText("paused");
    port.SetLogging(tlOn);
    EXPECT_EQ(port.LogEntries().size(), 1u) << "nothing is logged unless Logging is on";
    // Closing would dump the log into the working folder.
    port.SetLogging(tlOff);
}

// Every stored setting as text, to compare ports.
std::string Settings(const TComPortPlus& P) {
    std::ostringstream s;
    s << P.Baud() << ' ' << P.ComNumber() << ' ' << P.DataBits() << ' ' << P.ExpectTxEcho() << ' '
      << P.InSize() << ' ' << P.LogHex() << ' ' << int(P.LogInfo()) << ' ' << P.LogName() << ' '
      << P.LogSize() << ' ' << P.OutSize() << ' ' << int(P.Parity()) << ' ' << P.RxTxDelay() << ' '
      << P.StopBits() << ' ' << int(P.TapiMode()) << ' ' << P.Terminator() << ' ' << P.Timeout()
      << ' ' << P.TraceHex() << ' ' << P.TraceName() << ' ' << P.TraceSize() << ' '
      << P.UseEventWord() << ' ' << P.Yield();
    return s.str();
}

void Customise(TComPortPlus& P) {
    P.SetBaud(2400);
    P.SetComNumber(3);
    P.SetDataBits(7);
    P.SetExpectTxEcho(false);
    P.SetInSize(1024);
    P.SetLogHex(false);
    P.SetLogInfo(logLow);
    P.SetLogName("/tmp/port.log");
    P.SetLogSize(20000000);
    P.SetOutSize(512);
    P.SetParity(pEven);
    P.SetRxTxDelay(9);
    P.SetStopBits(2);
    P.SetTapiMode(tmOff);
    P.SetTerminator("^C");
    P.SetTimeout(2500);
    P.SetTraceHex(false);
    P.SetTraceName("/tmp/port.trc");
    P.SetTraceSize(5000);
    P.SetUseEventWord(false);
    P.SetYield(false);
}

class PlusSettings : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "plusiniXXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        FDir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(FDir, ec);
    }
    std::string Ini() const { return (FDir / "VolmarSim.Ini").string(); }
    void Write(const std::string& Text) const { std::ofstream(Ini(), std::ios::binary) << Text; }

    fs::path FDir;
};

TEST_F(PlusSettings, OnlyTheKeysPresentChange) {
    TComPortPlus port;
    Customise(port);
    Write("[Port]\nBaud=9600\n");
    std::string expected = Settings(port);
    expected.replace(0, 4, "9600");
    port.LoadPortSettings(Ini(), "port");
    EXPECT_EQ(Settings(port), expected);
}

TEST_F(PlusSettings, UnreadableValuesAndMissingSectionsChangeNothing) {
    TComPortPlus port;
    Customise(port);
    const std::string before = Settings(port);
    Write("[Port]\nBaud=fast\nParity=5\nLogInfo=3\nTapiMode=-1\nInSize=70000\nTimeout=-3\n"
          "Yield=maybe\nUseMSRShadow=0\n[Other]\nBaud=300\n");
    port.LoadPortSettings(Ini(), "Port");
    EXPECT_EQ(Settings(port), before);
    port.LoadPortSettings(Ini(), "Absent");
    port.LoadPortSettings((FDir / "none.ini").string(), "Port");
    EXPECT_EQ(Settings(port), before);
}

TEST_F(PlusSettings, RoundTripKeepsTheRestOfTheFile) {
    Write("; settings\n[Window]\nLeft=10\n\n[Port]\nBaud=1\nCustom=keep\n");
    TComPortPlus saved;
    Customise(saved);
    saved.SetTracing(tlOn);
    saved.SavePortSettings(Ini(), "Port");

    TProfileFile ini;
    ini.Load(Ini());
    EXPECT_EQ(ini.ReadString("Window", "Left", ""), "10");
    EXPECT_EQ(ini.Keys("Port"),
              (std::vector<std::string>{"Baud", "Custom", "ComNumber", "DataBits", "ExpectTxEcho",
                                        "InSize", "LogHex", "LogInfo", "LogName", "LogSize",
                                        "OutSize", "Parity", "RxTxDelay", "StopBits", "TapiMode",
                                        "Terminator", "Timeout", "TraceHex", "TraceName",
                                        "TraceSize", "UseEventWord", "UseMSRShadow", "Yield"}));
    EXPECT_EQ(ini.ReadString("Port", "Custom", ""), "keep");
    EXPECT_EQ(ini.ReadString("Port", "Terminator", ""), "^C");
    EXPECT_EQ(ini.ReadString("Port", "LogSize", ""), "16000000");
    EXPECT_EQ(ini.ReadString("Port", "UseMSRShadow", ""), "1");
    EXPECT_EQ(ini.ReadString("Port", "Yield", ""), "0");
    EXPECT_FALSE(ini.KeyExists("Port", "Tracing"));

    TComPortPlus loaded;
    loaded.LoadPortSettings(Ini(), "Port");
    EXPECT_EQ(Settings(loaded), Settings(saved));
    EXPECT_EQ(loaded.Tracing(), tlOff);
}

TEST_F(PlusSettings, LimitsApplyOnLoad) {
    Write("[Port]\nLogSize=$7FFFFFFF\nTraceSize=99999999\nLogName=" + std::string(300, 'n') +
          "\nTraceName=t.trc\nTerminator=^M\n");
    TComPortPlus port;
    port.LoadPortSettings(Ini(), "Port");
    EXPECT_EQ(port.LogSize(), kMaxLogEntries);
    EXPECT_EQ(port.TraceSize(), kMaxTraceEntries);
    EXPECT_EQ(port.LogName(), std::string(255, 'n'));
    EXPECT_EQ(port.TraceName(), "t.trc");
    EXPECT_EQ(port.Terminator(), "^M");
}

} // namespace
} // namespace volmar
