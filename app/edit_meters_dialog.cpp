#include "app/edit_meters_dialog.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

#include <algorithm>

namespace volmar {

namespace {

// Eight optional digits; an empty place shows as a space.
const QString kMask = QStringLiteral("00000000; ");
// The text a field showed when its total was set.
constexpr char kShownProperty[] = "shownTotal";

struct TColumn {
    int LabelLeft;
    int FieldLeft;
};
constexpr TColumn kColumns[] = {{22, 78}, {182, 238}};

// The four label-and-field rows of a column. The fields keep the design's
// place unless a font wider than the designed one makes a label touch its
// field; then the whole column's fields move right together.
std::array<QLineEdit*, 4> Column(QDialog* Parent, const TColumn& Place,
                                 const std::array<const char*, 4>& Captions) {
    std::array<QLabel*, 4> labels{};
    int fieldLeft = Place.FieldLeft;
    for (std::size_t row = 0; row < labels.size(); ++row) {
        labels[row] = new QLabel(QString::fromLatin1(Captions[row]), Parent);
        labels[row]->move(Place.LabelLeft, 20 + static_cast<int>(row) * 32);
        labels[row]->adjustSize();
        fieldLeft = std::max(fieldLeft, labels[row]->geometry().right() + 6);
    }
    std::array<QLineEdit*, 4> fields{};
    for (std::size_t row = 0; row < fields.size(); ++row) {
        fields[row] = new QLineEdit(Parent);
        fields[row]->setInputMask(kMask);
        fields[row]->setGeometry(fieldLeft, 16 + static_cast<int>(row) * 32, 65, 23);
        labels[row]->setBuddy(fields[row]);
    }
    return fields;
}

} // namespace

TfrmEditMetersDlg::TfrmEditMetersDlg(QWidget* Owner) : QDialog(Owner) {
    setWindowTitle(QStringLiteral("Edit Meters"));
    setFixedSize(321, 173);
    // The labels have 56 pixels before their fields.
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);
    const auto left = Column(this, kColumns[0], {"Cash In:", "Cash Out:", "Games:", "Stakes"});
    mskedIn = left[0];
    mskedOut = left[1];
    mskedGames = left[2];
    mskedStakes = left[3];
    const auto right = Column(this, kColumns[1], {"Cashbox:", "Refills:", "Dumps:", "Wins"});
    mskedCashbox = right[0];
    mskedRefills = right[1];
    mskedDumps = right[2];
    mskedWins = right[3];

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setGeometry(150, 140, 75, 25);
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setGeometry(238, 140, 75, 25);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    QWidget* order[] = {mskedIn,      mskedOut,     mskedGames, mskedStakes, mskedCashbox,
                        mskedRefills, mskedDumps,   mskedWins,  btnOK,       btnCancel};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

std::int32_t TfrmEditMetersDlg::Read(const QLineEdit* Field) {
    // The shown text keeps the blanks between digits, so "12 34" is no number.
    bool ok = false;
    const std::int32_t value = Field->displayText().trimmed().toInt(&ok, 10);
    return ok ? value : 0;
}

void TfrmEditMetersDlg::Write(QLineEdit* Field, std::int32_t Value) {
    const std::int64_t magnitude = Value < 0 ? -static_cast<std::int64_t>(Value) : Value;
    Field->setText(QString::number(magnitude % 100000000));
    Field->setProperty(kShownProperty, Field->displayText());
}

bool TfrmEditMetersDlg::Edited(const QLineEdit* Field) {
    return Field->displayText() != Field->property(kShownProperty).toString();
}

} // namespace volmar
