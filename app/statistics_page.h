// TStatisticsPage: what went right and wrong on the line, one row per
// counter with its count and when it last moved, since when they count and
// whether the machine has fallen silent. Records can come thousands a
// second, so the grid reads the counters on a timer while it is in view.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace volmar {

class TLineWatch;
class TStatisticsModel;

class TStatisticsPage : public QWidget {
    Q_OBJECT
public:
    TStatisticsPage(TLineWatch& Watch, QWidget* Parent);
    ~TStatisticsPage() override;

    // Reads the counters now.
    void Refresh();
    // Since: "hh:mm:ss" of the machine's last byte; empty: it speaks again.
    void ShowMachineSilent(const QString& Since);

    QLabel* lblSince;
    QLabel* lblSilent;
    QPushButton* btnClear;
    QTableView* grdStatistics;

protected:
    void showEvent(QShowEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;

private:
    TLineWatch& FWatch;
    std::unique_ptr<TStatisticsModel> FModel;
    QTimer FRefresh;
};

} // namespace volmar
