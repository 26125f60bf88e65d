#include "app/log_grid.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>
#include <functional>
#include <memory>

#include "app/grid_model.h"
#include "interpret/logs.h"

namespace volmar {

namespace {

const char kWidthsProperty[] = "designedWidths";

bool AtBottom(const QTableView* Grid) {
    const QScrollBar* bar = Grid->verticalScrollBar();
    return bar->value() >= bar->maximum();
}

// Calls Changed with true each time the widget it filters is shown, with
// false each time it is hidden.
class TVisibilityWatch : public QObject {
public:
    TVisibilityWatch(QObject* Parent, std::function<void(bool)> Changed)
        : QObject(Parent), FChanged(std::move(Changed)) {}
    bool eventFilter(QObject*, QEvent* Event) override {
        if (Event->type() == QEvent::Show || Event->type() == QEvent::Hide)
            FChanged(Event->type() == QEvent::Show);
        return false;
    }

private:
    std::function<void(bool)> FChanged;
};

// A cell too narrow for its text shows all of it in a tooltip; a cell
// that shows its text whole has none.
class TWholeTextDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* Event, QAbstractItemView* View, const QStyleOptionViewItem& Option,
                   const QModelIndex& Index) override {
        if (!Event || !View || Event->type() != QEvent::ToolTip)
            return QStyledItemDelegate::helpEvent(Event, View, Option, Index);
        QStyleOptionViewItem cell = Option;
        initStyleOption(&cell, Index);
        const QRect room = View->style()->subElementRect(QStyle::SE_ItemViewItemText, &cell, View);
        if (cell.text.isEmpty() || cell.fontMetrics.horizontalAdvance(cell.text) <= room.width())
            QToolTip::hideText();
        else
            QToolTip::showText(Event->globalPos(), cell.text, View->viewport(), Option.rect);
        return true;
    }
};

} // namespace

std::vector<int> TitledWidths(std::span<const int> Widths,
                              std::span<const std::string_view> Titles,
                              const QFontMetrics& Metrics, int Padding) {
    std::vector<int> widths(Widths.begin(), Widths.end());
    for (std::size_t col = 0; col < widths.size() && col < Titles.size(); ++col) {
        if (widths[col] <= 0) continue;
        const QString title = QString::fromLatin1(Titles[col].data(),
                                                  static_cast<qsizetype>(Titles[col].size()));
        widths[col] = std::max(widths[col], Metrics.horizontalAdvance(title) + Padding);
    }
    return widths;
}

QTableView* LogGrid(QWidget* Parent, std::span<const int> Widths, bool GridLines) {
    auto* grid = new QTableView(Parent);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView* titles = grid->horizontalHeader();
    titles->setSectionsMovable(true);
    titles->setSectionResizeMode(QHeaderView::Interactive);
    // A title row, not a column selector.
    titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    titles->setHighlightSections(false);
    titles->setSectionsClickable(false);
    titles->hide();
    grid->setShowGrid(GridLines);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setWordWrap(false);
    // Tab leaves the grid for the next control; the arrows move in it.
    grid->setTabKeyNavigation(false);
    grid->setItemDelegate(new TWholeTextDelegate(grid));
    grid->setProperty(kWidthsProperty,
                      QVariant::fromValue(QList<int>(Widths.begin(), Widths.end())));
    return grid;
}

void ShowGridModel(QTableView* Grid, TGridModel* Model) {
    Grid->setModel(Model);
    QHeaderView* titles = Grid->horizontalHeader();
    titles->setVisible(Model->HasTitleHeader());
    QObject::connect(Model, &TGridModel::TitleHeaderChanged, titles, &QWidget::setVisible);
    const QList<int> widths = Grid->property(kWidthsProperty).value<QList<int>>();
    for (int col = 0; col < widths.size(); ++col)
        if (widths[col] > 0) Grid->setColumnWidth(col, widths[col]);
}

void FollowNewestRows(QTableView* Grid) {
    QAbstractItemModel* model = Grid->model();
    QScrollBar* bar = Grid->verticalScrollBar();
    // Decided before each change: the change itself moves the bar's range.
    auto follow = std::make_shared<bool>(true);
    auto droppedAbove = std::make_shared<int>(0);
    // A hidden grid's bar does not move, so it keeps the choice made last
    // while it was seen.
    QObject::connect(model, &QAbstractItemModel::rowsAboutToBeInserted, Grid, [Grid, follow] {
        if (Grid->isVisible()) *follow = AtBottom(Grid);
    });
    // A hidden grid catches up when shown: scrolling a view asks the
    // display where the mouse is, and that round trip would hold up answers.
    QObject::connect(model, &QAbstractItemModel::rowsInserted, Grid, [Grid, follow] {
        if (*follow && Grid->isVisible()) Grid->scrollToBottom();
    });
    Grid->installEventFilter(new TVisibilityWatch(Grid, [Grid, follow](bool Shown) {
        if (!Shown)
            *follow = AtBottom(Grid);
        else if (*follow)
            Grid->scrollToBottom();
    }));
    QObject::connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, Grid,
                     [Grid, follow, droppedAbove](const QModelIndex&, int First, int Last) {
                         *droppedAbove = 0;
                         if (Grid->isVisible() ? AtBottom(Grid) : *follow) return;
                         const int top = Grid->rowAt(0);
                         if (top > First) *droppedAbove = std::min(Last, top - 1) - First + 1;
                     });
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, Grid, [Grid, bar, droppedAbove] {
        if (*droppedAbove == 0) return;
        const int step = Grid->verticalScrollMode() == QAbstractItemView::ScrollPerItem
                             ? 1
                             : Grid->verticalHeader()->defaultSectionSize();
        bar->setValue(bar->value() - *droppedAbove * step);
        *droppedAbove = 0;
    });
}

} // namespace volmar
