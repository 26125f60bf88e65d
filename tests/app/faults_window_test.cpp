// Faults armed from the window: Options > Faults... and the badge and title
// that show them while any is armed.
#include "app/faults_dialog.h"
#include "app/window_fixture.h"
#include "lab/fault_driver.h"

namespace volmar::testing {
namespace {

class FaultsWindowTest : public WindowTest {
protected:
    TdlgFaults& OpenFaults() {
        window->mnuFaults->trigger();
        EXPECT_NE(window->dlgFaults, nullptr);
        EXPECT_TRUE(window->dlgFaults->isVisible());
        return *window->dlgFaults;
    }

    static void ChooseKind(TdlgFaults& D, const char* Text) {
        const int index = D.cmbxKind->findText(QLatin1String(Text));
        ASSERT_GE(index, 0) << Text;
        D.cmbxKind->setCurrentIndex(index);
    }

    static std::string Cell(const TdlgFaults& D, int Row, int Column) {
        const QTableWidgetItem* item = D.lstArmed->item(Row, Column);
        return item ? item->text().toStdString() : std::string("(none)");
    }

    bool BadgeShown() const { return !window->btnFaults->isHidden(); }

    void ExpectNoBox() const {
        EXPECT_TRUE(errors.empty());
        EXPECT_TRUE(warnings.empty());
        EXPECT_TRUE(infos.empty());
    }
};

TEST_F(FaultsWindowTest, TheFormIsLaidOutTheSameOnceAFaultIsArmed) {
    Start();
    TdlgFaults& d = OpenFaults();
    Settle();
    const QRect kind = d.cmbxKind->geometry(), arm = d.btnArm->geometry();
    const QSize size = d.size();
    d.btnArm->click();
    Settle();
    ASSERT_TRUE(d.lblMessage->isVisible());
    EXPECT_EQ(d.cmbxKind->geometry(), kind);
    EXPECT_EQ(d.btnArm->geometry(), arm);
    EXPECT_EQ(d.size(), size);
}

TEST_F(FaultsWindowTest, ArmArmsTheChosenKindScopeFrequencyAndEnd) {
    TfrmVolmar& w = Start();
    EXPECT_EQ(w.mnuFaults->text().toStdString(), "&Faults...");
    TdlgFaults& d = OpenFaults();
    ChooseKind(d, "Answer late");
    d.edtCodes->setText(QStringLiteral("20-2B,70"));
    d.spnEvery->setValue(3);
    d.spnProbability->setValue(50);
    d.spnFirings->setValue(1);
    d.spnSeconds->setValue(30);
    d.spnDelay->setValue(100);
    d.spnDelayMax->setValue(400);
    d.btnArm->click();

    const std::vector<TFaults::TArmed> armed = w.Lab().Faults()->Rules().List();
    ASSERT_EQ(armed.size(), 1u);
    const TFaultRule& s = armed[0].Rule;
    EXPECT_EQ(s.Kind, TFaultKind::Delay);
    std::bitset<128> codes;
    for (int c = 0x20; c <= 0x2B; ++c) codes.set(static_cast<std::size_t>(c));
    codes.set(0x70);
    EXPECT_EQ(s.Codes, codes);
    EXPECT_EQ(s.EveryNth, 3);
    EXPECT_DOUBLE_EQ(s.Probability, 0.5);
    EXPECT_EQ(s.MaxFirings, 1);
    EXPECT_DOUBLE_EQ(s.ForSeconds, 30);
    EXPECT_EQ(s.DelayMs, 100);
    EXPECT_EQ(s.DelayMaxMs, 400);
    ASSERT_EQ(d.lstArmed->rowCount(), 1);
    EXPECT_EQ(Cell(d, 0, 0), FaultText(s).toStdString());
    EXPECT_EQ(Cell(d, 0, 1), "0");

    ChooseKind(d, "Wrong answer byte");
    d.edtCodes->setText(QStringLiteral("all"));
    d.spnByte->setValue(0x41);
    d.btnArm->click();
    ASSERT_EQ(w.Lab().Faults()->Rules().List().size(), 2u);
    EXPECT_EQ(w.Lab().Faults()->Rules().List()[1].Rule.Kind, TFaultKind::WrongByte);
    EXPECT_EQ(w.Lab().Faults()->Rules().List()[1].Rule.Byte, 0x41);
    EXPECT_TRUE(w.Lab().Faults()->Rules().List()[1].Rule.Codes.all());

    d.btnClearAll->click();
    EXPECT_FALSE(w.Lab().Faults()->Rules().Active());
    EXPECT_EQ(d.lstArmed->rowCount(), 0);
    ExpectNoBox();
}

TEST_F(FaultsWindowTest, EachKindEnablesOnlyTheValuesItUses) {
    Start();
    TdlgFaults& d = OpenFaults();
    struct Case {
        const char* Kind;
        bool Codes, Delay, Byte, Garbage, Silence;
    };
    for (const Case& c : {Case{"NAK instead of the answer", true, false, false, false, false},
                          Case{"ESC instead of the answer", true, false, false, false, false},
                          Case{"No answer", true, false, false, false, false},
                          Case{"Answer late", true, true, false, false, false},
                          Case{"Wrong answer byte", true, false, true, false, false},
                          Case{"Garbage after the answer", true, false, false, true, false},
                          Case{"Silence", true, false, false, false, true},
                          Case{"No first-message NAKs", false, false, false, false, false}}) {
        ChooseKind(d, c.Kind);
        EXPECT_EQ(d.edtCodes->isEnabled(), c.Codes) << c.Kind;
        EXPECT_EQ(d.spnEvery->isEnabled(), c.Codes) << c.Kind;
        EXPECT_EQ(d.spnProbability->isEnabled(), c.Codes) << c.Kind;
        EXPECT_EQ(d.spnDelay->isEnabled(), c.Delay) << c.Kind;
        EXPECT_EQ(d.spnDelayMax->isEnabled(), c.Delay) << c.Kind;
        EXPECT_EQ(d.spnByte->isEnabled(), c.Byte) << c.Kind;
        EXPECT_EQ(d.spnGarbage->isEnabled(), c.Garbage) << c.Kind;
        EXPECT_EQ(d.spnSilence->isEnabled(), c.Silence) << c.Kind;
        EXPECT_TRUE(d.spnFirings->isEnabled() && d.spnSeconds->isEnabled()) << c.Kind;
    }
}

TEST_F(FaultsWindowTest, ABadCodeListOrReplyByteIsRefusedInTheDialogAndNothingIsArmed) {
    TfrmVolmar& w = Start();
    TdlgFaults& d = OpenFaults();
    for (const char* codes : {"zz", "20-", "2B-20", "80", "20-2B;70"}) {
        d.edtCodes->setText(QLatin1String(codes));
        d.btnArm->click();
        EXPECT_FALSE(w.Lab().Faults()->Rules().Active()) << codes;
        EXPECT_TRUE(d.lblMessage->isVisibleTo(&d)) << codes;
        EXPECT_TRUE(d.lblMessage->text().contains(QLatin1String("20-2B,70")))
            << d.lblMessage->text().toStdString();
    }
    d.edtCodes->setText(QStringLiteral("all"));
    ChooseKind(d, "Wrong answer byte");
    for (int reply : {0x06, 0x15, 0x1B}) {
        d.spnByte->setValue(reply);
        d.btnArm->click();
        EXPECT_FALSE(w.Lab().Faults()->Rules().Active()) << reply;
        EXPECT_TRUE(d.lblMessage->text().contains(QLatin1String("06h, 15h, 1Bh")))
            << d.lblMessage->text().toStdString();
    }
    EXPECT_EQ(d.lstArmed->rowCount(), 0);
    ExpectNoBox();

    d.spnByte->setValue(0x3F);
    d.btnArm->click();
    EXPECT_TRUE(w.Lab().Faults()->Rules().Active()) << "armed once put right";
}

TEST_F(FaultsWindowTest, TheBadgeAndTitleShowArmedFaultsUntilClearedOrSpent) {
    TfrmVolmar& w = StartOnCom1();
    const QString designed = w.windowTitle();
    const QString marked = designed + QStringLiteral(" - Faults active");
    EXPECT_FALSE(BadgeShown());
    TdlgFaults& d = OpenFaults();
    d.edtCodes->setText(QStringLiteral("26"));
    d.btnArm->click();
    ASSERT_TRUE(PumpUntil([&] { return BadgeShown(); }));
    EXPECT_EQ(w.btnFaults->text().toStdString(), "Faults active");
    EXPECT_EQ(w.windowTitle(), marked);

    EXPECT_EQ(Exchange(0x26), kNak);
    EXPECT_TRUE(PumpUntil([&] { return Cell(d, 0, 1) == "1"; })) << Cell(d, 0, 1);

    w.btnFaults->click();
    EXPECT_TRUE(PumpUntil([&] { return !BadgeShown(); }));
    EXPECT_EQ(w.windowTitle(), designed);
    EXPECT_EQ(d.lstArmed->rowCount(), 0);
    EXPECT_EQ(Exchange(0x26), kAck) << "cleared in the engine too";

    d.spnFirings->setValue(1);
    d.btnArm->click();
    ASSERT_TRUE(PumpUntil([&] { return BadgeShown(); }));
    EXPECT_EQ(w.windowTitle(), marked);
    EXPECT_EQ(Exchange(0x26), kNak);
    EXPECT_TRUE(PumpUntil([&] { return !BadgeShown(); })) << "a once-fault ends by itself";
    EXPECT_EQ(w.windowTitle(), designed);
    EXPECT_EQ(d.lstArmed->rowCount(), 0);
    ExpectNoBox();
}

} // namespace
} // namespace volmar::testing
