// Faults the engine lives through without losing a count or a file.
#include <algorithm>

#include "monitor/monitor_fixture.h"

namespace volmar::testing {
namespace {

int RowsReading(const TStringGrid& Grid, const std::string& Text) {
    int n = 0;
    for (int row = 1; row < Grid.RowCount(); ++row) n += Grid.Cell(1, row) == Text;
    return n;
}

TEST_F(MonitorTest, AMachineThatStopsReadingLosesRepliesButNoCounts) {
    TMonitor& m = StartOnCom1();
    line->SetFarEndReading(false);
    // Sync requests at full speed until a reply finds no room on the line.
    int sent = 0;
    const auto sendBatch = [&](int Count) {
        Send(Bytes(static_cast<std::size_t>(Count), 0x05));
        sent += Count;
        return PumpUntil([&] { return m.Counters().Codes[0x05].Messages == sent; }, 10000);
    };
    while (m.Volmar().RepliesDropped() == 0 && sent < 40000) ASSERT_TRUE(sendBatch(50));
    ASSERT_GT(m.Volmar().RepliesDropped(), 0u);
    ASSERT_TRUE(sendBatch(20)) << "the receiver carries on";
    EXPECT_EQ(RowsReading(m.Logs().Events, "Tx queue is full"), 1) << "logged once per episode";
    EXPECT_TRUE(view.Errors.empty()) << "a failure on the line never opens a box";

    // Reading again, it gets its answers: a coin, then a reserved code's Esc.
    line->SetFarEndReading(true);
    Send({0x26, 0x26, 0x01});
    EXPECT_TRUE(PumpUntil([&] {
        const Bytes more = line->TakeSent();
        return std::find(more.begin(), more.end(), 0x1B) != more.end();
    }));
    EXPECT_EQ(m.Counters().In, 100);
}

TEST_F(MonitorTest, CountsReachTheFileWhileRunningAndAFailingSaveIsShownOnce) {
    countersSaveIntervalMs = 20;
    TMonitor& m = Start();
    const std::string path = (dir / kCountersFileName).string();
    const auto saved = [&] {
        TCounters c{};
        LoadCounters(c, path);
        return c;
    };
    m.Counters().In = 700;
    ASSERT_TRUE(PumpUntil([&] { return fs::exists(path) && saved().In == 700; }));

    // A folder in the file's place cannot be replaced.
    fs::remove(path);
    fs::create_directories(dir / kCountersFileName / "in-the-way");
    m.Counters().In = 800;
    ASSERT_TRUE(PumpUntil([&] { return !m.Reports().Alert().isEmpty(); }));
    EXPECT_NE(m.Reports().Alert().toStdString().find(kCountersFileName), std::string::npos);
    EXPECT_EQ(view.Texts("Alert=").size(), 1u) << "shown once";
    EXPECT_TRUE(view.Errors.empty()) << "a save in the background never opens a box";

    fs::remove_all(dir / kCountersFileName);
    ASSERT_TRUE(PumpUntil([&] { return fs::exists(path) && saved().In == 800; }));
    EXPECT_TRUE(PumpUntil([&] { return m.Reports().Alert().isEmpty(); }))
        << "cleared once saves succeed";
    EXPECT_EQ(view.Last("Alert="), "");
}

TEST_F(MonitorTest, AnUnreadableCountersFileIsKeptAsideNeverOverwritten) {
    fs::create_directories(dir / kCountersFileName / "earlier-totals");
    TMonitor& m = Start();
    ASSERT_EQ(view.Errors.size(), 1u);
    EXPECT_EQ(view.Errors[0].rfind("Cannot open file " + (dir / kCountersFileName).string(), 0), 0u)
        << view.Errors[0];
    fs::path kept;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().starts_with("COUNTERS.DAT.unreadable"))
            kept = entry.path();
    ASSERT_FALSE(kept.empty());
    EXPECT_TRUE(fs::exists(kept / "earlier-totals"));
    EXPECT_NE(view.Errors[0].find(kept.string()), std::string::npos) << "the box says where";

    m.Counters().In = 5;
    Close();
    TCounters reloaded{};
    LoadCounters(reloaded, (dir / kCountersFileName).string());
    EXPECT_EQ(reloaded.In, 5);
}

} // namespace
} // namespace volmar::testing
