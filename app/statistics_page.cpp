#include "app/statistics_page.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

#include "app/log_grid.h"
#include "lab/line_watch.h"

namespace volmar {

namespace {

constexpr int kRefreshMs = 500;
constexpr int kCellPadding = 16;
enum { colName, colCount, colLast, colCountOfColumns };

QString LocalTime(std::int64_t WallUs, const QString& Format) {
    return QDateTime::fromMSecsSinceEpoch(WallUs / 1000).toString(Format);
}

} // namespace

// The counters as the grid last read them; a refresh tells the view only
// of the rows that moved.
class TStatisticsModel : public QAbstractTableModel {
public:
    explicit TStatisticsModel(const TStatistics& Statistics) : FStatistics(Statistics) {}

    int rowCount(const QModelIndex& Parent) const override {
        return Parent.isValid() ? 0 : stKindCount;
    }
    int columnCount(const QModelIndex& Parent) const override {
        return Parent.isValid() ? 0 : colCountOfColumns;
    }

    QVariant data(const QModelIndex& Index, int Role) const override {
        if (!Index.isValid()) return {};
        const auto row = static_cast<std::size_t>(Index.row());
        if (Role == Qt::TextAlignmentRole && Index.column() == colCount)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        if (Role != Qt::DisplayRole) return {};
        const TStatistics::TEntry& e = FShown[row];
        switch (Index.column()) {
        case colName: return QString::fromLatin1(StatNames[row].Text);
        case colCount: return QString::number(e.Count);
        default:
            return e.LastWallUs ? LocalTime(e.LastWallUs, QStringLiteral("hh:mm:ss")) : QString();
        }
    }

    QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override {
        if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole) return {};
        static const std::array<QString, colCountOfColumns> titles = {
            QStringLiteral("Counter"), QStringLiteral("Count"), QStringLiteral("Last moved")};
        return titles.at(static_cast<std::size_t>(Section));
    }

    void Refresh() {
        for (int k = 0; k < stKindCount; ++k) {
            const TStatistics::TEntry& now = FStatistics[static_cast<TStatKind>(k)];
            TStatistics::TEntry& shown = FShown[static_cast<std::size_t>(k)];
            if (now.Count == shown.Count && now.LastWallUs == shown.LastWallUs) continue;
            shown = now;
            emit dataChanged(index(k, colCount), index(k, colLast));
        }
    }

private:
    const TStatistics& FStatistics;
    std::array<TStatistics::TEntry, stKindCount> FShown{};
};

TStatisticsPage::TStatisticsPage(TLineWatch& Watch, QWidget* Parent)
    : QWidget(Parent), FWatch(Watch),
      FModel(std::make_unique<TStatisticsModel>(Watch.Statistics())) {
    auto* column = new QVBoxLayout(this);
    // One line for both, so that the grid does not jump as the machine
    // falls silent and speaks again.
    auto* top = new QHBoxLayout;
    lblSince = new QLabel(this);
    top->addWidget(lblSince);
    top->addSpacing(24);
    lblSilent = new QLabel(this);
    lblSilent->setStyleSheet(QStringLiteral("color: #b00000;"));
    lblSilent->hide();
    top->addWidget(lblSilent);
    top->addStretch(1);
    btnClear = new QPushButton(QStringLiteral("Clear"), this);
    btnClear->setToolTip(QStringLiteral("Set every counter back to zero"));
    top->addWidget(btnClear);
    column->addLayout(top);

    // Wide enough for the longest name and time in the font in use.
    const QFontMetrics metrics = fontMetrics();
    int nameWidth = metrics.horizontalAdvance(QStringLiteral("Counter"));
    for (const TStatName& name : StatNames)
        nameWidth = std::max(nameWidth, metrics.horizontalAdvance(QString::fromLatin1(name.Text)));
    const std::array<int, colCountOfColumns> widths = {
        nameWidth + kCellPadding,
        metrics.horizontalAdvance(QStringLiteral("0000000000")) + kCellPadding,
        metrics.horizontalAdvance(QStringLiteral("Last moved")) + kCellPadding};
    grdStatistics = LogGrid(this, widths, true);
    grdStatistics->setModel(FModel.get());
    grdStatistics->horizontalHeader()->show();
    grdStatistics->horizontalHeader()->setStretchLastSection(true);
    for (int col = 0; col < colCountOfColumns; ++col)
        grdStatistics->setColumnWidth(col, widths[static_cast<std::size_t>(col)]);
    column->addWidget(grdStatistics, 1);

    FRefresh.setInterval(kRefreshMs);
    connect(&FRefresh, &QTimer::timeout, this, &TStatisticsPage::Refresh);
    connect(btnClear, &QPushButton::clicked, this, [this] {
        FWatch.Clear();
        Refresh();
    });
    Refresh();
}

TStatisticsPage::~TStatisticsPage() = default;

void TStatisticsPage::Refresh() {
    FModel->Refresh();
    const std::int64_t since = FWatch.Statistics().SinceWallUs();
    lblSince->setText(since ? QStringLiteral("Counting since ") +
                                  LocalTime(since, QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                            : QString());
    lblSince->setVisible(since != 0);
}

void TStatisticsPage::ShowMachineSilent(const QString& Since) {
    lblSilent->setText(Since.isEmpty() ? QString()
                                       : QStringLiteral("Machine silent since ") + Since);
    lblSilent->setVisible(!Since.isEmpty());
}

void TStatisticsPage::showEvent(QShowEvent* Event) {
    QWidget::showEvent(Event);
    Refresh();
    FRefresh.start();
}

void TStatisticsPage::hideEvent(QHideEvent* Event) {
    QWidget::hideEvent(Event);
    FRefresh.stop();
}

} // namespace volmar
