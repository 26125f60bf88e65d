// The edit meters dialog and the window's command that opens it.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTimer>

#include "app/edit_meters_dialog.h"
#include "app/window_fixture.h"
#include "support/artefacts.h"

namespace volmar::testing {
namespace {

class EditMetersTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        Start();
        TCounters& c = window->Monitor().Counters();
        c.In = 1200;
        c.Out = 300;
        c.Games = 41;
        c.Stakes = 820;
        c.Wins = 560;
        c.Cashbox = 700;
        c.Refills = 250;
        c.Dumps = 10;
        c.CancelledCredits = 6;
        c.CreditsTaken = 9;
        c.Codes[0x26].Messages = 12;
        window->UpdateMeters(0);
        before = c;
    }

    // Opens the dialog from the meters' menu and lets Action work on it
    // while it runs modally.
    void EditWith(const std::function<void(TfrmEditMetersDlg&)>& Action) {
        ASSERT_TRUE(WhileModal<TfrmEditMetersDlg>(window->mnuEditMeters, Action));
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the dialog is gone";
    }

    int MovedMeters() {
        int moved = 0;
        for (int i = 1; i <= 10; ++i)
            if (window->MachinePage->Meter(i)->Value() != *MeterTotal(window->Monitor().Counters(), i)) ++moved;
        return moved;
    }

    TCounters before{};
};

TEST_F(EditMetersTest, TheDialogShowsTheTotalsAsLaidOut) {
    EditWith([&](TfrmEditMetersDlg& d) {
        EXPECT_EQ(d.windowTitle().toStdString(), "Edit Meters");
        EXPECT_EQ(d.size(), QSize(321, 173));
        EXPECT_EQ(d.mskedIn->displayText().toStdString(), "1200    ");
        EXPECT_EQ(d.TotalIn(), 1200);
        EXPECT_EQ(d.TotalOut(), 300);
        EXPECT_EQ(d.TotalGames(), 41);
        EXPECT_EQ(d.TotalStakes(), 820);
        EXPECT_EQ(d.TotalWins(), 560);
        EXPECT_EQ(d.TotalCashbox(), 700);
        EXPECT_EQ(d.TotalRefills(), 250);
        EXPECT_EQ(d.TotalDumps(), 10);
        // The design's places, a column moved right together only as far as
        // its widest label needs in the font in use.
        const auto column = [&](std::initializer_list<QLineEdit*> Fields, int Designed) {
            int needed = Designed;
            for (QLineEdit* field : Fields) {
                const QWidget* label = nullptr;
                for (const QLabel* l : d.findChildren<QLabel*>())
                    if (l->buddy() == field) label = l;
                EXPECT_NE(label, nullptr);
                if (label) needed = std::max(needed, label->geometry().right() + 6);
            }
            for (QLineEdit* field : Fields) EXPECT_EQ(field->geometry().left(), needed);
        };
        column({d.mskedIn, d.mskedOut, d.mskedGames, d.mskedStakes}, 78);
        column({d.mskedCashbox, d.mskedRefills, d.mskedDumps, d.mskedWins}, 238);
        EXPECT_EQ(d.mskedOut->geometry().top() - d.mskedIn->geometry().top(), 32);
        EXPECT_TRUE(d.btnOK->isDefault());
        // Tab order: the four left fields, the four right ones, OK, Cancel.
        QWidget* expected[] = {d.mskedOut,   d.mskedGames, d.mskedStakes, d.mskedCashbox,
                               d.mskedRefills, d.mskedDumps, d.mskedWins, d.btnOK, d.btnCancel};
        QWidget* at = d.mskedIn;
        for (QWidget* next : expected) {
            at = at->nextInFocusChain();
            while (at && !(at->focusPolicy() & Qt::TabFocus)) at = at->nextInFocusChain();
            EXPECT_EQ(at, next);
        }
        EXPECT_TRUE(SavePicture(d.grab().toImage(), QStringLiteral("edit_meters")));
        d.reject();
    });
}

TEST_F(EditMetersTest, CancelAndTheCloseBoxChangeNothingAndPostNothing) {
    window->Monitor().Counters().In = 5000;  // not yet on the meter: a refresh would show it
    before.In = 5000;
    EditWith([](TfrmEditMetersDlg& d) {
        d.mskedIn->setText(QStringLiteral("1"));
        d.btnCancel->click();
    });
    EditWith([](TfrmEditMetersDlg& d) {
        d.mskedOut->setText(QStringLiteral("2"));
        d.close();
    });
    Settle();
    EXPECT_EQ(std::memcmp(&window->Monitor().Counters(), &before, sizeof before), 0);
    EXPECT_EQ(window->MachinePage->Meter(miIn)->Value(), 1200) << "no refresh was posted";
}

TEST_F(EditMetersTest, OkTakesTheFieldsOver) {
    EditWith([](TfrmEditMetersDlg& d) {
        d.mskedIn->clear();
        d.mskedGames->setText(QStringLiteral("12 34"));
        d.mskedWins->setText(QStringLiteral("777"));
        d.mskedDumps->setText(QStringLiteral("   42"));
        d.btnOK->click();
    });
    EXPECT_EQ(window->Monitor().Counters().In, 0) << "a cleared field gives 0";
    EXPECT_EQ(window->Monitor().Counters().Games, 0) << "a blank between digits gives 0";
    EXPECT_EQ(window->Monitor().Counters().Wins, 777);
    EXPECT_EQ(window->Monitor().Counters().Dumps, 42);
    EXPECT_EQ(window->Monitor().Counters().Out, 300);
    EXPECT_EQ(window->Monitor().Counters().CancelledCredits, 6) << "never touched";
    EXPECT_EQ(window->Monitor().Counters().CreditsTaken, 9);
    EXPECT_EQ(window->Monitor().Counters().Codes[0x26].Messages, 12);
    EXPECT_EQ(MovedMeters(), 4) << "the refresh is deferred";
    Settle();
    EXPECT_EQ(MovedMeters(), 0);
    EXPECT_EQ(window->MachinePage->Meter(miWins)->Value(), 777);
}

TEST_F(EditMetersTest, OkWithoutEditsRefreshesAndMovesNothing) {
    window->SetBigMeterSpin(true);
    int blurFrames = 0;
    for (TAWPMeter* meter : window->MachinePage->Meters())
        meter->OnFrameShown = [&blurFrames](TAWPMeter*, int, int Frame) { blurFrames += Frame >= 10; };
    window->Monitor().Counters().Refills = 999;  // only this one is behind its total
    EditWith([](TfrmEditMetersDlg& d) { d.btnOK->click(); });
    Settle();
    ASSERT_TRUE(PumpUntil([&] { return !window->MachinePage->Meter(miRefills)->Rolling(); }));
    EXPECT_EQ(window->MachinePage->Meter(miRefills)->Value(), 999) << "the refresh covered all meters";
    for (int i = 1; i <= 10; ++i) {
        if (i == miRefills) continue;
        EXPECT_EQ(window->MachinePage->Meter(i)->Value(), *MeterTotal(before, i));
    }
    // 250 to 999: three positions roll, each through three blur frames.
    EXPECT_EQ(blurFrames, 3 * 3);
}

TEST_F(EditMetersTest, OkTakesOverOnlyTheFieldsTheOperatorEdited) {
    window->Monitor().Counters().Stakes = 123456789;
    window->Monitor().Counters().Out = -40;
    EditWith([this](TfrmEditMetersDlg& d) {
        EXPECT_EQ(d.mskedStakes->text().toStdString(), "23456789") << "the lowest digits, as the meter";
        EXPECT_EQ(d.mskedOut->text().toStdString(), "40");
        window->Monitor().Counters().In += 100;  // a coin while the dialog is open
        d.mskedWins->setText(QStringLiteral("777"));
        d.btnOK->click();
    });
    EXPECT_EQ(window->Monitor().Counters().Stakes, 123456789);
    EXPECT_EQ(window->Monitor().Counters().Out, -40);
    EXPECT_EQ(window->Monitor().Counters().In, 1300);
    EXPECT_EQ(window->Monitor().Counters().Wins, 777);
}

} // namespace
} // namespace volmar::testing
