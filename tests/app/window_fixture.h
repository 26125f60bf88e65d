// A main window in a temporary program folder, its COM1 on a virtual line
// and its port on a manual clock; message boxes are recorded, not shown.
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

#include "app/main_window.h"
#include "serial/device_map.h"
#include "serial/virtual_line.h"
#include "support/qt_pump.h"

namespace volmar::testing {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "volmarwinXXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        line = TVirtualLine::Create(std::string("win-") +
                                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    }

    void TearDown() override {
        if (window) window->close();
        window.reset();
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

    TfrmVolmar& Start() {
        TWindowOptions options;
        options.Folder = QString::fromStdString(dir.string());
        options.Clock = &clock;
        options.CountersSaveIntervalMs = countersSaveIntervalMs;
        options.LogClock = {[this] { return tickMs; }, [] { return std::string("12:34:56"); }};
        options.Boxes = {
            [this](QWidget*, const QString& Text) { warnings.push_back(Text.toStdString()); },
            [this](QWidget*, const QString& Text) { errors.push_back(Text.toStdString()); },
            [this](QWidget*, const QString& Text) { infos.push_back(Text.toStdString()); },
        };
        window = std::make_unique<TfrmVolmar>(std::move(options));
        Settle();
        return *window;
    }

    // Runs the deferred commands and the port's pending notifications.
    void Settle(int Ms = 30) {
        PumpFor(Ms);
        QCoreApplication::sendPostedEvents();
    }

    void Send(const Bytes& B) { line->Send(B); }

    // Waits for Count answer bytes from the window.
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

    void Close() {
        window->close();
        window.reset();
    }

    fs::path dir;
    std::shared_ptr<TVirtualLine> line;
    TManualTickClock clock{1000};
    std::uint32_t tickMs = 4242;
    int countersSaveIntervalMs = 1000;
    std::vector<std::string> warnings, errors, infos;
    std::unique_ptr<TfrmVolmar> window;
};

} // namespace volmar::testing
