// Shows one of the program's log grids in a Qt view: the grid stays the
// owner of the texts, the model follows its changes. While the grid has a
// fixed row, its row 0 is the model's horizontal header (so the titles stay
// in place while the rows scroll) and model row r is grid row r + 1;
// without one, row 0 is an ordinary row.
#pragma once

#include <QAbstractTableModel>

#include "interpret/string_grid.h"

namespace volmar {

class TGridModel : public QAbstractTableModel, public IGridObserver {
    Q_OBJECT
public:
    explicit TGridModel(TStringGrid& Grid, QObject* Parent = nullptr);
    ~TGridModel() override;

    bool HasTitleHeader() const { return FTitleRows > 0; }

    int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& Index, int Role) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;

    void RowsInserted(int First, int Last) override;
    void RowsRemoved(int First, int Last) override;
    void CellChanged(int Col, int Row) override;
    void FixedRowsChanged(int FixedRows) override;

signals:
    void TitleHeaderChanged(bool Shown);

private:
    QVariant TitleData(int Col, int Role) const;

    TStringGrid& FGrid;
    // The grid changes before it reports; the model keeps its own counts
    // so that the views see the change between begin and end.
    int FRowCount;
    int FTitleRows;
};

} // namespace volmar
