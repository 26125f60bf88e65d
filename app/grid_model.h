// Shows one of the program's log grids in a Qt view: the grid stays the
// owner of the texts, the model follows its changes. While the grid has a
// fixed row, its row 0 is the model's horizontal header (so the titles stay
// in place while the rows scroll) and model row r is grid row r + 1;
// without one, row 0 is an ordinary row.
//
// The grid changes while a message is being answered; the model tells its
// views afterwards (at most every kFollowMs while messages stream in), so
// that laying out the table never holds up an answer.
#pragma once

#include <QAbstractTableModel>
#include <QRect>

#include <vector>

#include "interpret/string_grid.h"
#include "widgets/paced_call.h"

namespace volmar {

class TGridModel : public QAbstractTableModel, public IGridObserver {
    Q_OBJECT
public:
    explicit TGridModel(TStringGrid& Grid, QObject* Parent = nullptr);
    ~TGridModel() override;

    static constexpr int kFollowMs = 20;

    bool HasTitleHeader() const { return FTitleRows > 0; }
    // Tells the views every change so far.
    void Flush();

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
    struct TRowChange {
        bool Inserted;
        int First;
        int Last;
    };
    void AddRowChange(TRowChange Change);

    TStringGrid& FGrid;
    // The grid changes before it reports; the model keeps its own counts
    // so that the views see each change between begin and end, in order.
    int FRowCount;
    int FTitleRows;
    std::vector<TRowChange> FRowChanges;
    // Cells changed since the last flush, in grid rows once the row changes
    // before them are told; all of them when a row change came after.
    QRect FChangedCells;
    bool FAllChanged = false;
    bool FTitlesChanged = false;
    TPacedCall FFlushSoon{kFollowMs, [this] { Flush(); }};
};

} // namespace volmar
