// The service notifications beside the engine, to a notify socket the test
// listens on as systemd would.
#include <chrono>
#include <cstdlib>
#include <thread>

#include "lab/lab_fixture.h"
#include "support/notify_listener.h"

namespace volmar::testing {
namespace {

class ServiceNotifierTest : public LabTest {
protected:
    void BeforeStartUp() override {
        ::setenv("NOTIFY_SOCKET", listener->Path.c_str(), 1);
        ::setenv("WATCHDOG_USEC", "100000", 1);
        LabTest::BeforeStartUp();
        ::unsetenv("NOTIFY_SOCKET");
        ::unsetenv("WATCHDOG_USEC");
    }

    std::optional<std::string> Await(const std::string& Line, int TimeoutMs = 5000) {
        return listener->Await([&](const std::string& M) { return Says(M, Line); }, TimeoutMs,
                               [] { PumpFor(5); });
    }

    std::unique_ptr<NotifyListener> listener;
};

TEST_F(ServiceNotifierTest, ReadyWhileAnsweringTheWatchdogFedOnlyByTheEngineThenStopping) {
    listener = std::make_unique<NotifyListener>(dir / "notify");
    ASSERT_TRUE(listener->Bound);
    StartOnCom1();
    const std::optional<std::string> ready = Await("READY=1");
    ASSERT_TRUE(ready);
    EXPECT_TRUE(Says(*ready, "STATUS=answering on COM1 (" + line->DevicePath() + ")")) << *ready;
    ASSERT_TRUE(Await("WATCHDOG=1"));

    // The engine's thread busy well past the watchdog's interval: nothing
    // else may feed it meanwhile, or a hung engine would never be restarted.
    while (listener->Next(0)) {}
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(listener->Next(0), std::nullopt) << "fed while the engine stood still";
    EXPECT_TRUE(Await("WATCHDOG=1")) << "fed again once it runs";

    monitor->ShutDown();
    EXPECT_TRUE(Await("STOPPING=1"));
    Close();
}

} // namespace
} // namespace volmar::testing
