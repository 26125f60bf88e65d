// The port over a real line: a pseudo-terminal pair whose slave the port
// opens by path while the test plays the far end on the master.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>

#include "serial/com_port.h"
#include "support/qt_pump.h"

namespace volmar {
namespace {

using testing::PumpFor;
using testing::PumpUntil;

struct PtyPortTest : ::testing::Test {
    int master = -1;
    std::string slavePath;
    TCustomComPort port;
    std::vector<int> counts;
    std::string received;

    void SetUp() override {
        int slave = -1;
        char name[256] = {};
        ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
        ::close(slave);
        slavePath = name;
        termios t{};
        ::tcgetattr(master, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master, TCSANOW, &t);
        port.SetDevicePath(slavePath);
        port.SetAutoOpen(false);
        port.OnTriggerAvail = [this](TCustomComPort* cp, std::uint16_t n) {
            counts.push_back(n);
            for (int i = 0; i < n; ++i) received.push_back(static_cast<char>(cp->GetChar()));
        };
    }
    void TearDown() override {
        port.SetOpen(false);
        if (master >= 0) ::close(master);
    }
    void Write(const std::string& bytes) {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    std::string ReadMaster(std::size_t n) {
        std::string got;
        while (got.size() < n) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0) break;
            char buf[256];
            const ssize_t r = ::read(master, buf, sizeof buf);
            if (r <= 0) break;
            got.append(buf, static_cast<std::size_t>(r));
        }
        return got;
    }
    speed_t MasterSpeed() {
        termios t{};
        ::tcgetattr(master, &t);
        return cfgetospeed(&t);
    }
};

TEST_F(PtyPortTest, BytesBothWaysWithOneNotificationForABurst) {
    port.SetOpen(true);
    Write("\x26\x26\x0B");
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 3; }));
    EXPECT_EQ(counts, (std::vector<int>{3}));
    EXPECT_EQ(received, "\x26\x26\x0B");
    port.PutChar(0x06);
    port.PutString("AB");
    EXPECT_EQ(ReadMaster(3), "\x06" "AB");
}

TEST_F(PtyPortTest, DataByteFFArrivesIntact) {
    port.SetOpen(true);
    Write(std::string("\xFF\x41\xFF\xFF\x00", 5));
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 5; }));
    EXPECT_EQ(received, std::string("\xFF\x41\xFF\xFF\x00", 5));
    EXPECT_EQ(port.LineError(), leNoError) << "no error mark reaches the data or the flags";
}

TEST_F(PtyPortTest, LineSettingsAppliedAtOpenAndOnChange) {
    port.SetBaud(1200);
    port.SetParity(pOdd);
    port.SetOpen(true);
    // A pseudo-terminal keeps the speed; it drops parity (checked on the
    // virtual line instead).
    EXPECT_EQ(MasterSpeed(), B1200);
    port.SetBaud(9600);
    EXPECT_EQ(MasterSpeed(), B9600);
}

TEST_F(PtyPortTest, ExclusiveUseAndMissingDevices) {
    port.SetOpen(true);
    TCustomComPort second;
    second.SetDevicePath(slavePath);
    try {
        second.SetOpen(true);
        FAIL() << "a second port object opened the same device";
    } catch (const EPortException& e) {
        EXPECT_EQ(e.Code(), -2008);
        EXPECT_STREQ(e.what(), "ie_Open - device already open");
    }
    EXPECT_FALSE(second.Open());
    port.SetOpen(false);
    EXPECT_NO_THROW(second.SetOpen(true)) << "free again after the close";
    second.SetOpen(false);

    TCustomComPort missing;
    missing.SetDevicePath("/dev/volmar-no-such-device");
    try {
        missing.SetOpen(true);
        FAIL();
    } catch (const EPortException& e) {
        EXPECT_EQ(e.Code(), -2001);
    }
}

TEST_F(PtyPortTest, FlushDiscardsWaitingInput) {
    port.OnTriggerAvail = nullptr;
    port.OnTriggerTimer = [](TCustomComPort*, std::uint16_t) {};
    port.SetOpen(true);
    Write("xyz");
    ASSERT_TRUE(PumpUntil([&] { return port.InBuffUsed() == 3; }));
    port.FlushInBuffer();
    EXPECT_FALSE(port.CharReady());
    port.FlushOutBuffer();
    EXPECT_EQ(port.OutBuffUsed(), 0);
}

TEST_F(PtyPortTest, ModemLinesAreAbsentOnAPseudoTerminal) {
    port.SetOpen(true);
    EXPECT_FALSE(port.CTS());
    EXPECT_FALSE(port.DSR());
    EXPECT_FALSE(port.DCD());
    port.SetRTS(false);  // no modem lines: accepted and ignored
    port.SetDTR(false);
}

TEST_F(PtyPortTest, AVanishedDeviceIsReportedAndNotRead) {
    int lost = 0;
    port.OnDeviceLost = [&](TCustomComPort*) { ++lost; };
    port.SetOpen(true);
    ::close(master);
    master = -1;
    ASSERT_TRUE(PumpUntil([&] { return lost == 1; }));
    EXPECT_TRUE(port.DeviceLost());
    PumpFor(200);
    EXPECT_EQ(lost, 1);
    EXPECT_TRUE(counts.empty()) << "a hang-up is not data";
    port.SetOpen(false);
    EXPECT_EQ(port.State(), psClosed);
}

std::size_t ThreadCount() {
    return static_cast<std::size_t>(std::distance(
        std::filesystem::directory_iterator("/proc/self/task"), {}));
}

// With an event loop the UI thread itself serves a device that has a
// descriptor: the port starts no thread of its own.
TEST_F(PtyPortTest, AnOpenPortOnAnEventLoopRunsNoThreadOfItsOwn) {
    const std::size_t before = ThreadCount();
    port.SetOpen(true);
    EXPECT_EQ(ThreadCount(), before);
    Write("\x26\x26");
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(ThreadCount(), before);
}

// A reply from the handler goes straight to the device, not into a queue
// another thread empties later.
TEST_F(PtyPortTest, AReplyLeavesTheQueueBeforeTheHandlerReturns) {
    std::uint16_t stillQueued = 0xFFFF;
    port.OnTriggerAvail = [&](TCustomComPort* cp, std::uint16_t n) {
        for (int i = 0; i < n; ++i) cp->GetChar();
        cp->PutChar(0x06);
        stillQueued = cp->OutBuffUsed();
    };
    port.SetOpen(true);
    Write("\x26\x26");
    ASSERT_TRUE(PumpUntil([&] { return stillQueued != 0xFFFF; }));
    EXPECT_EQ(stillQueued, 0);
    EXPECT_EQ(ReadMaster(1), "\x06");
}

} // namespace
} // namespace volmar
