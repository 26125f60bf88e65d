#include "app/quit_signals.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "support/qt_pump.h"

namespace volmar {
namespace {

using testing::PumpFor;
using testing::PumpUntil;

// Counts the calls and where they ran.
struct TQuitProbe {
    int Calls = 0;
    int CallsOffUiThread = 0;
    std::thread::id UiThread = std::this_thread::get_id();

    std::function<void()> Handler() {
        return [this] {
            ++Calls;
            if (std::this_thread::get_id() != UiThread) ++CallsOffUiThread;
        };
    }
};

TEST(QuitSignals, EachSignalQuitsOnceOnTheUiThread) {
    TQuitProbe probe;
    InstallQuitSignals(probe.Handler());
    int expected = 0;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        ASSERT_EQ(std::raise(signal), 0);
        ++expected;
        EXPECT_TRUE(PumpUntil([&] { return probe.Calls >= expected; }, 10000))
            << "signal " << signal;
        PumpFor(50);
        EXPECT_EQ(probe.Calls, expected) << "signal " << signal;
    }
    EXPECT_EQ(probe.CallsOffUiThread, 0);
}

TEST(QuitSignals, ASignalOnAnotherThreadStillQuitsOnTheUiThread) {
    TQuitProbe probe;
    InstallQuitSignals(probe.Handler());
    std::thread worker([] {
        // Only this thread may take it.
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        std::raise(SIGTERM);
    });
    worker.join();
    EXPECT_TRUE(PumpUntil([&] { return probe.Calls == 1; }, 10000));
    EXPECT_EQ(probe.CallsOffUiThread, 0);
}

TEST(QuitSignals, ASecondInstallReplacesTheHandler) {
    TQuitProbe old;
    TQuitProbe current;
    InstallQuitSignals(old.Handler());
    InstallQuitSignals(current.Handler());
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_TRUE(PumpUntil([&] { return current.Calls == 1; }, 10000));
    PumpFor(50);
    EXPECT_EQ(old.Calls, 0);
    EXPECT_EQ(current.Calls, 1);
}

TEST(QuitSignals, ASignalWhileQuittingStartsNoSecondQuit) {
    int calls = 0;
    int depth = 0;
    int deepest = 0;
    InstallQuitSignals([&] {
        ++calls;
        ++depth;
        deepest = std::max(deepest, depth);
        // A close that runs the event loop, and more signals meanwhile.
        std::raise(SIGINT);
        PumpFor(50);
        std::raise(SIGTERM);
        --depth;
    });
    ASSERT_EQ(std::raise(SIGHUP), 0);
    EXPECT_TRUE(PumpUntil([&] { return calls >= 1; }, 10000));
    PumpFor(100);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(deepest, 1);

    // Once done, the next signal is a new request.
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_TRUE(PumpUntil([&] { return calls == 2; }, 10000));
    EXPECT_EQ(deepest, 1);
}

TEST(QuitSignals, TheHandlerMayReplaceItself) {
    TQuitProbe next;
    int firstCalls = 0;
    std::string kept = "still here";
    std::string seen;
    InstallQuitSignals([&, kept] {
        ++firstCalls;
        InstallQuitSignals(next.Handler());
        // The running handler is not destroyed under its own feet.
        seen = kept;
    });
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_TRUE(PumpUntil([&] { return firstCalls == 1; }, 10000));
    EXPECT_EQ(seen, "still here");
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_TRUE(PumpUntil([&] { return next.Calls == 1; }, 10000));
    EXPECT_EQ(firstCalls, 1);
}

TEST(QuitSignals, ManySignalsAtOnceQuitAtLeastOnceAndStayQuiet) {
    TQuitProbe probe;
    InstallQuitSignals(probe.Handler());
    // More than the channel between handler and loop holds is no fault either.
    for (int i = 0; i < 5000; ++i) std::raise(i % 2 ? SIGTERM : SIGHUP);
    EXPECT_TRUE(PumpUntil([&] { return probe.Calls >= 1; }, 10000));
    PumpFor(100);
    const int calls = probe.Calls;
    PumpFor(100);
    EXPECT_EQ(probe.Calls, calls);
    EXPECT_EQ(probe.CallsOffUiThread, 0);
}

} // namespace
} // namespace volmar
