// Start-up, shut-down, the counters file and the engine's keys of the
// settings file.
#include <algorithm>
#include <cstring>

#include "monitor/monitor_fixture.h"

namespace volmar::testing {
namespace {

TEST_F(MonitorTest, TheViewsStepsRunInTheirPlacesAmongTheEngines) {
    WriteSettings("[Comms]\nPort=1\n[Dataport]\nSpeed Mode=0\n");
    TMonitor& m = Create();
    std::vector<std::string> order;
    QObject::connect(&m, &TMonitor::PortOpened, [&] { order.push_back("opened"); });
    m.StartUp();
    const auto at = [&](const std::string& Call) {
        return std::find(view.Calls.begin(), view.Calls.end(), Call) - view.Calls.begin();
    };
    EXPECT_EQ(view.Calls.front(), "Values=BCD");
    EXPECT_LT(at("Values=BCD"), at("StartUpBegins"));
    EXPECT_LT(at("StartUpBegins"), at("LogGridsSetUp"));
    EXPECT_LT(at("LogGridsSetUp"), at("StartLogo"));
    EXPECT_LT(at("StartLogo"), at("PortDevices"));
    EXPECT_LT(at("PortDevices"), at("Port=1")) << "the devices are known before the port opens";
    EXPECT_LT(at("Port=1"), at("SpeedMode=0")) << "Port before Speed Mode";
    EXPECT_LT(at("SpeedMode=0"), at("LoadSettings")) << "then the view's keys";
    EXPECT_LT(at("LoadSettings"), at("SettingsLoaded"));
    EXPECT_LT(at("SettingsLoaded"), at("Switches=unreported"));
    EXPECT_EQ(view.Last("SpeedSelect="), "active");
    EXPECT_EQ(order, std::vector<std::string>{"opened"});
    EXPECT_EQ(view.Texts("Meters=").size(), 0u) << "the meters are refreshed once the loop runs";
    Settle();
    EXPECT_EQ(view.Texts("Meters="), std::vector<std::string>{"0"});

    view.Calls.clear();
    Close();
    EXPECT_EQ(view.Calls, (std::vector<std::string>{"Lights=off", "SaveSettings"}));
    EXPECT_FALSE(line->IsOpen());
}

TEST_F(MonitorTest, RunsWithoutAViewAndWritesBothFiles) {
    WriteSettings("[Comms]\nPort=1\n");
    auto alone = std::make_unique<TMonitor>(Options());
    alone->StartUp();
    Settle();
    EXPECT_EQ(Exchange(0x26), 0x06);
    alone->Reset();
    alone->Counters().Wins = 7;
    alone->ShutDown();
    EXPECT_FALSE(line->IsOpen());
    TCounters saved{};
    LoadCounters(saved, (dir / kCountersFileName).string());
    EXPECT_EQ(saved.Wins, 7);
    EXPECT_EQ(saved.In, 0);
    EXPECT_NE(ReadFile(kSettingsFileName).find("[Comms]\nPort=1\n"), std::string::npos);
}

TEST_F(MonitorTest, StoredSettingsAreApplied) {
    WriteSettings("[Comms]\nPort=0x1\n[Dataport]\nSpeed Mode=1\n[Options]\nBig Meter Spin=1\n");
    TMonitor& m = Start();
    EXPECT_TRUE(m.ComPortPlus().Open());
    EXPECT_TRUE(line->IsOpen());
    EXPECT_EQ(view.Last("Port="), "1");
    EXPECT_EQ(m.SpeedMode(), sm1200);
    EXPECT_EQ(m.ComPortPlus().Baud(), 1200);
    EXPECT_EQ(line->Settings().Baud, 1200);
    EXPECT_EQ(line->Settings().Parity, pOdd);
    Close();
    const std::string ini = ReadFile(kSettingsFileName);
    EXPECT_NE(ini.find("[Devices]\nCOM1=" + line->DevicePath() + "\n"), std::string::npos)
        << "the device map is kept";
    EXPECT_NE(ini.find("Port=1\n"), std::string::npos);
    EXPECT_NE(ini.find("Speed Mode=1\n"), std::string::npos);
    EXPECT_NE(ini.find("Big Meter Spin=1\n"), std::string::npos) << "keys of others are kept";
}

TEST_F(MonitorTest, UnreadablePortIsAsIfMissing) {
    WriteSettings("[Comms]\nPort=abc\n");
    TMonitor& m = Start();
    EXPECT_FALSE(m.ComPortPlus().Open());
    EXPECT_EQ(m.ComPortPlus().ComNumber(), 0);
    EXPECT_EQ(view.Last("Port="), "0");
    EXPECT_TRUE(view.Errors.empty());
}

TEST_F(MonitorTest, HexadecimalPortOpensComTwo) {
    std::ofstream(dir / kSettingsFileName) << "[Devices]\nCOM2=" << line->DevicePath()
                                           << "\n[Comms]\nPort=0x2\n";
    TMonitor& m = Start();
    EXPECT_TRUE(m.ComPortPlus().Open());
    EXPECT_EQ(m.ComPortPlus().ComNumber(), 2);
    EXPECT_EQ(view.Last("Port="), "2");
}

TEST_F(MonitorTest, CountsAndTotalsLoadedAtStartAreShownAndSavedBack) {
    TCounters stored{};
    stored.Codes[0x26].Messages = 7;
    stored.Codes[0x26].Retries = 2;
    stored.In = 700;
    stored.CreditsTaken = 12;
    SaveCounters(stored, (dir / kCountersFileName).string());
    TMonitor& m = Start();
    EXPECT_EQ(m.Counters().In, 700);
    EXPECT_EQ(view.Texts("Meters="), std::vector<std::string>{"0"});
    EXPECT_EQ(m.Logs().Messages.Cell(2, 0x26 + 1), "7");
    EXPECT_EQ(m.Logs().Messages.Cell(3, 0x26 + 1), "2");
    Close();
    TCounters reloaded{};
    LoadCounters(reloaded, (dir / kCountersFileName).string());
    EXPECT_EQ(std::memcmp(&reloaded, &stored, sizeof stored), 0);
}

TEST_F(MonitorTest, AShortCountersFileLoadsTheCountsOnly) {
    std::string bytes(1024, '\0');
    bytes[8 * 0x20] = 5;
    std::ofstream(dir / kCountersFileName, std::ios::binary) << bytes;
    TMonitor& m = Start();
    EXPECT_EQ(m.Counters().Codes[0x20].Messages, 5);
    EXPECT_EQ(m.Counters().In, 0);
    EXPECT_EQ(m.Logs().Messages.Cell(2, 0x20 + 1), "5");
}

TEST_F(MonitorTest, AMissingPortIsReportedAndLaterSettingsStillApply) {
    std::ofstream(dir / kSettingsFileName)
        << "[Devices]\nCOM3=" << (dir / "no-such-device").string()
        << "\n[Comms]\nPort=3\n[Dataport]\nSpeed Mode=0\n";
    TMonitor& m = Start();
    ASSERT_EQ(view.Errors.size(), 1u);
    const std::string designed = "ie_BadId - Specified comport doesn't exist\n";
    EXPECT_EQ(view.Errors[0].substr(0, designed.size()), designed)
        << "the detail on a line of its own";
    EXPECT_NE(view.Errors[0].find("COM3 is " + (dir / "no-such-device").string()),
              std::string::npos);
    EXPECT_FALSE(m.ComPortPlus().Open());
    EXPECT_EQ(view.Last("Port="), "3") << "the list keeps the choice";
    EXPECT_EQ(m.SpeedMode(), smAuto);
    EXPECT_EQ(view.Texts("LoadSettings").size(), 1u) << "the view's keys apply too";
    Close();
    const std::string ini = ReadFile(kSettingsFileName);
    EXPECT_NE(ini.find("Port=3\n"), std::string::npos) << "the stored port is not lost";
    EXPECT_NE(ini.find("Speed Mode=0\n"), std::string::npos);
}

TEST_F(MonitorTest, AFailedSaveIsReportedAndKeepsTheOldFiles) {
    TCounters stored{};
    stored.Games = 3;
    SaveCounters(stored, (dir / kCountersFileName).string());
    TMonitor& m = Start();
    m.Counters().Games = 99;
    // A folder that no longer exists cannot take either file.
    const fs::path moved = dir.string() + "-moved";
    fs::rename(dir, moved);
    m.ShutDown();
    fs::rename(moved, dir);
    ASSERT_EQ(view.Errors.size(), 2u) << "the counters and the settings each report";
    EXPECT_NE(view.Errors[0].find("Cannot create file"), std::string::npos);
    EXPECT_NE(view.Errors[0].find(kCountersFileName), std::string::npos);
    EXPECT_TRUE(m.Reports().SaveFailed());
    TCounters reloaded{};
    LoadCounters(reloaded, (dir / kCountersFileName).string());
    EXPECT_EQ(reloaded.Games, 3);
}

} // namespace
} // namespace volmar::testing
