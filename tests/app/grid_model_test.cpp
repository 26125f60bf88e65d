// The log grids' model tells its views after the message is answered, and
// what it tells adds up to the grid, however many changes it gathered.
#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <gtest/gtest.h>

#include "app/grid_model.h"
#include "interpret/logs.h"
#include "support/qt_pump.h"

namespace volmar::testing {
namespace {

QStringList* gWarnings = nullptr;

void KeepWarning(QtMsgType Type, const QMessageLogContext&, const QString& Text) {
    if (gWarnings && Type != QtDebugMsg && Type != QtInfoMsg) gWarnings->append(Text);
}

void ExpectMirrors(const TGridModel& Model, const TStringGrid& Grid) {
    const int titleRows = Model.HasTitleHeader() ? 1 : 0;
    ASSERT_EQ(Model.rowCount(), Grid.RowCount() - titleRows);
    for (int row = 0; row < Model.rowCount(); ++row)
        for (int col = 0; col < Grid.ColCount(); ++col)
            ASSERT_EQ(Model.index(row, col).data().toString().toStdString(),
                      Grid.Cell(col, row + titleRows))
                << "row " << row << " col " << col;
}

TEST(GridModelTest, GatheredChangesAreToldInOrderAndAddUpToTheGrid) {
    TLogs logs({[] { return 1234u; }, [] { return std::string("12:00:00"); }});
    logs.InitLogGrids(TCounters{});
    TGridModel model(logs.Events);
    QStringList warnings;
    gWarnings = &warnings;
    const QtMessageHandler previous = qInstallMessageHandler(KeepWarning);
    {
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::Warning);
        // More entries than the log keeps: the first makes the titles a
        // header, the later ones drop the oldest.
        for (int i = 0; i < 150; ++i) logs.LogLineError(static_cast<std::uint16_t>(100 + i));
        EXPECT_EQ(model.rowCount(), 1) << "told while the message was being answered";
        ASSERT_TRUE(PumpUntil([&] { return model.rowCount() == kEventLogLimit - 1; }));
        ExpectMirrors(model, logs.Events);

        // Entries and a cut back to the titles, gathered into one telling.
        logs.LogNote("before the cut");
        logs.CutEventLog();
        logs.LogNote("after the cut");
        model.Flush();
        ExpectMirrors(model, logs.Events);
    }
    qInstallMessageHandler(previous);
    gWarnings = nullptr;
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

} // namespace
} // namespace volmar::testing
