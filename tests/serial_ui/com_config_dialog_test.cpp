// The configuration dialog: its form, filling from a port, the option
// mask, the write-back (order, failures, Cancel), the file choosers, the
// modal run through Execute and Configure, a port reopened on a new COM
// number over the virtual line, and pictures of the three tabs.
#include "serial/com_port_plus.h"
#include "serial/device_map.h"
#include "serial/ui/com_config_dialog.h"
#include "serial/virtual_line.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <tuple>

namespace volmar {
namespace {

// Every property the dialog writes, for whole-port comparisons.
struct TSettings {
    std::int32_t Baud;
    std::uint16_t ComNumber, DataBits, InSize;
    bool LogHex;
    TInfoLogLevels LogInfo;
    std::string LogName;
    std::uint32_t LogSize;
    std::uint16_t OutSize;
    TParity Parity;
    std::uint32_t RxTxDelay;
    std::uint16_t StopBits;
    TTapiMode TapiMode;
    std::uint32_t Timeout;
    bool TraceHex;
    std::string TraceName;
    std::uint32_t TraceSize;
    bool UseEventWord, Yield;
    bool operator==(const TSettings&) const = default;
};

TSettings Read(const TComPortPlus& P) {
    return {P.Baud(),      P.ComNumber(), P.DataBits(),     P.InSize(),  P.LogHex(),
            P.LogInfo(),   P.LogName(),   P.LogSize(),      P.OutSize(), P.Parity(),
            P.RxTxDelay(), P.StopBits(),  P.TapiMode(),     P.Timeout(), P.TraceHex(),
            P.TraceName(), P.TraceSize(), P.UseEventWord(), P.Yield()};
}

// A port with none of its defaults, so a fill shows something of each.
void Customise(TComPortPlus& P) {
    P.SetBaud(1200);
    P.SetComNumber(3);
    P.SetDataBits(7);
    P.SetInSize(2048);
    P.SetLogHex(true);
    P.SetLogInfo(logLow);
    P.SetLogName("/tmp/volmar-log.txt");
    P.SetLogSize(5000);
    P.SetOutSize(1024);
    P.SetParity(pEven);
    P.SetRxTxDelay(12);
    P.SetStopBits(2);
    P.SetTapiMode(tmOff);
    P.SetTimeout(750);
    P.SetTraceHex(false);
    P.SetTraceName("trace.txt");
    P.SetTraceSize(300);
    P.SetUseEventWord(false);
    P.SetYield(false);
}

QStringList Items(const QComboBox* List) {
    QStringList items;
    for (int i = 0; i < List->count(); ++i)
        items << List->itemText(i);
    return items;
}

QStringList Buttons(const TRadioGroup* Group) {
    QStringList items;
    for (int i = 0; i < Group->Count(); ++i)
        items << Group->Button(i)->text();
    return items;
}

std::string ConvertMessage(const std::function<void()>& Action) {
    try {
        Action();
    } catch (const EConvertError& e) {
        return e.what();
    }
    return "no error";
}

// Acts on the first modal window of type W once a nested modal loop shows
// it. Should none ever appear, every modal window is closed so that the
// test fails instead of hanging.
template <typename W> void WhenModal(const std::function<void(W*)>& Action, bool* Found) {
    auto* poll = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [=] {
        if (auto* w = dynamic_cast<W*>(QApplication::activeModalWidget())) {
            *Found = true;
            poll->stop();
            poll->deleteLater();
            Action(w);
        } else if (++*tries > 1000) {
            poll->stop();
            poll->deleteLater();
            while (QWidget* m = QApplication::activeModalWidget())
                m->close();
        }
    });
    poll->start(5);
}

QString ArtefactDir() {
    const QString dir = qEnvironmentVariableIsSet("VOLMAR_ARTEFACT_DIR")
                            ? qEnvironmentVariable("VOLMAR_ARTEFACT_DIR")
                            : QDir::currentPath() + "/artefacts";
    QDir().mkpath(dir);
    return dir;
}

TEST(ComConfigConversion, DecimalIntegersOnly) {
    EXPECT_EQ(StrToInt("0"), 0);
    EXPECT_EQ(StrToInt("115200"), 115200);
    EXPECT_EQ(StrToInt("-5"), -5);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"", "-", "12a", "1 ", "0x10", "$10", "1.5", "2147483648", "-2147483649",
                            "99999999999999999999"})
        EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
    EXPECT_EQ(ConvertMessage([] { StrToInt("12a"); }), "'12a' is not a valid integer value");
    EXPECT_EQ(ConvertMessage([] { StrToInt(""); }), "'' is not a valid integer value");
}

struct ComConfigDialogTest : ::testing::Test {
    TComPortPlus port;
    TdlgComConfig dlg;
};

TEST_F(ComConfigDialogTest, FormCaptionsChoicesAndHints) {
    EXPECT_EQ(dlg.windowTitle(), "Configure Communications");
    EXPECT_EQ(dlg.size(), QSize(369, 205));
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    EXPECT_TRUE(dlg.windowFlags() & Qt::WindowStaysOnTopHint);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(dlg.pos(), screen.center() - QPoint(369 / 2, 205 / 2));
    EXPECT_EQ(dlg.OptionMask(), 3u);

    ASSERT_EQ(dlg.pgcPages->count(), 3);
    EXPECT_EQ(dlg.pgcPages->tabText(0), "Standard");
    EXPECT_EQ(dlg.pgcPages->tabText(1), "Advanced");
    EXPECT_EQ(dlg.pgcPages->tabText(2), "Logging && Tracing");
    EXPECT_EQ(dlg.btnOK->text(), "OK");
    EXPECT_TRUE(dlg.btnOK->isDefault());
    EXPECT_EQ(dlg.btnCancel->text(), "Cancel");

    EXPECT_EQ(dlg.rgPort->title(), " Port ");
    EXPECT_EQ(Buttons(dlg.rgPort), QStringList({"None", "COM1", "COM2", "COM3", "COM4"}));
    EXPECT_EQ(Items(dlg.cmbBaud),
              QStringList({"110", "150", "300", "600", "1200", "2400", "4800", "9600", "19200",
                           "14400", "28800", "38400", "57600", "115200"}));
    EXPECT_EQ(Items(dlg.cmbParity), QStringList({"None", "Odd", "Even"}));
    EXPECT_EQ(Items(dlg.cmbData), QStringList({"5", "6", "7", "8"}));
    EXPECT_EQ(Items(dlg.cmbStopBits), QStringList({"1", "2"}));
    EXPECT_EQ(Items(dlg.cmbTapiMode), QStringList({"None", "Auto", "On", "Off"}));
    for (QComboBox* list : {dlg.cmbBaud, dlg.cmbParity, dlg.cmbData, dlg.cmbStopBits})
        EXPECT_FALSE(list->isEditable());
    EXPECT_EQ(dlg.lblBaud->text(), "Baud Rate");
    EXPECT_EQ(dlg.lblParity->text(), "Parity");
    EXPECT_EQ(dlg.lblData->text(), "Data");
    EXPECT_EQ(dlg.lblStopBits->text(), "Stop Bits");

    EXPECT_EQ(dlg.edtInSize->toolTip(), "Size of the receive buffer");
    EXPECT_EQ(dlg.edtOutSize->toolTip(), "Size of the transmit buffer");
    EXPECT_EQ(dlg.edtTimeout->toolTip(), "Timeout during receive");
    EXPECT_EQ(dlg.edtRxTxDelay->toolTip(), "Delay to apply between receiving & transmitting");
    EXPECT_EQ(dlg.chkUseEventWord->text(), "Use Event Word");
    EXPECT_EQ(dlg.chkUseMSRShadow->text(), "Use MSR Shadow");
    EXPECT_EQ(dlg.chkYield->text(), "Yield");

    // The captions without a control of their own.
    QStringList advanced, logging;
    for (auto* l : dlg.tabAdvanced->findChildren<QLabel*>())
        advanced << l->text();
    for (auto* l : dlg.tabLogging->findChildren<QLabel*>())
        logging << l->text();
    for (const char* caption :
         {"TAPI Mode", "Rx Buffer Size", "Tx Buffer Size", "Timeout", "Rx ->Tx Delay :", "ms"})
        EXPECT_TRUE(advanced.contains(caption)) << caption;
    for (const char* caption : {"Filename", "Size", "As Hex", "Tracing", "Logging"})
        EXPECT_TRUE(logging.contains(caption)) << caption;
    EXPECT_EQ(dlg.btnTraceName->text(), "...");
    EXPECT_EQ(dlg.btnLogName->text(), "...");
    EXPECT_EQ(dlg.rgLogInfo->title(), "  Extra Info Logging  ");
    EXPECT_EQ(Buttons(dlg.rgLogInfo), QStringList({"None", "Minimal", "All"}));
}

TEST_F(ComConfigDialogTest, FillShowsEveryProperty) {
    Customise(port);
    dlg.Fill(port);
    EXPECT_EQ(dlg.cmbBaud->currentText(), "1200");
    EXPECT_EQ(dlg.rgPort->ItemIndex(), 3);
    EXPECT_EQ(dlg.cmbData->currentText(), "7");
    EXPECT_EQ(dlg.edtInSize->text(), "2048");
    EXPECT_TRUE(dlg.chkLogHex->isChecked());
    EXPECT_EQ(dlg.rgLogInfo->ItemIndex(), 1);
    EXPECT_EQ(dlg.edtLogName->text(), "/tmp/volmar-log.txt");
    EXPECT_EQ(dlg.edtLogSize->text(), "5000");
    EXPECT_EQ(dlg.edtOutSize->text(), "1024");
    EXPECT_EQ(dlg.cmbParity->currentText(), "Even");
    EXPECT_EQ(dlg.edtRxTxDelay->text(), "12");
    EXPECT_EQ(dlg.cmbStopBits->currentText(), "2");
    EXPECT_EQ(dlg.cmbTapiMode->currentText(), "Off");
    EXPECT_EQ(dlg.edtTimeout->text(), "750");
    EXPECT_FALSE(dlg.chkTraceHex->isChecked());
    EXPECT_EQ(dlg.edtTraceName->text(), "trace.txt");
    EXPECT_EQ(dlg.edtTraceSize->text(), "300");
    EXPECT_FALSE(dlg.chkUseEventWord->isChecked());
    EXPECT_FALSE(dlg.chkYield->isChecked());
}

TEST_F(ComConfigDialogTest, UnlistedValuesShowNothingChosen) {
    port.SetBaud(250);
    port.SetComNumber(7);
    port.SetParity(pMark);
    dlg.Fill(port);
    EXPECT_EQ(dlg.cmbBaud->currentIndex(), -1);
    EXPECT_EQ(dlg.cmbBaud->currentText(), "");
    EXPECT_EQ(dlg.rgPort->ItemIndex(), -1);
    for (int i = 0; i < dlg.rgPort->Count(); ++i)
        EXPECT_FALSE(dlg.rgPort->Button(i)->isChecked());
    EXPECT_EQ(dlg.cmbParity->currentIndex(), -1);
}

TEST_F(ComConfigDialogTest, WriteBackStoresEveryControl) {
    dlg.Fill(port);
    dlg.cmbBaud->setCurrentText("19200");
    dlg.rgPort->Button(2)->setChecked(true);
    dlg.cmbData->setCurrentText("6");
    dlg.edtInSize->setText("512");
    dlg.chkLogHex->setChecked(true);
    dlg.rgLogInfo->Button(2)->setChecked(true);
    dlg.edtLogName->setText("/var/tmp/log.txt");
    dlg.edtLogSize->setText("9000");
    dlg.edtOutSize->setText("256");
    dlg.cmbParity->setCurrentText("Odd");
    dlg.edtRxTxDelay->setText("20");
    dlg.cmbStopBits->setCurrentText("2");
    dlg.cmbTapiMode->setCurrentText("On");
    dlg.edtTimeout->setText("3000");
    dlg.chkTraceHex->setChecked(true);
    dlg.edtTraceName->setText("t.txt");
    dlg.edtTraceSize->setText("77");
    dlg.chkUseEventWord->setChecked(false);
    dlg.chkYield->setChecked(false);
    dlg.WriteBack(port);

    const TSettings expected{19200, 2,       6,    512,   true, logAll, "/var/tmp/log.txt",
                             9000,  256,     pOdd, 20,    2,    tmOn,   3000,
                             true,  "t.txt", 77,   false, false};
    EXPECT_EQ(Read(port), expected);

    // What the lists do not offer is kept as it was.
    port.SetComNumber(7);
    port.SetParity(pSpace);
    dlg.Fill(port);
    dlg.WriteBack(port);
    EXPECT_EQ(port.ComNumber(), 7);
    EXPECT_EQ(port.Parity(), pSpace);
}

TEST_F(ComConfigDialogTest, FileNamesAreCutTo255Characters) {
    dlg.Fill(port);
    dlg.edtLogName->setText(QString(300, u'l'));
    dlg.edtTraceName->setText(QString(256, u't'));
    dlg.WriteBack(port);
    EXPECT_EQ(port.LogName(), std::string(255, 'l'));
    EXPECT_EQ(port.TraceName(), std::string(255, 't'));
}

TEST_F(ComConfigDialogTest, UnlistedBaudFailsAtTheFirstProperty) {
    Customise(port);
    port.SetBaud(250);
    const TSettings before = Read(port);
    dlg.Fill(port);
    // Whatever else the operator changed stays unwritten.
    dlg.rgPort->Button(1)->setChecked(true);
    dlg.edtTimeout->setText("5");
    EXPECT_EQ(ConvertMessage([&] { dlg.WriteBack(port); }), "'' is not a valid integer value");
    EXPECT_EQ(Read(port), before);
}

TEST_F(ComConfigDialogTest, BadNumberStopsTheWriteBackThere) {
    const TSettings before = Read(port);
    dlg.Fill(port);
    // Before Timeout in the order.
    dlg.cmbBaud->setCurrentText("38400");
    dlg.edtLogName->setText("written.log");
    dlg.cmbTapiMode->setCurrentText("None");
    dlg.edtTimeout->setText("12x");
    // After it.
    dlg.chkTraceHex->setChecked(!before.TraceHex);
    dlg.edtTraceName->setText("unwritten.trc");
    dlg.edtTraceSize->setText("1");
    dlg.chkUseEventWord->setChecked(!before.UseEventWord);
    dlg.chkYield->setChecked(!before.Yield);

    EXPECT_EQ(ConvertMessage([&] { dlg.WriteBack(port); }), "'12x' is not a valid integer value");
    TSettings expected = before;
    expected.Baud = 38400;
    expected.LogName = "written.log";
    expected.TapiMode = tmNone;
    EXPECT_EQ(Read(port), expected);
}

TEST_F(ComConfigDialogTest, OptionMaskShowsTabsAndEnablesControls) {
    const QPalette standard = QApplication::palette(dlg.cmbBaud);
    const QColor window = standard.color(QPalette::Base);
    const QColor face = standard.color(QPalette::Button);
    const QColor text = standard.color(QPalette::WindowText);
    const QColor shadow = standard.color(QPalette::Dark);
    ASSERT_NE(window, face);
    ASSERT_NE(text, shadow);
    const std::pair<QComboBox*, QLabel*> lists[] = {{dlg.cmbBaud, dlg.lblBaud},
                                                    {dlg.cmbParity, dlg.lblParity},
                                                    {dlg.cmbData, dlg.lblData},
                                                    {dlg.cmbStopBits, dlg.lblStopBits}};

    dlg.ApplyOptions(3);
    EXPECT_TRUE(dlg.pgcPages->isTabVisible(0));
    EXPECT_FALSE(dlg.pgcPages->isTabVisible(1));
    EXPECT_FALSE(dlg.pgcPages->isTabVisible(2));
    EXPECT_FALSE(dlg.pgcPages->isTabEnabled(1));
    EXPECT_FALSE(dlg.pgcPages->isTabEnabled(2));
    EXPECT_TRUE(dlg.rgPort->isEnabled());
    for (const auto& [list, label] : lists) {
        EXPECT_TRUE(list->isEnabled());
        EXPECT_EQ(list->palette().color(QPalette::Base), window);
        EXPECT_EQ(label->palette().color(QPalette::WindowText), text);
    }

    dlg.ApplyOptions(1);
    EXPECT_TRUE(dlg.rgPort->isEnabled());
    for (const auto& [list, label] : lists) {
        EXPECT_FALSE(list->isEnabled());
        EXPECT_EQ(list->palette().color(QPalette::Base), face);
        EXPECT_EQ(label->palette().color(QPalette::WindowText), shadow);
    }

    dlg.ApplyOptions(15);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(dlg.pgcPages->isTabVisible(i));
        EXPECT_TRUE(dlg.pgcPages->isTabEnabled(i));
    }
    for (const auto& [list, label] : lists) {
        EXPECT_TRUE(list->isEnabled());
        EXPECT_EQ(list->palette().color(QPalette::Base), window);
        EXPECT_EQ(label->palette().color(QPalette::WindowText), text);
    }

    // The bits act apart: the lists on without the port, one tab without the other.
    dlg.ApplyOptions(6);
    EXPECT_FALSE(dlg.rgPort->isEnabled());
    EXPECT_TRUE(dlg.cmbStopBits->isEnabled());
    EXPECT_TRUE(dlg.pgcPages->isTabVisible(1));
    EXPECT_FALSE(dlg.pgcPages->isTabVisible(2));
}

TEST_F(ComConfigDialogTest, MSRShadowIsTickedEveryTime) {
    dlg.Fill(port);
    EXPECT_TRUE(dlg.chkUseMSRShadow->isChecked());
    dlg.chkUseMSRShadow->setChecked(false);
    dlg.WriteBack(port);
    EXPECT_TRUE(port.UseMSRShadow());
    dlg.Fill(port);
    EXPECT_TRUE(dlg.chkUseMSRShadow->isChecked());
}

TEST_F(ComConfigDialogTest, FileChooserStartsAtTheFieldsFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A hidden tab's buttons are disabled.
    dlg.ApplyOptions(8);
    dlg.edtTraceName->setText(dir.path() + "/old.trc");
    bool found = false;
    QString startedIn, proposed;
    WhenModal<QFileDialog>(
        [&](QFileDialog* chooser) {
            startedIn = chooser->directory().absolutePath();
            proposed = chooser->selectedFiles().value(0);
            EXPECT_EQ(chooser->acceptMode(), QFileDialog::AcceptSave);
            chooser->selectFile(dir.path() + "/new.trc");
            // QFileDialog hides accept(); QDialog's is public.
            static_cast<QDialog*>(chooser)->accept();
        },
        &found);
    dlg.btnTraceName->click();
    ASSERT_TRUE(found);
    EXPECT_EQ(startedIn, QDir(dir.path()).absolutePath());
    EXPECT_EQ(proposed, dir.path() + "/old.trc");
    EXPECT_EQ(dlg.edtTraceName->text(), dir.path() + "/new.trc");

    // Cancel leaves the field as it was; a missing folder is not the start.
    dlg.edtLogName->setText(dir.path() + "/missing/x.log");
    found = false;
    WhenModal<QFileDialog>(
        [&](QFileDialog* chooser) {
            startedIn = chooser->directory().absolutePath();
            chooser->reject();
        },
        &found);
    dlg.btnLogName->click();
    ASSERT_TRUE(found);
    EXPECT_NE(startedIn, dir.path() + "/missing");
    EXPECT_EQ(dlg.edtLogName->text(), dir.path() + "/missing/x.log");
}

TEST_F(ComConfigDialogTest, ExecuteRunsModallyAndWritesBackOnOK) {
    Customise(port);
    const TSettings before = Read(port);

    // Cancel: nothing written, whatever was changed.
    bool found = false;
    WhenModal<TdlgComConfig>(
        [&](TdlgComConfig* shown) {
            EXPECT_EQ(shown, &dlg);
            EXPECT_EQ(shown->cmbBaud->currentText(), "1200");
            shown->cmbBaud->setCurrentText("9600");
            shown->edtTimeout->setText("1");
            shown->chkYield->setChecked(true);
            shown->btnCancel->click();
        },
        &found);
    EXPECT_FALSE(dlg.Execute(port));
    ASSERT_TRUE(found);
    EXPECT_EQ(Read(port), before);

    // OK, with the mask set before: the tabs follow it.
    dlg.SetOptionMask(15);
    found = false;
    WhenModal<TdlgComConfig>(
        [&](TdlgComConfig* shown) {
            EXPECT_TRUE(shown->pgcPages->isTabVisible(2));
            shown->cmbBaud->setCurrentText("57600");
            shown->edtTimeout->setText("1");
            shown->btnOK->click();
        },
        &found);
    EXPECT_TRUE(dlg.Execute(port));
    ASSERT_TRUE(found);
    TSettings expected = before;
    expected.Baud = 57600;
    expected.Timeout = 1;
    EXPECT_EQ(Read(port), expected);
}

TEST(ComConfigConfigure, ReturnsTheCloseAndPassesFailuresOn) {
    TComPortPlus port;
    const TSettings before = Read(port);
    bool found = false;
    std::uint32_t shownMask = 0;
    bool advancedShown = true;
    WhenModal<TdlgComConfig>(
        [&](TdlgComConfig* shown) {
            shownMask = shown->OptionMask();
            advancedShown = shown->pgcPages->isTabVisible(1);
            shown->reject();
        },
        &found);
    EXPECT_FALSE(port.Configure(9));
    ASSERT_TRUE(found);
    EXPECT_EQ(shownMask, 9u);
    EXPECT_FALSE(advancedShown);
    EXPECT_EQ(Read(port), before);

    found = false;
    WhenModal<TdlgComConfig>(
        [&](TdlgComConfig* shown) {
            shown->rgPort->Button(4)->setChecked(true);
            shown->btnOK->click();
        },
        &found);
    EXPECT_TRUE(port.Configure(3));
    ASSERT_TRUE(found);
    EXPECT_EQ(port.ComNumber(), 4);

    // The dialog is gone once Configure returns, even after a failure.
    found = false;
    WhenModal<TdlgComConfig>(
        [&](TdlgComConfig* shown) {
            shown->cmbData->setCurrentText("5");
            shown->edtOutSize->setText("lots");
            shown->btnOK->click();
        },
        &found);
    EXPECT_EQ(ConvertMessage([&] { port.Configure(15); }), "'lots' is not a valid integer value");
    ASSERT_TRUE(found);
    EXPECT_EQ(port.DataBits(), 5);
    EXPECT_EQ(port.OutSize(), before.OutSize);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_EQ(dynamic_cast<TdlgComConfig*>(w), nullptr);
}

struct ComConfigOpenPortTest : ::testing::Test {
    std::shared_ptr<TVirtualLine> com1 = TVirtualLine::Create("cfg-com1");
    std::shared_ptr<TVirtualLine> com2 = TVirtualLine::Create("cfg-com2");
    TComPortPlus port;
    TdlgComConfig dlg;

    void SetUp() override {
        SetDevicePathForCom(1, com1->DevicePath());
        SetDevicePathForCom(2, com2->DevicePath());
        port.SetAutoOpen(false);
        port.SetComNumber(1);
        port.SetOpen(true);
    }
    void TearDown() override {
        port.SetOpen(false);
        ClearDevicePaths();
    }
};

TEST_F(ComConfigOpenPortTest, ChangedComNumberReopensThePort) {
    ASSERT_TRUE(com1->IsOpen());
    dlg.Fill(port);
    EXPECT_EQ(dlg.rgPort->ItemIndex(), 1);
    dlg.cmbBaud->setCurrentText("19200");
    dlg.rgPort->Button(2)->setChecked(true);
    dlg.cmbParity->setCurrentText("Even");
    dlg.WriteBack(port);

    EXPECT_TRUE(port.Open());
    EXPECT_EQ(port.ComNumber(), 2);
    EXPECT_FALSE(com1->IsOpen());
    EXPECT_TRUE(com2->IsOpen());
    // The baud rate, written before the port moved, went with it; parity,
    // written after, reached the new line at once.
    EXPECT_EQ(com2->Settings().Baud, 19200);
    EXPECT_EQ(com2->Settings().Parity, pEven);
}

TEST_F(ComConfigDialogTest, PicturesOfTheThreeTabs) {
    Customise(port);
    dlg.Fill(port);
    dlg.ApplyOptions(15);
    dlg.show();
    const QString dir = ArtefactDir();
    const char* names[] = {"com_config_standard.png", "com_config_advanced.png",
                           "com_config_logging.png"};
    for (int i = 0; i < 3; ++i) {
        dlg.pgcPages->setCurrentIndex(i);
        const QPixmap picture = dlg.grab();
        EXPECT_EQ(picture.size() / picture.devicePixelRatio(), QSize(369, 205));
        EXPECT_TRUE(picture.save(dir + "/" + names[i])) << names[i];
    }
    // The line settings disabled, for the grey look.
    dlg.ApplyOptions(1);
    dlg.pgcPages->setCurrentIndex(0);
    EXPECT_TRUE(dlg.grab().save(dir + "/com_config_standard_mask1.png"));
}

} // namespace
} // namespace volmar
