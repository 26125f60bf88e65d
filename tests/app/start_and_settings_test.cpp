// Start-up, shut-down and the settings file.
#include <QApplication>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include "app/about_box.h"

#include "app/window_fixture.h"
#include "interpret/counters.h"

namespace volmar::testing {
namespace {

TEST_F(WindowTest, FirstStartWithNeitherFile) {
    TfrmVolmar& w = Start();
    EXPECT_EQ(w.windowTitle().toStdString(), std::string("Volmar Simulator v") + VOLMAR_EXPECTED_VERSION)
        << "the caption carries the built version";
    EXPECT_FALSE(w.Monitor().ComPortPlus().Open());
    EXPECT_EQ(w.cmbxComPort->currentText().toStdString(), "None");
    EXPECT_TRUE(w.btn9600Baud->isChecked());
    EXPECT_FALSE(w.btnAutoBaud->isChecked());
    EXPECT_EQ(w.pnlSmallMeters->txtBaud->text().toStdString(), "9600");
    EXPECT_TRUE(w.MuteMeters());
    EXPECT_TRUE(w.mnuMute->isChecked());
    EXPECT_FALSE(w.BigMeterSpin());
    EXPECT_FALSE(w.SmallMeterSpin());
    EXPECT_FALSE(w.DebugPanelShown());
    EXPECT_EQ(w.height(), kDesignHeight - kDebugPanelHeight - kSplitterHeight);
    for (int i = 1; i <= 10; ++i) EXPECT_EQ(w.MachinePage->Meter(i)->Value(), 0);
    EXPECT_EQ(w.MachinePage->ValuesModeText().toStdString(), "BCD");
    EXPECT_EQ(w.MachinePage->DoorFrame(TMachinePage::dCash), 0) << "doors grey until reported";
    EXPECT_TRUE(w.MachinePage->ModeLightLit(TMachinePage::mlPayoutUnit));
    EXPECT_EQ(w.MachinePage->IdentityText(ilManufCode).toStdString(), "?");
    EXPECT_FALSE(w.ToolButton5->isVisible());
    EXPECT_TRUE(errors.empty());
    Close();

    EXPECT_EQ(ReadFile(kCountersFileName), std::string(sizeof(TCounters), '\0'));
    EXPECT_EQ(ReadFile(kSettingsFileName),
              "[Comms]\nPort=0\n\n[Dataport]\nSpeed Mode=2\n\n[Options]\nBig Meter Spin=0\n"
              "Small Meter Spin=0\nMute Meters=1\n\n[Window]\nLeft=0\nTop=0\nWidth=709\nHeight=670\n");
}

TEST_F(WindowTest, StoredSettingsAreApplied) {
    WriteSettings("[Comms]\nPort=0x1\n[Dataport]\nSpeed Mode=1\n[Options]\nBig Meter Spin=1\n"
                  "Mute Meters=0\n[Window]\nLeft=$20\nTop=30\nWidth=800\nHeight=700\n");
    TfrmVolmar& w = Start();
    EXPECT_TRUE(w.Monitor().ComPortPlus().Open());
    EXPECT_TRUE(line->IsOpen());
    EXPECT_EQ(w.cmbxComPort->currentText().toStdString(), "COM1");
    EXPECT_TRUE(w.btn1200Baud->isChecked());
    EXPECT_EQ(w.Monitor().ComPortPlus().Baud(), 1200);
    EXPECT_EQ(line->Settings().Baud, 1200);
    EXPECT_EQ(line->Settings().Parity, pOdd);
    EXPECT_TRUE(w.MachinePage->Meter(miIn)->Spin());
    EXPECT_FALSE(w.pnlSmallMeters->Meter(miIn)->Spin()) << "small meters keep their own option";
    EXPECT_FALSE(w.MuteMeters());
    EXPECT_FALSE(w.mnuMute->isChecked());
    EXPECT_EQ(w.x(), 0x20);
    EXPECT_EQ(w.y(), 30);
    EXPECT_EQ(w.width(), 800);
    EXPECT_EQ(w.height(), 700 - kDebugPanelHeight - kSplitterHeight);
    Close();
    const std::string ini = ReadFile(kSettingsFileName);
    EXPECT_NE(ini.find("[Devices]\nCOM1=" + line->DevicePath() + "\n"), std::string::npos)
        << "the device map is kept";
    EXPECT_NE(ini.find("Port=1\n"), std::string::npos);
    EXPECT_NE(ini.find("Speed Mode=1\n"), std::string::npos);
    EXPECT_NE(ini.find("Left=32\nTop=30\nWidth=800\nHeight=700\n"), std::string::npos);
}

TEST_F(WindowTest, UnreadablePortIsAsIfMissing) {
    WriteSettings("[Comms]\nPort=abc\n");
    TfrmVolmar& w = Start();
    EXPECT_FALSE(w.Monitor().ComPortPlus().Open());
    EXPECT_EQ(w.Monitor().ComPortPlus().ComNumber(), 0);
    EXPECT_EQ(w.cmbxComPort->currentIndex(), 0);
    EXPECT_TRUE(errors.empty());
}

TEST_F(WindowTest, HexadecimalPortOpensComTwo) {
    std::ofstream(dir / kSettingsFileName) << "[Devices]\nCOM2=" << line->DevicePath()
                                           << "\n[Comms]\nPort=0x2\n";
    TfrmVolmar& w = Start();
    EXPECT_TRUE(w.Monitor().ComPortPlus().Open());
    EXPECT_EQ(w.Monitor().ComPortPlus().ComNumber(), 2);
    EXPECT_EQ(w.cmbxComPort->currentText().toStdString(), "COM2");
}

TEST_F(WindowTest, StoredHeightWithTheDebugPanelShown) {
    WriteSettings("[Options]\nDebug=1\n[Window]\nHeight=600\n", false);
    TfrmVolmar& w = Start();
    EXPECT_TRUE(w.DebugPanelShown());
    EXPECT_TRUE(w.Monitor().Logs().Debug.Visible());
    EXPECT_EQ(w.height(), 600);
    w.resize(w.width(), 640);
    Close();
    EXPECT_NE(ReadFile(kSettingsFileName).find("Height=640\n"), std::string::npos);
    EXPECT_NE(ReadFile(kSettingsFileName).find("Debug=1\n"), std::string::npos)
        << "Debug is only read, and the operator's line is kept";
}

TEST_F(WindowTest, StoredHeightWithTheDebugPanelHiddenComesBackTheSame) {
    WriteSettings("[Window]\nHeight=600\n", false);
    int visible = 0;
    {
        TfrmVolmar& w = Start();
        EXPECT_FALSE(w.DebugPanelShown());
        visible = w.height();
        EXPECT_EQ(visible, 600 - kDebugPanelHeight - kSplitterHeight);
        Close();
    }
    EXPECT_NE(ReadFile(kSettingsFileName).find("Height=600\n"), std::string::npos);
    TfrmVolmar& again = Start();
    EXPECT_EQ(again.height(), visible);
}

TEST_F(WindowTest, CountsAndTotalsLoadedAtStartAreShownAndSavedBack) {
    TCounters stored{};
    stored.Codes[0x26].Messages = 7;
    stored.Codes[0x26].Retries = 2;
    stored.In = 700;
    stored.CreditsTaken = 12;
    SaveCounters(stored, (dir / kCountersFileName).string());
    TfrmVolmar& w = Start();
    EXPECT_EQ(w.MachinePage->Meter(miIn)->Value(), 700);
    EXPECT_EQ(w.pnlSmallMeters->Meter(miIn)->Value(), 700);
    EXPECT_EQ(w.MachinePage->Meter(miCreditsTaken)->Value(), 12);
    EXPECT_EQ(w.Monitor().Logs().Messages.Cell(2, 0x26 + 1), "7");
    EXPECT_EQ(w.Monitor().Logs().Messages.Cell(3, 0x26 + 1), "2");
    Close();
    TCounters reloaded{};
    LoadCounters(reloaded, (dir / kCountersFileName).string());
    EXPECT_EQ(std::memcmp(&reloaded, &stored, sizeof stored), 0);
}

TEST_F(WindowTest, AShortCountersFileLoadsTheCountsOnly) {
    std::string bytes(1024, '\0');
    bytes[8 * 0x20] = 5;
    std::ofstream(dir / kCountersFileName, std::ios::binary) << bytes;
    TfrmVolmar& w = Start();
    EXPECT_EQ(w.Monitor().Counters().Codes[0x20].Messages, 5);
    EXPECT_EQ(w.Monitor().Counters().In, 0);
    EXPECT_EQ(w.Monitor().Logs().Messages.Cell(2, 0x20 + 1), "5");
}

TEST_F(WindowTest, AMissingPortIsReportedAndLaterSettingsStillApply) {
    std::ofstream(dir / kSettingsFileName)
        << "[Devices]\nCOM3=" << (dir / "no-such-device").string()
        << "\n[Comms]\nPort=3\n[Dataport]\nSpeed Mode=0\n[Options]\nSmall Meter Spin=1\n";
    TfrmVolmar& w = Start();
    ASSERT_EQ(errors.size(), 1u);
    const std::string designed = "ie_BadId - Specified comport doesn't exist\n";
    EXPECT_EQ(errors[0].substr(0, designed.size()), designed) << "the detail on a line of its own";
    EXPECT_NE(errors[0].find("COM3 is " + (dir / "no-such-device").string()), std::string::npos);
    EXPECT_FALSE(w.Monitor().ComPortPlus().Open());
    EXPECT_EQ(w.cmbxComPort->currentText().toStdString(), "COM3") << "the list keeps the choice";
    EXPECT_EQ(w.Monitor().SpeedMode(), smAuto);
    EXPECT_TRUE(w.SmallMeterSpin());
    Close();
    const std::string ini = ReadFile(kSettingsFileName);
    EXPECT_NE(ini.find("Port=3\n"), std::string::npos) << "the stored port is not lost";
    EXPECT_NE(ini.find("Speed Mode=0\n"), std::string::npos);
    EXPECT_NE(ini.find("Small Meter Spin=1\n"), std::string::npos);
}

TEST_F(WindowTest, AFailedSaveIsReportedAndKeepsTheOldFiles) {
    TCounters stored{};
    stored.Games = 3;
    SaveCounters(stored, (dir / kCountersFileName).string());
    TfrmVolmar& w = Start();
    w.Monitor().Counters().Games = 99;
    // A folder that no longer exists cannot take either file.
    const fs::path moved = dir.string() + "-moved";
    fs::rename(dir, moved);
    Close();
    fs::rename(moved, dir);
    ASSERT_EQ(errors.size(), 2u) << "the counters and the settings each report";
    EXPECT_NE(errors[0].find("Cannot create file"), std::string::npos);
    EXPECT_NE(errors[0].find(kCountersFileName), std::string::npos);
    TCounters reloaded{};
    LoadCounters(reloaded, (dir / kCountersFileName).string());
    EXPECT_EQ(reloaded.Games, 3);
}

TEST_F(WindowTest, DescriptionColumnTakesTheRoomLeft) {
    TfrmVolmar& w = Start();
    w.show();
    w.pgctrlPages->setCurrentWidget(w.grdMessages);
    w.resize(900, w.height());
    Settle();
    const int scroll = w.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    EXPECT_EQ(w.grdMessages->columnWidth(1), w.grdMessages->width() - 32 - 56 - 56 - scroll - 9);
}

TEST_F(WindowTest, AboutShowsTheBuiltVersionAndCloses) {
    TfrmVolmar& w = Start();
    std::string shown;
    QTimer::singleShot(0, [&] {
        PumpUntil([] { return QApplication::activeModalWidget() != nullptr; });
        auto* box = qobject_cast<TfrmVolmarSimAbout*>(QApplication::activeModalWidget());
        if (!box) return;
        shown = box->txtVersion->text().toStdString();
        box->SpeedButton1->click();
    });
    w.About1->trigger();
    EXPECT_EQ(shown, std::string("v") + VOLMAR_EXPECTED_VERSION);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

} // namespace
} // namespace volmar::testing
