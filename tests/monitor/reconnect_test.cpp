// A device that goes away and comes back under the same name: a link to a
// pseudo-terminal, re-pointed at a new one, as a re-plugged adapter's
// /dev/serial/by-id link is.
#include "monitor/monitor_fixture.h"
#include "support/pty_line.h"

namespace volmar::testing {
namespace {

std::string EventRows(const TStringGrid& Grid) {
    std::string rows;
    for (int r = 1; r < Grid.RowCount(); ++r) rows += Grid.Cell(1, r) + "\n";
    return rows;
}

TEST_F(MonitorTest, AnAdapterThatGoesAndComesBackIsReopened) {
    auto first = std::make_unique<Pty>();
    ASSERT_FALSE(first->Name.empty());
    const fs::path link = dir / "usb-adapter";
    fs::create_symlink(first->Name, link);
    WriteSettings("[Devices]\nCOM2=" + link.string() + "\n[Comms]\nPort=2\n", false);
    TMonitor& m = Start();
    ASSERT_TRUE(m.ComPortPlus().Open());
    std::vector<std::string> seen;
    const QString path = QString::fromStdString(link.string());
    QObject::connect(&m, &TMonitor::DeviceLost, [&](quint16 Number, const QString& Path) {
        seen.push_back("lost " + std::to_string(Number) + (Path == path ? " link" : " other"));
    });
    QObject::connect(&m, &TMonitor::DeviceBack, [&](quint16 Number, const QString& Path) {
        seen.push_back("back " + std::to_string(Number) + (Path == path ? " link" : " other"));
    });

    // Pulled: the slave hangs up and the link goes.
    first->Hangup();
    fs::remove(link);
    const std::string gone = "COM2 (" + link.string() + ") has gone away\n";
    ASSERT_TRUE(PumpUntil([&] { return !m.ComPortPlus().Open(); }));
    EXPECT_NE(EventRows(m.Logs().Events).find(gone), std::string::npos);
    EXPECT_EQ(view.Last("Lights="), "off");

    // Plugged back in: the same link, another pseudo-terminal behind it.
    Pty second;
    fs::create_symlink(second.Name, link);
    ASSERT_TRUE(PumpUntil([&] { return m.ComPortPlus().Open(); }));
    EXPECT_NE(EventRows(m.Logs().Events).find(gone + "COM2 (" + link.string() + ") is back\n"),
              std::string::npos);
    EXPECT_TRUE(view.Errors.empty()) << "no box to click";
    EXPECT_EQ(view.Last("Status="), "COM2 (" + link.string() + ") is back");
    EXPECT_EQ(seen, (std::vector<std::string>{"lost 2 link", "back 2 link"}));

    // Reset as after start-up: a NAK while it waits, then the machine is answered.
    Settle();
    clock.AdvanceTicks(kFirstMessageTicks + 1);
    EXPECT_EQ(second.Read(3000), 0x15);
    ASSERT_EQ(::write(second.Master, "\x26\x26", 2), 2);
    EXPECT_EQ(second.Read(3000), 0x06);
    EXPECT_EQ(m.Counters().In, 100);
}

} // namespace
} // namespace volmar::testing
