// The Statistics page, the silent machine in the status bar, and the File
// menu's Capture and Export commands.
#include <QApplication>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTimer>

#include <fstream>

#include "app/capture_dialog.h"
#include "app/statistics_page.h"
#include "app/window_fixture.h"
#include "lab/line_watch.h"
#include "lab/verdict.h"

namespace volmar::testing {
namespace {

class StatisticsAndCaptureTest : public WindowTest {
protected:
    std::string Cell(TStatKind Row, int Column) const {
        const QAbstractItemModel* model = window->StatisticsPage->grdStatistics->model();
        return model->index(Row, Column).data().toString().toStdString();
    }

    // Exports through the File menu, giving File as the name.
    void SaveAs(const fs::path& File) {
        EXPECT_TRUE(WhileModal<QFileDialog>(window->mnuExport, [&](QFileDialog& d) {
            d.selectFile(QString::fromStdString(File.string()));
            static_cast<QDialog&>(d).accept();
        }));
    }
};

const QRegularExpression kClockTime(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"));

TEST_F(StatisticsAndCaptureTest, ThePageShowsMovedCountersWhileInViewAndClearZeroesThem) {
    TfrmVolmar& w = StartOnCom1();
    w.show();
    w.pgctrlPages->setCurrentWidget(w.StatisticsPage);
    EXPECT_EQ(w.pgctrlPages->tabText(3).toStdString(), "Statistics");
    ASSERT_EQ(Exchange(0x26), 0x06);
    ASSERT_EQ(Exchange(0x26), 0x06);
    EXPECT_TRUE(PumpUntil([&] { return Cell(stFrames, 1) == "2"; })) << Cell(stFrames, 1);
    EXPECT_EQ(Cell(stFrames, 0), "Frames received");
    EXPECT_EQ(Cell(stAck, 1), "2");
    EXPECT_TRUE(kClockTime.match(QString::fromStdString(Cell(stAck, 2))).hasMatch())
        << Cell(stAck, 2);
    EXPECT_EQ(Cell(stBadChecksum, 1), "0");
    EXPECT_EQ(Cell(stBadChecksum, 2), "") << "never moved";

    w.StatisticsPage->btnClear->click();
    EXPECT_EQ(w.Lab().Watch()->Statistics()[stFrames].Count, 0u);
    EXPECT_EQ(Cell(stFrames, 1), "0");
    EXPECT_EQ(Cell(stAck, 2), "");
    const QRegularExpression since(
        QStringLiteral("^Counting since \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
    EXPECT_TRUE(since.match(w.StatisticsPage->lblSince->text()).hasMatch())
        << w.StatisticsPage->lblSince->text().toStdString();
}

TEST_F(StatisticsAndCaptureTest, TheVerdictPartShowsEachRuleAndClearStartsItAfresh) {
    TfrmVolmar& w = StartOnCom1();
    w.show();
    w.pgctrlPages->setCurrentWidget(w.StatisticsPage);
    ASSERT_EQ(Exchange(0x26), 0x06);
    ASSERT_EQ(Exchange(0xA6), 0x06) << "an acknowledged message resent";
    QTableWidget* grid = w.StatisticsPage->grdVerdict;
    ASSERT_NE(grid, nullptr);
    const auto cell = [grid](TRule Rule, int Column) {
        return grid->item(Rule, Column)->text().toStdString();
    };
    EXPECT_TRUE(PumpUntil([&] { return cell(ruNoRepeatAfterAck, 1) == "fail"; }))
        << cell(ruNoRepeatAfterAck, 1);
    EXPECT_EQ(cell(ruNoRepeatAfterAck, 0), "3. No resend after an ACK");
    EXPECT_EQ(cell(ruNoRepeatAfterAck, 3), "1");
    EXPECT_EQ(cell(ruNoRepeatAfterAck, 4).rfind("resent an acknowledged message", 0), 0u)
        << cell(ruNoRepeatAfterAck, 4);
    EXPECT_EQ(cell(ruResendAfterNak, 1), "not yet seen");
    w.StatisticsPage->btnClear->click();
    EXPECT_EQ(cell(ruNoRepeatAfterAck, 1), "not yet seen");
}

TEST_F(StatisticsAndCaptureTest, ASilentMachineIsShownUntilItSpeaksAgain) {
    TfrmVolmar& w = StartOnCom1();
    ASSERT_GT(w.Lab().Watch()->SilenceLimit(), 0);
    clock.Advance(static_cast<std::uint32_t>(w.Lab().Watch()->SilenceLimit()) * 1000 + 1000);
    ASSERT_TRUE(PumpUntil([&] { return !w.lblSilent->isHidden(); }));
    const std::string shown =
        "Machine silent since " + w.Lab().Watch()->SilentSince().toStdString();
    EXPECT_TRUE(kClockTime.match(w.Lab().Watch()->SilentSince()).hasMatch());
    EXPECT_EQ(w.lblSilent->text().toStdString(), shown);
    EXPECT_EQ(w.StatisticsPage->lblSilent->text().toStdString(), shown);

    Send({0x26, 0x26});
    EXPECT_TRUE(PumpUntil([&] { return w.lblSilent->isHidden(); }));
    EXPECT_EQ(w.lblSilent->text().toStdString(), "");
    EXPECT_TRUE(w.StatisticsPage->lblSilent->isHidden());
}

TEST_F(StatisticsAndCaptureTest, TheCaptureDialogShowsTheEnginesChoiceAndOkAppliesItsOwn) {
    TfrmVolmar& w = Start();
    const QString file = QString::fromStdString((dir / "line.jsonl").string());
    ASSERT_TRUE(WhileModal<TdlgCapture>(w.mnuCapture, [&](TdlgCapture& d) {
        EXPECT_EQ(d.lblInUse->text(), QStringLiteral("Capturing to ") + w.Lab().Capture()->Path());
        EXPECT_EQ(d.chkCapture->isChecked(), w.Lab().Capture()->Settings().On);
        EXPECT_EQ(d.spnLimit->value(), 64);
        EXPECT_EQ(d.spnKeep->value(), 10);
        EXPECT_EQ(d.spnSilence->value(), w.Lab().Watch()->SilenceLimit());
        d.cmbxFormat->setCurrentText(QStringLiteral("JSON Lines"));
        d.edtPath->setText(file);
        d.spnLimit->setValue(2);
        d.spnKeep->setValue(3);
        d.spnSilence->setValue(0);
        d.accept();
    }));
    const TCaptureSettings& s = w.Lab().Capture()->Settings();
    EXPECT_TRUE(s.On);
    EXPECT_EQ(s.Format, TCaptureFormat::JsonLines);
    EXPECT_EQ(s.Path, file);
    EXPECT_EQ(s.LimitBytes, 2 * 1024 * 1024);
    EXPECT_EQ(s.Keep, 3);
    EXPECT_EQ(w.Lab().Watch()->SilenceLimit(), 0);
    EXPECT_EQ(w.Lab().Capture()->Path(), file);

    ASSERT_TRUE(WhileModal<TdlgCapture>(w.mnuCapture, [&](TdlgCapture& d) {
        EXPECT_EQ(d.lblInUse->text(), QStringLiteral("Capturing to ") + file);
        EXPECT_EQ(d.cmbxFormat->currentText().toStdString(), "JSON Lines");
        EXPECT_EQ(d.edtPath->text(), file);
        EXPECT_EQ(d.spnLimit->value(), 2);
        EXPECT_EQ(d.spnKeep->value(), 3);
        EXPECT_EQ(d.spnSilence->value(), 0);
        d.chkCapture->setChecked(false);
        d.accept();
    }));
    EXPECT_FALSE(w.Lab().Capture()->Settings().On);
    EXPECT_EQ(w.Lab().Capture()->Path(), QString());
    ASSERT_TRUE(WhileModal<TdlgCapture>(w.mnuCapture, [&](TdlgCapture& d) {
        EXPECT_EQ(d.lblInUse->text().toStdString(), "Capture is off");
        d.reject();
    }));
}

TEST_F(StatisticsAndCaptureTest, ExportWritesTheThreeFilesNamedAfterTheChosenOne) {
    TfrmVolmar& w = Start();
    w.Monitor().Counters().In = 1234;
    SaveAs(dir / "report.json");
    for (const char* name : {"report.csv", "report.json", "report-events.csv"}) {
        EXPECT_TRUE(fs::exists(dir / name)) << name;
        const QString path = QString::fromStdString((dir / name).string());
        EXPECT_TRUE(w.statusBar()->currentMessage().contains(path))
            << w.statusBar()->currentMessage().toStdString();
    }
    const QJsonDocument report =
        QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile("report.json")));
    EXPECT_EQ(report[QStringLiteral("totals")][QStringLiteral("in")].toInt(), 1234);
    EXPECT_TRUE(errors.empty());
}

TEST_F(StatisticsAndCaptureTest, AnExportOverFilesThereNamesEachAndTheBarShowsThemWhole) {
    TfrmVolmar& w = Start();
    std::ofstream(dir / "report.json") << "old";
    std::ofstream(dir / "report-events.csv") << "old";
    answerYes = false;
    SaveAs(dir / "report.csv");
    ASSERT_EQ(questions.size(), 1u);
    for (const char* name : {"report.json", "report-events.csv"})
        EXPECT_NE(questions[0].find((dir / name).string()), std::string::npos) << questions[0];
    EXPECT_EQ(questions[0].find((dir / "report.csv").string()), std::string::npos)
        << "not there, so not asked about";
    EXPECT_EQ(ReadFile("report.json"), "old") << "No replaces nothing";
    EXPECT_FALSE(fs::exists(dir / "report.csv"));

    answerYes = true;
    SaveAs(dir / "report.csv");
    EXPECT_EQ(questions.size(), 2u);
    EXPECT_NE(ReadFile("report.json"), "old");
    // The bar cuts the message at the window's width; its tooltip has it whole.
    for (const char* name : {"report.csv", "report.json", "report-events.csv"})
        EXPECT_TRUE(w.statusBar()->toolTip().contains(QString::fromStdString((dir / name).string())))
            << w.statusBar()->toolTip().toStdString();
}

TEST_F(StatisticsAndCaptureTest, AnExportThatCannotBeWrittenGoesToTheErrorBox) {
    TfrmVolmar& w = Start();
    fs::create_directory(dir / "report.csv");
    SaveAs(dir / "report.json");
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_FALSE(fs::exists(dir / "report.json"));
    EXPECT_TRUE(w.statusBar()->currentMessage().isEmpty());
}

} // namespace
} // namespace volmar::testing
