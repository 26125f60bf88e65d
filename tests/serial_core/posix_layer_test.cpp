#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <thread>
#include <vector>

#include "serial/port_errors.h"
#include "serial/posix_device_layer.h"

namespace volmar {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::int32_t CodeOf(const std::function<void()>& F) {
    try {
        F();
    } catch (const EPortException& e) {
        return e.Code();
    }
    return 0;
}

// The layer opens a pseudo-terminal's slave by its path; the test plays the
// far end on the master.
class PosixLayer : public ::testing::Test {
protected:
    void SetUp() override {
        int slave = -1;
        char name[128] = {};
        ASSERT_EQ(::openpty(&FMaster, &slave, name, nullptr, nullptr), 0);
        ::close(slave);
        FPath = name;
        FLayer.Open(FPath);
    }
    void TearDown() override { CloseMaster(); }
    void CloseMaster() {
        if (FMaster >= 0) ::close(FMaster);
        FMaster = -1;
    }
    void SendFromFar(const Bytes& B) {
        ASSERT_EQ(::write(FMaster, B.data(), B.size()), static_cast<ssize_t>(B.size()));
    }
    // Reads through the layer until Count data bytes came or input stops.
    Bytes ReadAll(std::size_t Count, std::size_t Max, std::uint8_t& Errors) {
        Bytes got;
        std::uint8_t buf[64];
        while (got.size() < Count && (FLayer.WaitEvent(2000) & kEventInput)) {
            const std::size_t n = FLayer.Read(buf, Max, Errors);
            EXPECT_LE(n, Max);
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    int FMaster = -1;
    std::string FPath;
    TPosixDeviceLayer FLayer;
};

TEST_F(PosixLayer, OpensExclusivelyAndReleasesOnClose) {
    EXPECT_TRUE(::fcntl(FLayer.Handle(), F_GETFL) & O_NONBLOCK);
    TPosixDeviceLayer second;
    EXPECT_EQ(CodeOf([&] { second.Open(FPath); }), -2008);
    EXPECT_EQ(second.Handle(), -1);
    FLayer.Close();
    FLayer.Close();
    EXPECT_EQ(FLayer.Handle(), -1);
    second.Open(FPath);
    EXPECT_GE(second.Handle(), 0) << "the lock goes with the close";

    EXPECT_EQ(CodeOf([&] { FLayer.Open("/dev/no-such-serial-device"); }), -2001);
    char file[] = "/tmp/volmar_not_a_ttyXXXXXX";
    const int fd = ::mkstemp(file);
    ::close(fd);
    EXPECT_EQ(CodeOf([&] { FLayer.Open(file); }), -ENOTTY);
    EXPECT_EQ(FLayer.Handle(), -1);
    ::unlink(file);
}

TEST_F(PosixLayer, MovesBytesBothWaysAndFFArrivesOnce) {
    std::uint8_t errors = 0;
    const Bytes in{0xFF, 1, 0xFF, 0xFF, 0, 0, 0xFF, 0, 2, 3, 4};
    SendFromFar(in);
    EXPECT_EQ(ReadAll(in.size(), 1, errors), in) << "one byte at a time splits every mark";
    SendFromFar(in);
    EXPECT_EQ(ReadAll(in.size(), 4, errors), in);
    EXPECT_EQ(errors, 0) << "data that looks like a mark is not one";

    const Bytes out{'h', 'i', 0x00, 0xFF};
    ASSERT_TRUE(FLayer.WaitWritable(1000));
    EXPECT_EQ(FLayer.Write(out.data(), out.size()), out.size());
    // The far end may get them in more than one piece.
    Bytes got;
    std::uint8_t buf[16];
    for (pollfd p{FMaster, POLLIN, 0}; got.size() < out.size() && ::poll(&p, 1, 2000) == 1;) {
        const ssize_t n = ::read(FMaster, buf, sizeof buf);
        if (n <= 0) break;
        got.insert(got.end(), buf, buf + n);
    }
    EXPECT_EQ(got, out);
}

// A pseudo-terminal keeps speed and stop bits but forces eight bits and no
// parity, so the frame itself is checked on the termios conversion below.
TEST_F(PosixLayer, AppliesRawModeAndLineSettings) {
    FLayer.SetLineSettings({19200, pEven, 7, 2});
    termios t{};
    ASSERT_EQ(::tcgetattr(FLayer.Handle(), &t), 0);
    EXPECT_EQ(::cfgetispeed(&t), static_cast<speed_t>(B19200));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD | CRTSCTS), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (INPCK | PARMRK), static_cast<tcflag_t>(INPCK | PARMRK));
    EXPECT_FALSE(t.c_iflag & (IGNPAR | ISTRIP | IGNBRK | BRKINT | IXON | IXOFF | ICRNL));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_EQ(t.c_cc[VMIN] + t.c_cc[VTIME], 0);

    const TLineSettings fast{4000000, pNone, 8, 1};
    FLayer.SetLineSettings(fast);
    EXPECT_EQ(FLayer.LineSettings(), fast);
    EXPECT_EQ(CodeOf([&] { FLayer.SetLineSettings({9600, pNone, 9, 1}); }), -EINVAL);
    EXPECT_EQ(FLayer.LineSettings(), fast) << "refusals change nothing";
}

// A pseudo-terminal takes any rate through termios2 and reports it back, as
// a UART driver does for the rates it can make.
TEST_F(PosixLayer, RatesWithoutABConstant) {
    for (const std::int32_t baud : {14400, 28800, 250}) {
        FLayer.SetLineSettings({baud, pNone, 8, 2});
        EXPECT_EQ(FLayer.LineSettings(), (TLineSettings{baud, pNone, 8, 2}));
    }
    FLayer.SetLineSettings({1200, pNone, 8, 1});
    EXPECT_EQ(FLayer.LineSettings().Baud, 1200) << "a B-constant replaces the other rate";

    for (const std::int32_t baud : {0, -9600}) {
        try {
            FLayer.SetLineSettings({baud, pNone, 8, 1});
            ADD_FAILURE() << baud << " baud was taken";
        } catch (const EPortException& e) {
            EXPECT_EQ(e.Code(), -EINVAL);
            EXPECT_NE(std::string(e.what()).find(std::to_string(baud) + " baud"),
                      std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(FLayer.LineSettings().Baud, 1200);
}

TEST(LineSettingsTermios, ReadBackAsWrittenAndKeepOtherFlags) {
    for (const TLineSettings& s :
         {TLineSettings{50, pNone, 8, 1}, TLineSettings{1200, pOdd, 8, 1}, TLineSettings{9600, pMark, 7, 1},
          TLineSettings{57600, pSpace, 6, 2}, TLineSettings{4000000, pEven, 8, 2},
          TLineSettings{300, pNone, 5, 3}}) {
        termios t{};
        ASSERT_TRUE(SettingsToTermios(s, t)) << s.Baud;
        EXPECT_EQ(SettingsFromTermios(t), s) << s.Baud << " baud, " << s.DataBits << " bits";
    }
    termios t{};
    t.c_cflag = CLOCAL | CREAD | CS8 | CSTOPB;
    ASSERT_TRUE(SettingsToTermios({2400, pMark, 5, 2}, t));
    EXPECT_EQ(t.c_cflag & ~CBAUD, static_cast<tcflag_t>(CLOCAL | CREAD | CS5 | CSTOPB | PARENB | PARODD | CMSPAR));
    EXPECT_EQ(SettingsFromTermios(t).StopBits, 3) << "two stop bits with five data bits are 1.5";
    const tcflag_t before = t.c_cflag;
    for (const TLineSettings& bad : {TLineSettings{9600, pNone, 4, 1}, TLineSettings{9600, pNone, 8, 4},
                                     TLineSettings{9600, static_cast<TParity>(5), 8, 1}})
        EXPECT_FALSE(SettingsToTermios(bad, t));
    EXPECT_EQ(t.c_cflag, before);
}

TEST_F(PosixLayer, PseudoTerminalHasNoModemLines) {
    EXPECT_NO_THROW(FLayer.SetDTR(true));
    EXPECT_NO_THROW(FLayer.SetRTS(false));
    EXPECT_EQ(FLayer.ModemLevels(), 0);
}

TEST_F(PosixLayer, PurgeInputDropsQueuedBytesAndAHalfReadMark) {
    std::uint8_t errors = 0;
    std::uint8_t buf[16];
    SendFromFar({1, 2, 3});
    ASSERT_TRUE(FLayer.WaitEvent(2000) & kEventInput);
    FLayer.PurgeInput();
    EXPECT_EQ(FLayer.Read(buf, sizeof buf, errors), 0u);

    SendFromFar({0xFF});  // arrives as FF FF; reading one leaves a mark open
    ASSERT_TRUE(FLayer.WaitEvent(2000) & kEventInput);
    EXPECT_EQ(FLayer.Read(buf, 1, errors), 0u);
    FLayer.PurgeInput();
    SendFromFar({0x00, 0x31});
    EXPECT_EQ(ReadAll(2, sizeof buf, errors), (Bytes{0x00, 0x31}));
    EXPECT_EQ(errors, 0);
}

TEST_F(PosixLayer, VanishedDeviceIsReportedOnceAndNeverPolledAgain) {
    CloseMaster();
    EXPECT_TRUE(FLayer.WaitEvent(2000) & kEventVanished);
    EXPECT_TRUE(FLayer.Vanished());
    std::uint8_t errors = 0;
    std::uint8_t buf[16];
    EXPECT_EQ(FLayer.Read(buf, sizeof buf, errors), 0u);
    EXPECT_EQ(FLayer.Write(buf, 4), 0u);
    // A hung-up tty polls as always readable; anything but a quiet timeout
    // here would make the event thread spin.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(FLayer.WaitEvent(20), 0u);
    EXPECT_FALSE(FLayer.WaitWritable(20));
    FLayer.Close();
    EXPECT_FALSE(FLayer.Vanished());
}

TEST_F(PosixLayer, VanishSeenByAWriteIsStillReportedToTheWait) {
    CloseMaster();
    const std::uint8_t byte = 0x41;
    EXPECT_EQ(FLayer.Write(&byte, 1), 0u);
    EXPECT_TRUE(FLayer.Vanished());
    EXPECT_EQ(FLayer.WaitEvent(1000), kEventVanished);
    EXPECT_EQ(FLayer.WaitEvent(20), 0u);
}

TEST_F(PosixLayer, WakeEndsAWaitFromAnotherThreadOnce) {
    unsigned seen = 0;
    std::thread waiter([&] { seen = FLayer.WaitEvent(10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    FLayer.Wake();
    waiter.join();
    EXPECT_EQ(seen, kEventWoken);
    EXPECT_EQ(FLayer.WaitEvent(20), 0u) << "the wake was taken";
    FLayer.Wake();
    FLayer.Close();
    EXPECT_EQ(FLayer.WaitEvent(20), 0u) << "closing forgets an unseen wake";
}

} // namespace
} // namespace volmar
