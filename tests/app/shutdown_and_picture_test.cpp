// The orderly shut-down on a quit signal, and a picture of the window for
// reviewers.
#include <QDir>
#include <QImage>
#include <QPixmap>

#include <csignal>

#include "app/quit_signals.h"
#include "app/single_instance.h"
#include "app/window_fixture.h"
#include "interpret/counters.h"
#include "support/artefacts.h"

namespace volmar::testing {
namespace {

TEST_F(WindowTest, ATermSignalClosesTheWindowAndWritesBothFiles) {
    WriteSettings("[Comms]\nPort=1\n");
    TfrmVolmar& w = Start();
    w.show();
    w.Monitor().Counters().Wins = 55;
    InstallQuitSignals([&w] { w.close(); });
    ASSERT_FALSE(fs::exists(dir / kCountersFileName));
    std::raise(SIGTERM);
    ASSERT_TRUE(PumpUntil([&] { return fs::exists(dir / kCountersFileName); }));
    InstallQuitSignals([] {});
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(line->IsOpen()) << "the port is closed on the way out";
    TCounters saved{};
    LoadCounters(saved, (dir / kCountersFileName).string());
    EXPECT_EQ(saved.Wins, 55);
    EXPECT_NE(ReadFile(kSettingsFileName).find("Port=1\n"), std::string::npos);
}

TEST_F(WindowTest, ASecondCopyRaisesTheFirstWindow) {
    TSingleInstance first(QStringLiteral("volmarsim"), QString::fromStdString(dir.string()));
    ASSERT_TRUE(first.IsFirst());
    TfrmVolmar& w = Start();
    w.show();
    w.showMinimized();
    first.OnRaiseRequest = [&w] { RaiseWindow(&w); };
    {
        TSingleInstance second(QStringLiteral("volmarsim"), QString::fromStdString(dir.string()));
        EXPECT_FALSE(second.IsFirst());
    }
    ASSERT_TRUE(PumpUntil([&] { return !w.isMinimized(); }));
    EXPECT_TRUE(w.isVisible());
}

TEST_F(WindowTest, PictureOfTheMainWindow) {
    WriteSettings("[Comms]\nPort=1\n[Options]\nDebug=1\n");
    TfrmVolmar& w = Start();
    w.show();
    line->Send({0x26, 0x26, 0x69, 0x00, 0x0A, 0x73});
    ASSERT_TRUE(PumpUntil([&] { return w.Monitor().Counters().Games == 1; }));
    Settle();
    w.SetSwitchStates(0x0121);
    const QImage picture = w.grab().toImage();
    EXPECT_EQ(picture.deviceIndependentSize().toSize().width(), w.width());
    EXPECT_TRUE(SavePicture(picture, QStringLiteral("main_window")));
}

} // namespace
} // namespace volmar::testing
