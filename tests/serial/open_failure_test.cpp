// The detail a failed open carries: the COM number, the device, why, and
// what the operator can do about it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <pty.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "serial/com_port.h"
#include "serial/device_map.h"
#include "serial/open_failure.h"
#include "serial/port_errors.h"
#include "serial/posix_device_layer.h"
#include "support/file_fixtures.h"
#include "support/qt_pump.h"

namespace volmar {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class OpenFailure : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::openpty(&FMaster, &FSlave, FPts, nullptr, nullptr), 0);
        FRoot = fs::canonical(FScratch.Path());
        fs::create_directories(FRoot / "dev" / "serial" / "by-id");
        FRoots = {FRoot / "dev", FRoot / "sys", "/proc", {}};
    }
    void TearDown() override {
        SetDevicePathForCom(kCom, "");
        ::close(FSlave);
        ::close(FMaster);
    }
    // The failure of opening Path as COM kCom, with its detail.
    EPortException OpenAsCom(const std::string& Path) {
        SetDevicePathForCom(kCom, Path);
        TCustomComPort port;
        port.SetComNumber(kCom);
        try {
            port.SetOpen(true);
        } catch (const EPortException& e) {
            return e;
        }
        ADD_FAILURE() << Path << " opened";
        return EPortException(0, "");
    }

    static constexpr std::uint16_t kCom = 3;
    test::TScratchFolder FScratch;
    fs::path FRoot;
    TDeviceRoots FRoots;
    int FMaster = -1, FSlave = -1;
    char FPts[128] = {};
};

TEST_F(OpenFailure, MissingDeviceListsThoseThatExist) {
    const std::string missing = (FRoot / "dev" / "ttyUSB7").string();
    const std::string noneText = "COM3 is " + missing + ", which does not exist. No serial "
                                 "device is plugged in. Plug the device in, or assign another "
                                 "to COM3 in the Options menu's \"Devices...\" dialog.";
    EXPECT_EQ(OpenFailureDetail(ENOENT, kCom, missing, FRoots), noneText);

    std::ofstream(FRoot / "dev" / "ttyUSB0").put('\n');
    fs::create_symlink("../../ttyUSB0", FRoot / "dev/serial/by-id/usb-FTDI_A1-if00-port0");
    EXPECT_EQ(OpenFailureDetail(ENODEV, kCom, missing, FRoots),
              "COM3 is " + missing + ", which does not exist. Serial devices present: " +
                  (FRoot / "dev/serial/by-id/usb-FTDI_A1-if00-port0").string() + ", " +
                  (FRoot / "dev/ttyUSB0").string() +
                  ". Plug the device in, or assign another to COM3 in the Options menu's "
                  "\"Devices...\" dialog.");

    // A ttyS slot with no UART behind it fails to open with EIO.
    const std::string slot = (FRoot / "dev" / "ttyS2").string();
    std::ofstream(slot).put('\n');
    EXPECT_THAT(OpenFailureDetail(EIO, kCom, slot, FRoots),
                HasSubstr("COM3 is " + slot + ", which has no serial port behind it."));

    const EPortException failure = OpenAsCom(missing);
    EXPECT_EQ(failure.Code(), EBadId::kCode);
    EXPECT_STREQ(failure.what(), "ie_BadId - Specified comport doesn't exist");
    EXPECT_THAT(failure.Detail(), HasSubstr("COM3 is " + missing + ", which does not exist."));
}

// The detail a process running as the user nobody gets for the pty.
std::string DetailAsNobody(const char* Pts, const TDeviceRoots& Roots) {
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody) return "no user nobody";
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return "no pipe";
    const pid_t child = ::fork();
    if (child < 0) return "no fork";
    if (child == 0) {
        ::close(pipeFds[0]);
        std::string text = "could not become nobody";
        if (::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0) {
            try {
                TPosixDeviceLayer layer;
                layer.Open(Pts);
                text = "opened";
            } catch (const EPortException& e) {
                text = OpenFailureDetail(e.SystemError(), 3, Pts, Roots);
            }
        }
        const ssize_t written = ::write(pipeFds[1], text.data(), text.size());
        ::_exit(written == static_cast<ssize_t>(text.size()) ? 0 : 1);
    }
    ::close(pipeFds[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    ::waitpid(child, nullptr, 0);
    return text;
}

TEST_F(OpenFailure, PermissionDeniedNamesTheGroupAndTheCommand) {
    if (::geteuid() != 0) GTEST_SKIP() << "a device of this user's own opens: nothing to refuse";
    const group* serialGroup = ::getgrnam("dialout");
    if (!serialGroup) serialGroup = ::getgrnam("uucp");
    if (!serialGroup || !::getpwnam("nobody"))
        GTEST_SKIP() << "no dialout or uucp group, or no user nobody";
    const std::string groupName = serialGroup->gr_name;
    ASSERT_EQ(::fchown(FSlave, 0, serialGroup->gr_gid), 0);
    ASSERT_EQ(::fchmod(FSlave, 0660), 0);
    const std::string text = DetailAsNobody(FPts, FRoots);
    EXPECT_EQ(text, "COM3 is " + std::string(FPts) + ", which may not be opened by this user: "
                        "it is open to the group " + groupName + ". Join that group with: "
                        "sudo usermod -aG " + groupName + " $USER, then log out and in again.");
}

TEST_F(OpenFailure, AnotherUsersPseudoTerminalIsNamedSoAndNoGroupAdvised) {
    if (::geteuid() != 0) GTEST_SKIP() << "a device of this user's own opens: nothing to refuse";
    if (!::getpwnam("nobody")) GTEST_SKIP() << "no user nobody";
    // As openpty leaves it: root's, its group may only write.
    ASSERT_EQ(::fchown(FSlave, 0, 0), 0);
    ASSERT_EQ(::fchmod(FSlave, 0620), 0);
    EXPECT_EQ(DetailAsNobody(FPts, FRoots),
              "COM3 is " + std::string(FPts) + ", which may not be opened by this user: it is a "
              "pseudo-terminal, and another user (root) owns it. Make the line as this user, or "
              "run the simulator as root.");
}

TEST_F(OpenFailure, BusyNamesTheHoldingProcessAndItsPid) {
    TCustomComPort holder;
    holder.SetDevicePath(FPts);
    holder.SetOpen(true);
    std::string name;
    std::getline(std::ifstream("/proc/self/comm"), name);

    const EPortException failure = OpenAsCom(FPts);
    EXPECT_EQ(failure.Code(), EAlreadyOpen::kCode);
    EXPECT_STREQ(failure.what(), "ie_Open - device already open");
    EXPECT_THAT(failure.Detail(),
                HasSubstr("COM3 is " + std::string(FPts) + ", which is in use by " + name +
                          " (pid " + std::to_string(::getpid()) + ", this program)."));
}

TEST_F(OpenFailure, ModemManagerHoldingTheDeviceIsToldToLeaveItAlone) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Holds the device through the slave descriptor it inherited until
        // the test closes the pipe.
        ::close(pipeFds[1]);
        ::prctl(PR_SET_NAME, "ModemManager");
        char byte;
        ::_exit(static_cast<int>(::read(pipeFds[0], &byte, 1)));
    }
    ::close(pipeFds[0]);
    std::string name;
    ASSERT_TRUE(testing::PumpUntil([&] {
        std::getline(std::ifstream("/proc/" + std::to_string(child) + "/comm"), name);
        return name == "ModemManager";
    }));
    const std::string text = OpenFailureDetail(EBUSY, kCom, FPts, FRoots);
    ::close(pipeFds[1]);
    ::waitpid(child, nullptr, 0);

    EXPECT_THAT(text, HasSubstr("ModemManager (pid " + std::to_string(child) + ")"));
    EXPECT_THAT(text, HasSubstr("ENV{ID_MM_DEVICE_IGNORE}=\"1\""));
}

TEST_F(OpenFailure, NotATerminalIsNoSerialPort) {
    const std::string file = (FRoot / "COUNTERS.DAT").string();
    std::ofstream(file).put('\n');
    for (const std::string& path : {std::string("/dev/null"), file}) {
        const EPortException failure = OpenAsCom(path);
        EXPECT_STREQ(failure.what(), "Inappropriate ioctl for device");
        EXPECT_EQ(failure.Detail(), "COM3 is " + path + ", which is not a serial port. Assign a "
                                    "serial device to COM3 in the Options menu's \"Devices...\" "
                                    "dialog.");
    }
}

} // namespace
} // namespace volmar
