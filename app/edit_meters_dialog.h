// TfrmEditMetersDlg: eight of the machine's totals in digit fields, for the
// operator to overwrite by hand.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include <array>
#include <cstdint>

namespace volmar {

class TfrmEditMetersDlg : public QDialog {
    Q_OBJECT
public:
    explicit TfrmEditMetersDlg(QWidget* Owner = nullptr);

    // Setting one writes the value into its field in decimal, its lowest
    // eight digits without a sign when it does not fit (as the meters show
    // it); reading one takes the field's text without the blanks around it
    // as a decimal number, 0 when it is none (empty, or blanks between
    // digits).
    std::int32_t TotalIn() const { return Read(mskedIn); }
    void SetTotalIn(std::int32_t Value) { Write(mskedIn, Value); }
    std::int32_t TotalOut() const { return Read(mskedOut); }
    void SetTotalOut(std::int32_t Value) { Write(mskedOut, Value); }
    std::int32_t TotalGames() const { return Read(mskedGames); }
    void SetTotalGames(std::int32_t Value) { Write(mskedGames, Value); }
    std::int32_t TotalStakes() const { return Read(mskedStakes); }
    void SetTotalStakes(std::int32_t Value) { Write(mskedStakes, Value); }
    std::int32_t TotalCashbox() const { return Read(mskedCashbox); }
    void SetTotalCashbox(std::int32_t Value) { Write(mskedCashbox, Value); }
    std::int32_t TotalRefills() const { return Read(mskedRefills); }
    void SetTotalRefills(std::int32_t Value) { Write(mskedRefills, Value); }
    std::int32_t TotalDumps() const { return Read(mskedDumps); }
    void SetTotalDumps(std::int32_t Value) { Write(mskedDumps, Value); }
    std::int32_t TotalWins() const { return Read(mskedWins); }
    void SetTotalWins(std::int32_t Value) { Write(mskedWins, Value); }

    QLineEdit* mskedIn;
    QLineEdit* mskedOut;
    QLineEdit* mskedGames;
    QLineEdit* mskedStakes;
    QLineEdit* mskedCashbox;
    QLineEdit* mskedRefills;
    QLineEdit* mskedDumps;
    QLineEdit* mskedWins;
    QPushButton* btnOK;
    QPushButton* btnCancel;

    // The operator changed the field since its total was set: only such a
    // field is taken over, so that a total the field cannot show whole, and
    // money counted while the dialog is open, are never written back.
    static bool Edited(const QLineEdit* Field);

private:
    static std::int32_t Read(const QLineEdit* Field);
    static void Write(QLineEdit* Field, std::int32_t Value);
};

} // namespace volmar
