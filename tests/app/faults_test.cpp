// Faults the window lives through without losing a count or a file.
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

#include "app/window_fixture.h"

namespace volmar::testing {
namespace {

int RowsReading(const TStringGrid& Grid, const std::string& Text) {
    int n = 0;
    for (int row = 1; row < Grid.RowCount(); ++row) n += Grid.Cell(1, row) == Text;
    return n;
}

TEST_F(WindowTest, AMachineThatStopsReadingLosesRepliesButNoCounts) {
    WriteSettings("[Comms]\nPort=1\n");
    TfrmVolmar& w = Start();
    ASSERT_TRUE(w.Monitor().ComPortPlus().Open());
    line->SetFarEndReading(false);
    // Sync requests at full speed until a reply finds no room on the line.
    int sent = 0;
    const auto sendBatch = [&](int Count) {
        Send(Bytes(static_cast<std::size_t>(Count), 0x05));
        sent += Count;
        return PumpUntil([&] { return w.Monitor().Counters().Codes[0x05].Messages == sent; }, 10000);
    };
    while (w.Monitor().Volmar().RepliesDropped() == 0 && sent < 40000) ASSERT_TRUE(sendBatch(50));
    ASSERT_GT(w.Monitor().Volmar().RepliesDropped(), 0u);
    ASSERT_TRUE(sendBatch(20)) << "the receiver carries on";
    EXPECT_EQ(RowsReading(w.Monitor().Logs().Events, "Tx queue is full"), 1) << "logged once per episode";
    EXPECT_TRUE(errors.empty()) << "a failure on the line never opens a box";

    // Reading again, it gets its answers: a coin, then a reserved code's Esc.
    line->SetFarEndReading(true);
    Send({0x26, 0x26, 0x01});
    EXPECT_TRUE(PumpUntil([&] {
        const Bytes more = line->TakeSent();
        return std::find(more.begin(), more.end(), 0x1B) != more.end();
    }));
    EXPECT_EQ(w.Monitor().Counters().In, 100);
}

TEST_F(WindowTest, AStoredGeometryIsBroughtOntoTheScreen) {
    WriteSettings("[Window]\nLeft=-90000\nTop=70000\nWidth=100000\nHeight=30000\n", false);
    TfrmVolmar& w = Start();
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(w.width(), room.width());
    EXPECT_LE(w.height(), room.height());
    EXPECT_TRUE(room.contains(w.pos()));
}

TEST_F(WindowTest, CountsReachTheFileWhileRunningAndAFailingSaveIsShownOnce) {
    countersSaveIntervalMs = 20;
    TfrmVolmar& w = Start();
    const std::string path = (dir / kCountersFileName).string();
    const auto saved = [&] {
        TCounters c{};
        LoadCounters(c, path);
        return c;
    };
    w.Monitor().Counters().In = 700;
    ASSERT_TRUE(PumpUntil([&] { return fs::exists(path) && saved().In == 700; }));

    // A folder in the file's place cannot be replaced.
    fs::remove(path);
    fs::create_directories(dir / kCountersFileName / "in-the-way");
    w.Monitor().Counters().In = 800;
    ASSERT_TRUE(PumpUntil([&] { return !w.Monitor().Reports().Alert().isEmpty(); }));
    EXPECT_NE(w.Monitor().Reports().Alert().toStdString().find(kCountersFileName), std::string::npos);
    EXPECT_TRUE(errors.empty()) << "a save in the background never opens a box";

    fs::remove_all(dir / kCountersFileName);
    ASSERT_TRUE(PumpUntil([&] { return fs::exists(path) && saved().In == 800; }));
    EXPECT_TRUE(PumpUntil([&] { return w.Monitor().Reports().Alert().isEmpty(); })) << "cleared once saves succeed";
}

TEST_F(WindowTest, AnUnreadableCountersFileIsKeptAsideNeverOverwritten) {
    fs::create_directories(dir / kCountersFileName / "earlier-totals");
    TfrmVolmar& w = Start();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("Cannot open file " + (dir / kCountersFileName).string(), 0), 0u)
        << errors[0];
    fs::path kept;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().starts_with("COUNTERS.DAT.unreadable")) kept = entry.path();
    ASSERT_FALSE(kept.empty());
    EXPECT_TRUE(fs::exists(kept / "earlier-totals"));
    EXPECT_NE(errors[0].find(kept.string()), std::string::npos) << "the box says where";

    w.Monitor().Counters().In = 5;
    Close();
    TCounters reloaded{};
    LoadCounters(reloaded, (dir / kCountersFileName).string());
    EXPECT_EQ(reloaded.In, 5);
}

} // namespace
} // namespace volmar::testing
