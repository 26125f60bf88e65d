// The window from the keyboard alone: every command has a key and a menu
// entry, Tab reaches the tool bar's buttons, every Tab stop shows that it
// has the focus, and every label's mnemonic leads to its field.
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include "app/capture_dialog.h"
#include "app/devices_dialog.h"
#include "app/edit_meters_dialog.h"
#include "lab/fault_driver.h"
#include "app/faults_dialog.h"
#include "app/window_fixture.h"
#include "lab/fault_driver.h"

namespace volmar::testing {
namespace {

std::string Name(const QWidget* W) {
    return W->metaObject()->className() + std::string(" ") + W->objectName().toStdString();
}

class KeyboardTest : public WindowTest {
protected:
    TfrmVolmar& StartActive() {
        TfrmVolmar& w = Start();
        w.show();
        QApplication::setActiveWindow(&w);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
        return w;
    }

    // Presses Keys in the window and lets Action work on the modal dialog they open.
    template <class TDialog>
    bool WhileModalAfterKeys(const QKeySequence& Keys, const std::function<void(TDialog&)>& Action) {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            PumpUntil([] { return QApplication::activeModalWidget() != nullptr; });
            if (auto* dialog = qobject_cast<TDialog*>(QApplication::activeModalWidget())) {
                ran = true;
                Action(*dialog);
            }
        });
        QTest::keySequence(window.get(), Keys);
        return ran;
    }
};

TEST_F(KeyboardTest, EveryCommandHasAKeyAndAMenuEntry) {
    TfrmVolmar& w = StartActive();
    QList<QAction*> inMenus;
    for (QAction* top : w.menuBar()->actions())
        if (top->menu()) inMenus += top->menu()->actions();
    for (QAction* command : {w.actReset, w.btnAutoBaud, w.btn1200Baud, w.btn9600Baud,
                             w.mnuEditMeters}) {
        EXPECT_FALSE(command->shortcut().isEmpty()) << command->text().toStdString();
        EXPECT_TRUE(inMenus.contains(command)) << command->text().toStdString();
    }

    QTest::keySequence(&w, w.btn1200Baud->shortcut());
    EXPECT_TRUE(w.btn1200Baud->isChecked());
    EXPECT_EQ(w.Monitor().SpeedMode(), sm1200);
    QTest::keySequence(&w, w.btn9600Baud->shortcut());
    EXPECT_EQ(w.Monitor().SpeedMode(), sm9600);

    w.Monitor().Counters().Wins = 5;
    QTest::keySequence(&w, w.actReset->shortcut());
    EXPECT_EQ(w.Monitor().Counters().Wins, 0);

    EXPECT_TRUE(WhileModalAfterKeys<TfrmEditMetersDlg>(
        w.mnuEditMeters->shortcut(), [](TfrmEditMetersDlg& D) { D.reject(); }));
}

TEST_F(KeyboardTest, TabReachesTheToolBarsButtonsAndEveryStopShowsItsFocus) {
    TfrmVolmar& w = StartActive();
    std::vector<QWidget*> stops;
    for (int page = 0; page < w.pgctrlPages->count(); ++page) {
    w.pgctrlPages->setCurrentIndex(page);
    Settle();
    const std::size_t first = stops.size();
    for (int i = 0; i < 100; ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w, Qt::Key_Tab);
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        if (stops.size() > first && focused == stops[first]) break;
        stops.push_back(focused);
        // The same widget drawn without the focus must look otherwise.
        const QImage with = focused->grab().toImage();
        focused->clearFocus();
        const QImage without = focused->grab().toImage();
        focused->setFocus(Qt::TabFocusReason);
        EXPECT_NE(with, without) << Name(focused) << " shows no focus";
    }
    }
    auto* commands = w.findChildren<QToolBar*>().at(1);
    for (QAction* command : {w.actReset, w.btnAutoBaud, w.btn1200Baud, w.btn9600Baud})
        EXPECT_NE(std::find(stops.begin(), stops.end(), commands->widgetForAction(command)),
                  stops.end())
            << command->text().toStdString();
}

// Each label with a mnemonic ("F&ile:") leads to a field, or it would show
// its "&" and Alt with the letter would do nothing.
void ExpectEveryMnemonicLeadsSomewhere(const QWidget& Dialog) {
    static const QRegularExpression mnemonic(QStringLiteral("&[^&]"));
    for (const QLabel* label : Dialog.findChildren<QLabel*>()) {
        if (!label->text().contains(mnemonic)) continue;
        EXPECT_NE(label->buddy(), nullptr)
            << Dialog.windowTitle().toStdString() << ": " << label->text().toStdString();
    }
}

TEST_F(KeyboardTest, EveryMnemonicInTheDialogsLeadsToItsField) {
    TfrmVolmar& w = Start();
    ExpectEveryMnemonicLeadsSomewhere(TdlgCapture(&w, {}, 10, QString(), QString()));
    ExpectEveryMnemonicLeadsSomewhere(TfrmEditMetersDlg(&w));
    ExpectEveryMnemonicLeadsSomewhere(TdlgFaults(&w, w.Lab().Faults()->Rules(), {}));
    ExpectEveryMnemonicLeadsSomewhere(TdlgDevices(&w, {"", "", "", ""}, [] {
        return std::vector<TSerialDevice>{};
    }));
}

} // namespace
} // namespace volmar::testing
