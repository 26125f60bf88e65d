// Start-up, shut-down and the settings file.
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include "app/about_box.h"

#include "app/window_fixture.h"
#include "interpret/counters.h"

#include <cmath>

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
                  "Mute Meters=0\n[Window]\nLeft=$20\nTop=30\nWidth=700\nHeight=500\n");
    TfrmVolmar& w = Start();
    EXPECT_EQ(w.cmbxComPort->currentText().toStdString(), "COM1");
    EXPECT_TRUE(w.btn1200Baud->isChecked());
    EXPECT_EQ(w.pnlSmallMeters->txtBaud->text().toStdString(), "1200");
    EXPECT_TRUE(w.MachinePage->Meter(miIn)->Spin());
    EXPECT_FALSE(w.pnlSmallMeters->Meter(miIn)->Spin()) << "small meters keep their own option";
    EXPECT_FALSE(w.MuteMeters());
    EXPECT_FALSE(w.mnuMute->isChecked());
    EXPECT_EQ(w.x(), 0x20);
    EXPECT_EQ(w.y(), 30);
    EXPECT_EQ(w.width(), 700);
    EXPECT_EQ(w.height(), 500 - kDebugPanelHeight - kSplitterHeight);
    Close();
    const std::string ini = ReadFile(kSettingsFileName);
    EXPECT_NE(ini.find("Left=32\nTop=30\nWidth=700\nHeight=500\n"), std::string::npos);
}

TEST_F(WindowTest, AStoredGeometryIsBroughtOntoTheScreen) {
    WriteSettings("[Window]\nLeft=-90000\nTop=70000\nWidth=100000\nHeight=30000\n", false);
    TfrmVolmar& w = Start();
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(w.width(), room.width());
    EXPECT_LE(w.height(), room.height());
    EXPECT_TRUE(room.contains(w.pos()));
}

TEST_F(WindowTest, AWindowStoredPastTheScreensEdgeComesBackWhole) {
    // As stored on a larger screen, or at a smaller scale: its frame would
    // reach past this screen's right and bottom edges.
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    WriteSettings("[Window]\nLeft=" + std::to_string(room.right() - 300) +
                      "\nTop=" + std::to_string(room.bottom() - 200) + "\nWidth=600\nHeight=560\n",
                  false);
    TfrmVolmar& w = Start();
    w.show();
    Settle();
    // Within the screen, or at its top left where the window cannot be smaller.
    const QRect frame = w.frameGeometry();
    const auto fits = [](int First, int Extent, int RoomFirst, int RoomExtent) {
        return Extent <= RoomExtent ? First >= RoomFirst && First + Extent <= RoomFirst + RoomExtent
                                    : First == RoomFirst;
    };
    EXPECT_TRUE(fits(frame.x(), frame.width(), room.x(), room.width()) &&
                fits(frame.y(), frame.height(), room.y(), room.height()))
        << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height()
        << " on " << room.width() << "x" << room.height() << " geometry " << w.geometry().x()
        << "," << w.geometry().y();
}

TEST_F(WindowTest, AWholeSizeStoredAtAFractionalScaleComesBackTheSame) {
    WriteSettings("[Window]\nLeft=10\nTop=10\nWidth=401\nHeight=371\n", false);
    {
        TfrmVolmar& w = Start();
        // The window system sizes it in whole device pixels, in steps of two
        // at a scale of 1.5: read back, it is a pixel short.
        w.resize(w.width() - 1, w.height() - 1);
        Close();
    }
    const bool fractional = qApp->devicePixelRatio() != std::floor(qApp->devicePixelRatio());
    EXPECT_NE(ReadFile(kSettingsFileName)
                  .find(fractional ? "Width=401\nHeight=371\n" : "Width=400\nHeight=370\n"),
              std::string::npos)
        << "at a fractional scale the stored size stays, else the operator's is kept\n"
        << ReadFile(kSettingsFileName);
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

TEST_F(WindowTest, TotalsLoadedAtStartAreShownOnTheMeters) {
    TCounters stored{};
    stored.In = 700;
    stored.CreditsTaken = 12;
    SaveCounters(stored, (dir / kCountersFileName).string());
    TfrmVolmar& w = Start();
    EXPECT_EQ(w.MachinePage->Meter(miIn)->Value(), 700);
    EXPECT_EQ(w.pnlSmallMeters->Meter(miIn)->Value(), 700);
    EXPECT_EQ(w.MachinePage->Meter(miCreditsTaken)->Value(), 12);
}

TEST_F(WindowTest, DescriptionColumnTakesTheRoomLeft) {
    TfrmVolmar& w = Start();
    w.show();
    w.pgctrlPages->setCurrentWidget(w.grdMessages);
    w.resize(900, w.height());
    Settle();
    const int scroll = w.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const QTableView* grid = w.grdMessages;
    EXPECT_EQ(grid->columnWidth(1), grid->width() - grid->columnWidth(0) - grid->columnWidth(2) -
                                        grid->columnWidth(3) - scroll - 9);
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
