// The Machine page and the small-meter strip: switch words, the attendant
// lamp, the meters and their options, the speed-signal lamps.
#include <QDir>
#include <QImage>
#include <QMenu>

#include "app/window_fixture.h"
#include "dataport/message.h"
#include "resources/panel_glyphs.h"
#include "support/artefacts.h"

namespace volmar::testing {
namespace {

class PanelTest : public WindowTest {
protected:
    const TMachinePage& Page() const { return *window->MachinePage; }
};

TEST_F(PanelTest, SwitchWordsShowDoorsKeysAndLights) {
    TfrmVolmar& w = StartOnCom1();
    using P = TMachinePage;
    EXPECT_EQ(Page().DoorFrame(P::dCash), 0);
    EXPECT_EQ(Page().DoorFrame(P::dService), 0);
    EXPECT_EQ(Page().DoorFrame(P::dPayout), 0);

    EXPECT_EQ(Exchange(0x6E, {0x00, 0x80}), 0x06) << "switch word 0080h";
    EXPECT_EQ(w.Monitor().Switches(), 0x0080);
    EXPECT_EQ(Page().DoorFrame(P::dCash), 1) << "reported: closed";
    EXPECT_EQ(Page().DoorFrame(P::dService), 1);
    EXPECT_EQ(Page().DoorFrame(P::dPayout), 1);
    EXPECT_FALSE(Page().ModeLightLit(P::mlPayoutUnit)) << "bit 7 set: payout unit light green";

    w.SetSwitchStates(0x0070);
    EXPECT_EQ(Page().DoorFrame(P::dService), 2);
    EXPECT_EQ(Page().DoorFrame(P::dCash), 2);
    EXPECT_EQ(Page().DoorFrame(P::dPayout), 2);
    EXPECT_EQ(Page().KeyFrame(P::kRefill), 0);
    EXPECT_EQ(Page().KeyFrame(P::kBookkeeping), 0);
    for (auto light : {P::mlRefill, P::mlBookkeeping, P::mlDump, P::mlTest})
        EXPECT_FALSE(Page().ModeLightLit(light));
    EXPECT_TRUE(Page().ModeLightLit(P::mlPayoutUnit));

    w.SetSwitchStates(0x0F03);
    EXPECT_EQ(Page().KeyFrame(P::kRefill), 1);
    EXPECT_EQ(Page().KeyFrame(P::kBookkeeping), 1);
    for (auto light : {P::mlRefill, P::mlBookkeeping, P::mlDump, P::mlTest})
        EXPECT_TRUE(Page().ModeLightLit(light));
    EXPECT_EQ(Page().DoorFrame(P::dCash), 1);
}

TEST_F(PanelTest, AttendantLampFlashesWhileCalled) {
    TfrmVolmar& w = StartOnCom1();
    TLED* lamp = w.MachinePage->ledAttendant();
    EXPECT_EQ(lamp->State(), stOff);
    EXPECT_EQ(lamp->LEDType(), ltFlashing);
    EXPECT_EQ(lamp->FlashOnDelay(), 400);
    EXPECT_EQ(lamp->FlashOffDelay(), 400);
    EXPECT_EQ(Exchange(0x1E), 0x06) << "Call Attendant";
    EXPECT_EQ(lamp->State(), stOn);
    EXPECT_TRUE(lamp->Lit());
    lamp->LEDOnTimer();
    EXPECT_FALSE(lamp->Lit()) << "the off phase of its flashing";
    EXPECT_EQ(Exchange(0x1F), 0x06) << "Attendant Arrived";
    EXPECT_EQ(lamp->State(), stOff);
}

TEST_F(PanelTest, MetersAsDesigned) {
    TfrmVolmar& w = Start();
    for (int i = 1; i <= 10; ++i) {
        const TAWPMeter* meter = w.MachinePage->Meter(i);
        EXPECT_EQ(meter->NumDigits(), 8);
        EXPECT_EQ(meter->size(), QSize(121, 41));
        EXPECT_EQ(meter->BorderWidthX(), 4);
        EXPECT_EQ(meter->BorderWidthY(), 4);
        EXPECT_EQ(meter->Speed(), TAWPMeter::spVeryFast);
        EXPECT_TRUE(meter->CaptionVisible());
    }
    EXPECT_EQ(w.MachinePage->Meter(miCreditsTaken)->Caption().toStdString(), "Credits Taken");
    for (int i = 1; i <= 5; ++i) {
        const TAWPMeter* meter = w.pnlSmallMeters->Meter(i);
        EXPECT_EQ(meter->NumDigits(), 6);
        EXPECT_FALSE(meter->CaptionVisible());
        EXPECT_EQ(meter->BorderWidthX(), 0);
    }
    EXPECT_EQ(w.pnlSmallMeters->Meter(3)->toolTip().toStdString(), "Games");
}

TEST_F(PanelTest, BigMeterSpinFromTheSettingsAndResetRollsToZero) {
    TfrmVolmar& w = StartOnCom1("[Options]\nBig Meter Spin=1\n");
    EXPECT_TRUE(w.MachinePage->Meter(miIn)->Spin());
    EXPECT_FALSE(w.pnlSmallMeters->Meter(miIn)->Spin());
    EXPECT_EQ(Exchange(0x26), 0x06);
    ASSERT_TRUE(PumpUntil([&] { return !w.MachinePage->Meter(miIn)->Rolling(); }));
    EXPECT_EQ(w.MachinePage->Meter(miIn)->Value(), 100);
    EXPECT_EQ(w.MachinePage->Meter(miIn)->Digit(3), 1);

    w.actReset->trigger();
    ASSERT_TRUE(PumpUntil([&] {
        for (int i = 1; i <= 10; ++i)
            if (w.MachinePage->Meter(i)->Rolling()) return false;
        return true;
    }));
    for (int i = 1; i <= 10; ++i) {
        EXPECT_EQ(w.MachinePage->Meter(i)->Value(), 0);
        for (int p = 1; p <= 8; ++p) EXPECT_EQ(w.MachinePage->Meter(i)->Frame(p), 0);
    }
    EXPECT_EQ(w.pnlSmallMeters->Meter(miIn)->Value(), 0);
}

TEST_F(PanelTest, TheControllerDrivesTheSpeedSignalLampInEveryMode) {
    TfrmVolmar& w = StartOnCom1("[Dataport]\nSpeed Mode=2\n");
    EXPECT_TRUE(w.LEDController->Active());
    TStatusLight* lamp = w.pnlSmallMeters->ledSpeedSelect;
    EXPECT_FALSE(lamp->Lit());
    line->SetModemLines(kModemCTS);
    ASSERT_TRUE(PumpUntil([&] { return lamp->Lit(); })) << "lit in 9600 Baud too";
    EXPECT_EQ(w.Monitor().ComPortPlus().Baud(), 9600);
    line->SetModemLines(0);
    ASSERT_TRUE(PumpUntil([&] { return !lamp->Lit(); }));

    // The receive lamp lights with traffic and goes out after its hold time.
    Send({0x26, 0x26});
    ASSERT_TRUE(PumpUntil([&] { return w.pnlSmallMeters->ledRx->Lit(); }));
    Answers(1);
    ASSERT_TRUE(PumpUntil([&] { return w.pnlSmallMeters->ledTx->Lit(); }));
    clock.AdvanceTicks(3);
    ASSERT_TRUE(PumpUntil([&] { return !w.pnlSmallMeters->ledRx->Lit() && !w.pnlSmallMeters->ledTx->Lit(); }));
    EXPECT_EQ(w.Monitor().Counters().In, 100) << "the window's own handler still gets the bytes";

    w.cmbxComPort->setCurrentIndex(0);
    emit w.cmbxComPort->activated(0);
    EXPECT_FALSE(w.LEDController->Active());
    EXPECT_FALSE(lamp->Lit());
}

TEST_F(PanelTest, MetersOfferTheEditMenu) {
    TfrmVolmar& w = Start();
    ASSERT_NE(w.popmnuMeters, nullptr);
    ASSERT_EQ(w.popmnuMeters->actions().size(), 1);
    EXPECT_EQ(w.popmnuMeters->actions()[0]->text().toStdString(), "&Edit Meters...");
    EXPECT_EQ(w.MachinePage->Meter(miIn)->contextMenuPolicy(), Qt::CustomContextMenu);
    EXPECT_EQ(w.pnlSmallMeters->Meter(miIn)->contextMenuPolicy(), Qt::CustomContextMenu);
}

TEST_F(PanelTest, RefreshesOutOfRangeChangeNoMeter) {
    TfrmVolmar& w = Start();
    for (int i = 1; i <= kMeterCount; ++i) *MeterTotal(w.Monitor().Counters(), i) = i;
    w.UpdateMeters(11);
    w.UpdateMeters(-1);
    for (int i = 1; i <= kMeterCount; ++i) EXPECT_EQ(w.MachinePage->Meter(i)->Value(), 0) << i;
    EXPECT_EQ(w.pnlSmallMeters->Meter(miIn)->Value(), 0);
    w.UpdateMeters(kMeterCount);
    EXPECT_EQ(w.MachinePage->Meter(kMeterCount)->Value(), kMeterCount) << "the last index is in";
}

TEST_F(PanelTest, PowerOnShowsTheValuesModeOnThePanel) {
    StartOnCom1();
    Bytes power(20, 0);
    power[19] = 1;
    ASSERT_EQ(Exchange(0x70, power), 0x06);
    EXPECT_EQ(Page().ValuesModeText().toStdString(), "Binary");
    power[19] = 3;
    ASSERT_EQ(Exchange(0x70, power), 0x06);
    EXPECT_EQ(Page().ValuesModeText().toStdString(), "BCD");
}

TEST(PanelGlyphs, StripsHoldTheirFrames) {
    const auto saturation = [](const QImage& Frame) {
        long sum = 0, count = 0;
        for (int y = 0; y < Frame.height(); ++y)
            for (int x = 0; x < Frame.width(); ++x) {
                const QColor c = Frame.pixelColor(x, y);
                if (c.alpha() == 0) continue;
                sum += c.hsvSaturation();
                ++count;
            }
        return count ? sum / count : 0;
    };
    for (TDoorStrip door : {dsCashDoor, dsBackDoor, dsSideDoor}) {
        const QImage strip = DoorStrip(door);
        ASSERT_EQ(strip.size(), QSize(3 * kDoorFrameSize, kDoorFrameSize));
        const QImage grey = strip.copy(0, 0, 64, 64);
        const QImage closed = strip.copy(64, 0, 64, 64);
        const QImage open = strip.copy(128, 0, 64, 64);
        EXPECT_LT(saturation(grey), 10) << "frame 0 is grey";
        EXPECT_GT(saturation(closed), 40);
        EXPECT_NE(closed, open);
    }
    EXPECT_NE(DoorStrip(dsCashDoor), DoorStrip(dsSideDoor)) << "each door has its own look";
    const QImage keys = KeyStrip();
    ASSERT_EQ(keys.size(), QSize(2 * kKeyFrameSize, kKeyFrameSize));
    EXPECT_LT(saturation(keys.copy(0, 0, 32, 32)), 10);
    const QColor middle = keys.copy(32, 0, 32, 32).pixelColor(19, 15);
    EXPECT_GT(middle.red(), 200) << "the lit key is yellow";
    EXPECT_GT(middle.green(), 150);
    EXPECT_LT(middle.blue(), 100);
}

TEST_F(PanelTest, PictureOfTheMachinePage) {
    TfrmVolmar& w = StartOnCom1("[Options]\nBig Meter Spin=1\n");
    w.show();
    std::vector<std::uint8_t> power = {'A', 'B', 'C', 0, 0, 0, 0, '1', '0', '2', 0x00, 0x7F, 0xFF,
                                       0x00, 0x64, 85, 0x00, 0x70, 'B', 0};
    EXPECT_EQ(Exchange(0x70, power), 0x06) << "Power on";
    EXPECT_EQ(Exchange(0x2B), 0x06);
    EXPECT_EQ(Exchange(0x69, {0x00, 0x32}), 0x06);
    EXPECT_EQ(Exchange(0x6C, {0x01, 0x2C}), 0x06);
    ASSERT_TRUE(PumpUntil([&] { return !w.MachinePage->Meter(miIn)->Rolling(); }));
    Settle();
    EXPECT_EQ(w.MachinePage->IdentityText(ilManufCode).toStdString(), "ABC");
    EXPECT_EQ(w.MachinePage->DoorFrame(TMachinePage::dCash), 2);
    EXPECT_TRUE(SavePicture(w.MachinePage->grab().toImage(), QStringLiteral("machine_page")));
}

} // namespace
} // namespace volmar::testing
