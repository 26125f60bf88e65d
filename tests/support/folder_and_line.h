// A program folder in a temporary directory, its COM1 on a virtual line and
// the port on a manual clock: the ground for tests of the monitoring engine,
// with or without its window.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "dataport/message.h"
#include "monitor/monitor.h"
#include "serial/device_map.h"
#include "serial/virtual_line.h"
#include "support/qt_pump.h"

namespace volmar::testing {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class FolderAndLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "volmarwinXXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        line = TVirtualLine::Create("win-" + test);
    }

    // After the engine under test has gone.
    void TearDown() override {
        ClearDevicePaths();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    // A settings file whose COM1 is the virtual line, followed by Text.
    void WriteSettings(const std::string& Text, bool MapCom1 = true) {
        std::ofstream out(dir / kSettingsFileName, std::ios::binary);
        if (MapCom1) out << "[Devices]\nCOM1=" << line->DevicePath() << "\n";
        out << Text;
    }

    std::string ReadFile(const char* Name) const {
        std::ifstream in(dir / Name, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // The folder, the clocks and the save interval of the test.
    TMonitorOptions Options() {
        TMonitorOptions options;
        options.Folder = QString::fromStdString(dir.string());
        options.Clock = &clock;
        options.CountersSaveIntervalMs = countersSaveIntervalMs;
        options.LogClock = {[this] { return tickMs; }, [] { return std::string("12:34:56"); }};
        return options;
    }

    // Runs the deferred commands and the port's pending notifications.
    void Settle(int Ms = 30) {
        PumpFor(Ms);
        QCoreApplication::sendPostedEvents();
    }

    void Send(const Bytes& B) { line->Send(B); }

    // Waits for Count answer bytes.
    Bytes Answers(std::size_t Count) {
        Bytes got;
        PumpUntil([&] {
            const Bytes more = line->TakeSent();
            got.insert(got.end(), more.begin(), more.end());
            return got.size() >= Count;
        });
        Settle();
        return got;
    }

    // Sends a frame and waits for its answer.
    std::uint8_t Exchange(std::uint8_t Header, const Bytes& Data = {}) {
        Send(BuildMessageFrame(Header, Data));
        const Bytes answer = Answers(1);
        return answer.empty() ? 0 : answer.back();
    }

    fs::path dir;
    std::shared_ptr<TVirtualLine> line;
    TManualTickClock clock{1000};
    std::uint32_t tickMs = 4242;
    int countersSaveIntervalMs = 1000;
};

} // namespace volmar::testing
