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

QLineEdit* Field(QDialog* Parent, const char* Caption, int Column, int Row) {
    auto* label = new QLabel(QString::fromLatin1(Caption), Parent);
    label->move(Column == 0 ? 22 : 182, 20 + Row * 32);
    label->adjustSize();
    auto* field = new QLineEdit(Parent);
    field->setInputMask(kMask);
    // The design's place, unless a wider font would make the label touch it.
    const int left = std::max(Column == 0 ? 78 : 238, label->geometry().right() + 6);
    field->setGeometry(left, 16 + Row * 32, 65, 23);
    label->setBuddy(field);
    return field;
}

} // namespace

TfrmEditMetersDlg::TfrmEditMetersDlg(QWidget* Owner) : QDialog(Owner) {
    setWindowTitle(QStringLiteral("Edit Meters"));
    setFixedSize(321, 173);
    // The labels have 56 pixels before their fields.
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);
    mskedIn = Field(this, "Cash In:", 0, 0);
    mskedOut = Field(this, "Cash Out:", 0, 1);
    mskedGames = Field(this, "Games:", 0, 2);
    mskedStakes = Field(this, "Stakes", 0, 3);
    mskedCashbox = Field(this, "Cashbox:", 1, 0);
    mskedRefills = Field(this, "Refills:", 1, 1);
    mskedDumps = Field(this, "Dumps:", 1, 2);
    mskedWins = Field(this, "Wins", 1, 3);

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
