#include "app/statistics_page.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

#include "app/log_grid.h"
#include "lab/judge.h"
#include "lab/line_watch.h"

namespace volmar {

namespace {

constexpr int kRefreshMs = 500;
constexpr int kCellPadding = 16;
enum { colName, colCount, colLast, colCountOfColumns };
enum { vcRule, vcStatus, vcJudged, vcBroken, vcFinding, vcCountOfColumns };

// The rule's figure, or its first example, in a line.
QString Finding(const TVerdict& Verdict, TRule Rule) {
    const TRuleState& s = Verdict[Rule];
    if (!s.Examples.empty()) {
        const TRuleExample& e = s.Examples.front();
        return QString::fromStdString(e.Found + (e.Frames.empty() ? "" : ": " + e.Frames) +
                                      "; expected " + e.Expected);
    }
    const auto ms = [](std::int64_t Us) { return QString::number(static_cast<double>(Us) / 1000, 'f', 1); };
    switch (Rule) {
    case ruResendAfterNak:
        if (Verdict.GaveUpAfter().Count)
            return QStringLiteral("gave up after %1 to %2 resends")
                .arg(Verdict.GaveUpAfter().Min)
                .arg(Verdict.GaveUpAfter().Max);
        break;
    case ruResendAfterSilence:
        if (const TVerdict::TSpread& w = Verdict.ResendWaitUs(); w.Count)
            return QStringLiteral("waited %1 to %2 ms, %3 on average")
                .arg(ms(w.Min), ms(w.Max), ms(w.Sum / static_cast<std::int64_t>(w.Count)));
        break;
    case ruWholeFrames:
        return QStringLiteral("largest gap inside a frame %1 ms (limit %2 ms)")
            .arg(ms(Verdict.LargestGapUs()), ms(TVerdict::GapLimitUs()));
    default: break;
    }
    return QString();
}

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

TStatisticsPage::TStatisticsPage(TLineWatch& Watch, TJudge* Judge, QWidget* Parent)
    : QWidget(Parent), FWatch(Watch), FJudge(Judge),
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

    if (FJudge) {
        lblVerdict = new QLabel(QStringLiteral("Verdict"), this);
        column->addWidget(lblVerdict);
        grdVerdict = new QTableWidget(ruCount, vcCountOfColumns, this);
        grdVerdict->setHorizontalHeaderLabels({QStringLiteral("Rule"), QStringLiteral("Verdict"),
                                               QStringLiteral("Judged"), QStringLiteral("Broken"),
                                               QStringLiteral("Figure or first example")});
        grdVerdict->verticalHeader()->hide();
        grdVerdict->setEditTriggers(QAbstractItemView::NoEditTriggers);
        grdVerdict->horizontalHeader()->setStretchLastSection(true);
        for (int r = 0; r < ruCount; ++r)
            for (int c = 0; c < vcCountOfColumns; ++c)
                grdVerdict->setItem(r, c, new QTableWidgetItem);
        column->addWidget(grdVerdict);
    }

    FRefresh.setInterval(kRefreshMs);
    connect(&FRefresh, &QTimer::timeout, this, &TStatisticsPage::Refresh);
    connect(btnClear, &QPushButton::clicked, this, [this] {
        FWatch.Clear();
        if (FJudge) FJudge->Clear();
        Refresh();
    });
    Refresh();
}

TStatisticsPage::~TStatisticsPage() = default;

void TStatisticsPage::RefreshVerdict() {
    if (!FJudge) return;
    FJudge->CheckBooks();
    const TVerdict& v = FJudge->Verdict();
    for (int r = 0; r < ruCount; ++r) {
        const auto rule = static_cast<TRule>(r);
        const QStringList cells = {
            QStringLiteral("%1. %2").arg(r + 1).arg(QLatin1String(RuleNames[rule].Text)),
            QLatin1String(RuleStatusText(v.Status(rule))), QString::number(v[rule].Judged),
            QString::number(v[rule].Broken), Finding(v, rule)};
        for (int c = 0; c < vcCountOfColumns; ++c)
            if (grdVerdict->item(r, c)->text() != cells[c]) grdVerdict->item(r, c)->setText(cells[c]);
    }
    grdVerdict->resizeColumnsToContents();
}

void TStatisticsPage::Refresh() {
    FModel->Refresh();
    RefreshVerdict();
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
