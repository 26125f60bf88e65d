// Shows one of the program's log grids in a Qt view: the grid stays the
// owner of the texts, the model follows its changes.
#pragma once

#include <QAbstractTableModel>

#include "interpret/string_grid.h"

namespace volmar {

class TGridModel : public QAbstractTableModel, public IGridObserver {
    Q_OBJECT
public:
    explicit TGridModel(TStringGrid& Grid, QObject* Parent = nullptr);
    ~TGridModel() override;

    int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& Index, int Role) const override;

    void RowsInserted(int First, int Last) override;
    void RowsRemoved(int First, int Last) override;
    void CellChanged(int Col, int Row) override;
    void FixedRowsChanged(int FixedRows) override;

private:
    TStringGrid& FGrid;
    // The grid changes before it reports; the model counts its rows itself
    // so that the views see the change between begin and end.
    int FRowCount;
};

} // namespace volmar
