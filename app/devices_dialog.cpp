#include "app/devices_dialog.h"

#include <QCursor>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QVBoxLayout>

namespace volmar {

namespace {

constexpr int kRefreshMs = 1000;

QString Text(const std::string& S) { return QString::fromLocal8Bit(S.c_str()); }

QString UsbId(const TSerialDevice& Device) {
    if (!Device.VendorId || !Device.ProductId) return {};
    return QStringLiteral("%1:%2")
        .arg(*Device.VendorId, 4, 16, QLatin1Char('0'))
        .arg(*Device.ProductId, 4, 16, QLatin1Char('0'));
}

bool SameList(const std::vector<TSerialDevice>& A, const std::vector<TSerialDevice>& B) {
    return std::equal(A.begin(), A.end(), B.begin(), B.end(),
                      [](const TSerialDevice& X, const TSerialDevice& Y) {
                          return X.Path == Y.Path && X.Node == Y.Node &&
                                 X.Description == Y.Description;
                      });
}

} // namespace

TdlgDevices::TdlgDevices(QWidget* Owner, const std::array<std::string, kAssignablePorts>& Paths,
                         TLister List)
    : QDialog(Owner), FList(std::move(List)) {
    setWindowTitle(QStringLiteral("Devices"));
    auto* column = new QVBoxLayout(this);
    column->addWidget(new QLabel(QStringLiteral("Serial devices present:"), this));
    lstDevices = new QTableWidget(0, 5, this);
    lstDevices->setHorizontalHeaderLabels({QStringLiteral("Device"), QStringLiteral("Description"),
                                           QStringLiteral("Maker"), QStringLiteral("Serial No."),
                                           QStringLiteral("USB ID")});
    lstDevices->verticalHeader()->hide();
    lstDevices->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstDevices->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstDevices->horizontalHeader()->setStretchLastSection(true);
    lstDevices->setMinimumSize(620, 160);
    lstDevices->setToolTip(QStringLiteral("Double-click a device to use it for a COM port"));
    column->addWidget(lstDevices);

    auto* form = new QFormLayout;
    for (int i = 0; i < kAssignablePorts; ++i) {
        auto* combo = new QComboBox(this);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setEditText(Text(Paths[static_cast<std::size_t>(i)]));
        combo->setToolTip(QStringLiteral("A device from the list, or any path typed in"));
        form->addRow(QStringLiteral("COM%1:").arg(i + 1), combo);
        cmbxCom[static_cast<std::size_t>(i)] = combo;
    }
    column->addLayout(form);
    // A double click on a device offers the COM numbers to give it to.
    connect(lstDevices, &QTableWidget::cellDoubleClicked, this, [this](int Row) {
        QMenu menu(this);
        for (int com = 0; com < kAssignablePorts; ++com)
            connect(menu.addAction(QStringLiteral("Use for COM%1").arg(com + 1)), &QAction::triggered,
                    this, [this, Row, com] { Assign(Row, com); });
        menu.exec(QCursor::pos());
    });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);

    Refresh();
    FRefresh.setInterval(kRefreshMs);
    connect(&FRefresh, &QTimer::timeout, this, &TdlgDevices::Refresh);
    FRefresh.start();
}

void TdlgDevices::Refresh() {
    std::vector<TSerialDevice> present = FList();
    if (SameList(present, FShown) && lstDevices->rowCount() == static_cast<int>(present.size())) return;
    FShown = std::move(present);
    lstDevices->setRowCount(static_cast<int>(FShown.size()));
    for (int row = 0; row < lstDevices->rowCount(); ++row) {
        const TSerialDevice& d = FShown[static_cast<std::size_t>(row)];
        const QString cells[] = {Text(d.Path), Text(d.Description), Text(d.Manufacturer),
                                 Text(d.SerialNumber), UsbId(d)};
        for (int col = 0; col < 5; ++col) {
            auto* item = new QTableWidgetItem(cells[col]);
            if (col == 0 && d.Node != d.Path) item->setToolTip(Text(d.Node));
            lstDevices->setItem(row, col, item);
        }
    }
    lstDevices->resizeColumnsToContents();
    for (QComboBox* combo : cmbxCom) {
        const QString typed = combo->currentText();
        combo->clear();
        for (const TSerialDevice& d : FShown) combo->addItem(Text(d.Path));
        combo->setEditText(typed);
    }
}

void TdlgDevices::Assign(int Row, int ComIndex) {
    const QTableWidgetItem* item = lstDevices->item(Row, 0);
    if (item && ComIndex >= 0 && ComIndex < kAssignablePorts)
        cmbxCom[static_cast<std::size_t>(ComIndex)]->setEditText(item->text());
}

std::array<std::string, kAssignablePorts> TdlgDevices::Paths() const {
    std::array<std::string, kAssignablePorts> paths;
    for (std::size_t i = 0; i < paths.size(); ++i)
        paths[i] = cmbxCom[i]->currentText().trimmed().toLocal8Bit().toStdString();
    return paths;
}

} // namespace volmar
