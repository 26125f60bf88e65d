// The log grids as table views: designed widths and row height, the grid's
// title row as a header that stays in place while it is a fixed row, and
// columns the operator can resize and move.
#pragma once

#include <QTableView>

#include <span>
#include <string_view>
#include <vector>

namespace volmar {

class TGridModel;

// The designed widths, each widened as far as its title needs in Metrics
// with Padding beside it: a font wider than the designed one would cut a
// title otherwise.
std::vector<int> TitledWidths(std::span<const int> Widths,
                              std::span<const std::string_view> Titles,
                              const QFontMetrics& Metrics, int Padding);

// Columns of width 0 are sized by the window.
QTableView* LogGrid(QWidget* Parent, std::span<const int> Widths, bool GridLines);

// Shows Model with the designed widths; the header comes and goes with the
// grid's fixed row.
void ShowGridModel(QTableView* Grid, TGridModel* Model);

// Keeps the newest row in view while the view sits at the bottom; an
// operator reading older rows keeps them where they are, also while the
// oldest rows are dropped.
void FollowNewestRows(QTableView* Grid);

} // namespace volmar
