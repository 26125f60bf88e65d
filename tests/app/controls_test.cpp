// The operator's controls on the window: they reach the engine, and the
// window shows what the engine tells it.
#include <QStatusBar>

#include "app/window_fixture.h"

namespace volmar::testing {
namespace {

TEST_F(WindowTest, TheHiddenLinkTools) {
    TfrmVolmar& w = StartOnCom1();
    w.Monitor().RxBuffer().Put(0x20);
    w.Monitor().RxBuffer().Put(0x20);
    w.ToolButton5->trigger();
    w.ToolButton6->trigger();
    w.ToolButton5->trigger();
    EXPECT_EQ(infos, (std::vector<std::string>{"There are 2 char(s) in Rx buffer",
                                                "There are 0 char(s) in Rx buffer"}));
    Send({0x20});
    ASSERT_TRUE(PumpUntil([&] { return w.Monitor().Volmar().State() == dpsWaitCks; }));
    w.ToolButton7->trigger();
    EXPECT_EQ(w.Monitor().Volmar().State(), dpsWaitCks) << "the reset is deferred";
    Settle();
    EXPECT_EQ(w.Monitor().Volmar().State(), dpsWaitHeaderNak);
}

TEST_F(WindowTest, TheSpeedButtonsSetTheModeTheLabelAndTheLightsColours) {
    TfrmVolmar& w = StartOnCom1("[Dataport]\nSpeed Mode=2\n");
    TStatusLight* light = w.pnlSmallMeters->ledSpeedSelect;
    EXPECT_EQ(light->LitColor(), QColor(128, 128, 128));
    EXPECT_EQ(light->NotLitColor(), w.palette().color(QPalette::Dark));
    w.btnAutoBaud->trigger();
    EXPECT_EQ(w.Monitor().SpeedMode(), smAuto);
    EXPECT_EQ(w.pnlSmallMeters->txtBaud->text().toStdString(), "1200") << "no speed signal";
    EXPECT_EQ(light->LitColor(), QColor(255, 0, 0));
    EXPECT_EQ(light->NotLitColor(), QColor(128, 0, 0));
    w.btn9600Baud->trigger();
    EXPECT_EQ(w.Monitor().SpeedMode(), sm9600);
    EXPECT_TRUE(w.btn9600Baud->isChecked());
    EXPECT_EQ(w.pnlSmallMeters->txtBaud->text().toStdString(), "9600");
    EXPECT_EQ(light->LitColor(), QColor(128, 128, 128));
    w.btn1200Baud->trigger();
    EXPECT_EQ(w.Monitor().ComPortPlus().Baud(), 1200);
}

TEST_F(WindowTest, ResetShowsTheMetersAtZeroAndTheDoorsClosed) {
    TfrmVolmar& w = StartOnCom1();
    Send({0x26, 0x26});
    Answers(1);
    w.SetSwitchStates(0x0070);
    w.SetIdentityText(ilManufCode, "AB");
    w.actReset->trigger();
    Settle();
    EXPECT_EQ(w.Monitor().Counters().In, 0);
    EXPECT_EQ(w.MachinePage->Meter(miIn)->Value(), 0);
    EXPECT_EQ(w.pnlSmallMeters->Meter(miIn)->Value(), 0);
    EXPECT_EQ(w.MachinePage->DoorFrame(TMachinePage::dCash), 1) << "doors shown closed";
    EXPECT_EQ(w.MachinePage->KeyFrame(TMachinePage::kRefill), 0);
    EXPECT_TRUE(w.MachinePage->ModeLightLit(TMachinePage::mlPayoutUnit));
    EXPECT_EQ(w.MachinePage->IdentityText(ilManufCode).toStdString(), "AB") << "identity is kept";
    EXPECT_TRUE(w.statusBar()->currentMessage().isEmpty());
}

TEST_F(WindowTest, MuteMenuTogglesTheMeters) {
    TfrmVolmar& w = Start();
    w.mnuMute->trigger();
    EXPECT_FALSE(w.MuteMeters());
    EXPECT_FALSE(w.mnuMute->isChecked());
    EXPECT_FALSE(w.MachinePage->Meter(miWins)->MuteClicks());
    EXPECT_FALSE(w.pnlSmallMeters->Meter(miWins)->MuteClicks());
    w.mnuMute->trigger();
    EXPECT_TRUE(w.MuteMeters());
    EXPECT_TRUE(w.mnuMute->isChecked());
    EXPECT_TRUE(w.MachinePage->Meter(miWins)->MuteClicks());
}

} // namespace
} // namespace volmar::testing
