// The link between port, buffer and receiver; the port choice and the speed
// signal; Reset.
#include <QStatusBar>

#include <algorithm>

#include "app/window_fixture.h"
#include "dataport/message.h"

namespace volmar::testing {
namespace {

constexpr std::uint8_t kAckByte = 0x06;
constexpr std::uint8_t kNakByte = 0x15;
constexpr std::uint8_t kEscByte = 0x1B;

class LinkTest : public WindowTest {
protected:
    TfrmVolmar& StartOnCom1(const std::string& More = "") {
        WriteSettings("[Comms]\nPort=1\n" + More);
        TfrmVolmar& w = Start();
        EXPECT_TRUE(w.Monitor().ComPortPlus().Open());
        return w;
    }
    std::string EventCell(int Col, int Row) { return window->Monitor().Logs().Events.Cell(Col, Row); }
};

TEST_F(LinkTest, ABurstIsFramedAndAnsweredInOrder) {
    TfrmVolmar& w = StartOnCom1();
    Send({0x20, 0x20, 0x0B});
    const Bytes answers = Answers(2);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], kAckByte);
    EXPECT_EQ(answers[1], ReplyByte(w.Monitor().Interpreter().LastAcception()));
    EXPECT_EQ(w.Monitor().Counters().In, 1);
    EXPECT_EQ(w.Monitor().Counters().Codes[0x20].Messages, 1);
    ASSERT_EQ(w.Monitor().Logs().Events.RowCount(), 3);
    EXPECT_NE(EventCell(1, 1).find("1Ft In"), std::string::npos);
    EXPECT_NE(EventCell(1, 2).find("Unused"), std::string::npos);
    EXPECT_EQ(w.MachinePage->Meter(miIn)->Value(), 1) << "the meters follow after the reply";
    EXPECT_EQ(w.pnlSmallMeters->Meter(miIn)->Value(), 1);
    EXPECT_EQ(w.Monitor().RxBuffer().Count(), 0);
}

TEST_F(LinkTest, ALineErrorIsLoggedAndSpoilsTheNextMessage) {
    TfrmVolmar& w = StartOnCom1();
    line->InjectError(kErrParity);
    ASSERT_TRUE(PumpUntil([&] { return w.Monitor().Logs().Events.RowCount() == 2; }));
    EXPECT_EQ(EventCell(0, 1), "12:34:56");
    EXPECT_EQ(EventCell(1, 1), "Rx parity error");
    EXPECT_EQ(EventCell(2, 1), "No");
    Send({0x26, 0x26});
    ASSERT_TRUE(PumpUntil([&] { return w.Monitor().Volmar().State() == dpsWaitQuiet; }));
    EXPECT_EQ(w.Monitor().Logs().Events.RowCount(), 3) << "the spoiled message is logged";
    EXPECT_EQ(w.Monitor().Counters().In, 0) << "and not acted on";
    clock.AdvanceTicks(kSilenceTicks + 1);
    EXPECT_EQ(Answers(1), Bytes{kNakByte}) << "the silence after it is answered with a NAK";

    // The line trigger was armed again: the next error is logged too.
    line->InjectError(kErrFraming);
    ASSERT_TRUE(PumpUntil([&] { return w.Monitor().Logs().Events.RowCount() == 4; }));
    EXPECT_EQ(EventCell(1, 3), "Rx framing error");
}

TEST_F(LinkTest, ReceiverEventsInTheDebugLog) {
    TfrmVolmar& w = StartOnCom1("[Options]\nDebug=1\n");
    const auto& lines = w.Monitor().Logs().Debug.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "4242 Dataport Reset: "), lines.end());
    Send({0x69});
    ASSERT_TRUE(PumpUntil([&] { return w.Monitor().Volmar().State() == dpsWaitData; }));
    EXPECT_EQ(lines.back(), "4242 Dataport State Changed: Wait data (2 remaining)");
    Send({0x00, 0x0A});
    ASSERT_TRUE(PumpUntil([&] { return w.Monitor().Volmar().State() == dpsWaitCks; }));
    EXPECT_EQ(lines.back(), "4242 Dataport State Changed: Wait cks");
    const std::size_t before = lines.size();
    clock.AdvanceTicks(2);
    ASSERT_TRUE(PumpUntil([&] { return w.Monitor().Volmar().State() == dpsWaitQuiet; }));
    ASSERT_GE(lines.size(), before + 2);
    EXPECT_EQ(lines[before], "4242 Inter-character timeout: At stage 4 (Wait cks)");
    EXPECT_EQ(lines[before + 1], "4242 Dataport State Changed: Wait quiet");
    EXPECT_EQ(w.mmoDebug->document()->blockCount(), static_cast<int>(lines.size()));
}

TEST_F(LinkTest, NoDebugLinesWhileThePanelIsHidden) {
    TfrmVolmar& w = StartOnCom1();
    Send({0x20, 0x20});
    Answers(1);
    EXPECT_TRUE(w.Monitor().Logs().Debug.Lines().empty());
    EXPECT_TRUE(w.mmoDebug->toPlainText().isEmpty());
}

TEST_F(LinkTest, TheHiddenLinkTools) {
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

TEST_F(LinkTest, ResetWithThePortOpen) {
    TfrmVolmar& w = StartOnCom1();
    Send({0x26, 0x26});
    Answers(1);
    w.SetSwitchStates(0x0070);
    w.SetIdentityText(ilManufCode, "AB");
    const int inputPurges = line->InputPurges();
    const int outputPurges = line->OutputPurges();
    w.actReset->trigger();
    Settle();
    EXPECT_EQ(line->InputPurges(), inputPurges + 1);
    EXPECT_EQ(line->OutputPurges(), outputPurges + 1);
    EXPECT_EQ(w.Monitor().Counters().In, 0);
    EXPECT_EQ(w.Monitor().Counters().Codes[0x26].Messages, 0);
    EXPECT_EQ(w.Monitor().Logs().Messages.Cell(2, 0x26 + 1), "");
    EXPECT_EQ(w.Monitor().Logs().Events.RowCount(), 1) << "cut to the title row";
    EXPECT_EQ(w.MachinePage->Meter(miIn)->Value(), 0);
    EXPECT_EQ(w.pnlSmallMeters->Meter(miIn)->Value(), 0);
    EXPECT_EQ(w.MachinePage->DoorFrame(TMachinePage::dCash), 1) << "doors shown closed";
    EXPECT_EQ(w.MachinePage->KeyFrame(TMachinePage::kRefill), 0);
    EXPECT_TRUE(w.MachinePage->ModeLightLit(TMachinePage::mlPayoutUnit));
    EXPECT_EQ(w.MachinePage->IdentityText(ilManufCode).toStdString(), "AB") << "identity is kept";
    EXPECT_TRUE(w.statusBar()->currentMessage().isEmpty());
    EXPECT_EQ(w.Monitor().Volmar().State(), dpsWaitHeaderNak);
}

TEST_F(LinkTest, ResetWithThePortClosed) {
    TfrmVolmar& w = Start();
    w.Monitor().Counters().Stakes = 40;
    w.UpdateMeters(0);
    w.actReset->trigger();
    Settle();
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(w.Monitor().Counters().Stakes, 0);
    EXPECT_EQ(w.MachinePage->Meter(miStakes)->Value(), 0);
    EXPECT_EQ(line->InputPurges(), 0);
}

TEST_F(LinkTest, AutoBaudFollowsTheSpeedSignal) {
    TfrmVolmar& w = StartOnCom1("[Dataport]\nSpeed Mode=0\n");
    EXPECT_TRUE(w.Monitor().AutoBaudActive());
    EXPECT_EQ(w.pnlSmallMeters->txtBaud->text().toStdString(), "1200");
    EXPECT_EQ(w.pnlSmallMeters->ledSpeedSelect->LitColor(), QColor(255, 0, 0));
    line->SetModemLines(kModemCTS);
    ASSERT_TRUE(PumpUntil([&] { return w.Monitor().ComPortPlus().Baud() == 9600; }));
    Settle();
    EXPECT_EQ(w.pnlSmallMeters->txtBaud->text().toStdString(), "9600");
    EXPECT_EQ(line->Settings().Baud, 9600);
    EXPECT_EQ(line->Settings().Parity, pOdd) << "only the baud changes";
    line->SetModemLines(0);
    ASSERT_TRUE(PumpUntil([&] { return w.Monitor().ComPortPlus().Baud() == 1200; }));
    Settle();
    EXPECT_EQ(w.pnlSmallMeters->txtBaud->text().toStdString(), "1200");
    line->SetModemLines(kModemCTS);
    ASSERT_TRUE(PumpUntil([&] { return w.Monitor().ComPortPlus().Baud() == 9600; })) << "and again";
}

TEST_F(LinkTest, AFixedSpeedIgnoresTheSignalUntilAutoBaud) {
    TfrmVolmar& w = StartOnCom1("[Dataport]\nSpeed Mode=2\n");
    EXPECT_EQ(w.pnlSmallMeters->ledSpeedSelect->LitColor(), QColor(128, 128, 128));
    line->SetModemLines(kModemCTS);
    PumpFor(150);
    Settle();
    EXPECT_EQ(w.Monitor().ComPortPlus().Baud(), 9600);
    line->SetModemLines(0);
    PumpFor(150);
    Settle();
    EXPECT_EQ(w.Monitor().ComPortPlus().Baud(), 9600) << "9600 Baud ignores the signal";
    EXPECT_EQ(w.pnlSmallMeters->txtBaud->text().toStdString(), "9600");
    w.btnAutoBaud->trigger();
    EXPECT_EQ(w.Monitor().ComPortPlus().Baud(), 1200) << "Auto Baud takes the signal's present state";
    EXPECT_EQ(w.pnlSmallMeters->ledSpeedSelect->LitColor(), QColor(255, 0, 0));
}

TEST_F(LinkTest, AutoBaudWithThePortClosedOnlyRefreshesTheLabel) {
    TfrmVolmar& w = Start();
    w.btnAutoBaud->trigger();
    EXPECT_EQ(w.Monitor().ComPortPlus().Baud(), 9600);
    EXPECT_EQ(w.pnlSmallMeters->txtBaud->text().toStdString(), "9600");
    EXPECT_EQ(w.pnlSmallMeters->ledSpeedSelect->LitColor(), QColor(128, 128, 128));
}

TEST_F(LinkTest, APortInUseFallsBackToNone) {
    WriteSettings("");
    TComPortPlus other;
    other.SetDevicePath(line->DevicePath());
    other.SetOpen(true);
    TfrmVolmar& w = Start();
    w.cmbxComPort->setCurrentIndex(1);
    emit w.cmbxComPort->activated(1);
    EXPECT_EQ(warnings, std::vector<std::string>{"COM1 port is in use, please select another port"});
    EXPECT_FALSE(w.Monitor().ComPortPlus().Open());
    EXPECT_EQ(w.Monitor().ComPortPlus().ComNumber(), 0);
    EXPECT_EQ(w.cmbxComPort->currentText().toStdString(), "None");
    EXPECT_TRUE(errors.empty());
}

TEST_F(LinkTest, ChoosingAnotherPortAndNone) {
    TfrmVolmar& w = StartOnCom1();
    auto second = TVirtualLine::Create(std::string("win-second-") +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    SetDevicePathForCom(2, second->DevicePath());
    w.cmbxComPort->setCurrentIndex(2);
    emit w.cmbxComPort->activated(2);
    EXPECT_FALSE(line->IsOpen());
    EXPECT_TRUE(second->IsOpen());
    Settle();
    second->Send({0x20, 0x20});
    Bytes got;
    ASSERT_TRUE(PumpUntil([&] {
        const Bytes more = second->TakeSent();
        got.insert(got.end(), more.begin(), more.end());
        return !got.empty();
    }));
    EXPECT_EQ(got, Bytes{kAckByte}) << "the receiver answers on the new port";
    emit w.cmbxComPort->activated(2);
    EXPECT_TRUE(second->IsOpen()) << "the same entry changes nothing";
    w.cmbxComPort->setCurrentIndex(0);
    emit w.cmbxComPort->activated(0);
    EXPECT_FALSE(second->IsOpen());
    EXPECT_EQ(w.Monitor().Volmar().TimerHandle(), 0);
}

TEST_F(LinkTest, MuteMenuTogglesTheMeters) {
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
