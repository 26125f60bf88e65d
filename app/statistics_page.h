// TStatisticsPage: what went right and wrong on the line, one row per
// counter with its count and when it last moved, since when they count and
// whether the machine has fallen silent; below them the verdict on the
// machine, one row per rule. Records can come thousands a second, so the
// grids read the counters on a timer while they are in view.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace volmar {

class TJudge;
class TLineWatch;
class TStatisticsModel;

class TStatisticsPage : public QWidget {
    Q_OBJECT
public:
    // Without Judge (the machine is not judged) there is no verdict part.
    TStatisticsPage(TLineWatch& Watch, TJudge* Judge, QWidget* Parent);
    ~TStatisticsPage() override;

    // Reads the counters now.
    void Refresh();
    // Since: "hh:mm:ss" of the machine's last byte; empty: it speaks again.
    void ShowMachineSilent(const QString& Since);

    QLabel* lblSince;
    QLabel* lblSilent;
    QPushButton* btnClear;
    QTableView* grdStatistics;
    QLabel* lblVerdict = nullptr;
    QTableWidget* grdVerdict = nullptr;

protected:
    void showEvent(QShowEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;

private:
    void RefreshVerdict();

    TLineWatch& FWatch;
    TJudge* FJudge;
    std::unique_ptr<TStatisticsModel> FModel;
    QTimer FRefresh;
};

} // namespace volmar
