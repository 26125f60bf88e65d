// TdlgComConfig: the dialog that shows every setting of a port on three
// tabs ("Standard", "Advanced", "Logging & Tracing") and writes them back
// through the port's setters when the operator confirms. Opened through
// TComPortPlus::Configure.
#pragma once

#include <QDialog>
#include <QGroupBox>
#include <QStringList>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QWidget;

namespace volmar {

class TComPortPlus;

// A text that should be a decimal integer is not: "'abc' is not a valid
// integer value". Thrown out of the write-back, hence out of Configure.
class EConvertError : public std::runtime_error {
  public:
    explicit EConvertError(const std::string& Text);
};

// Decimal integer with an optional sign, in the 32-bit signed range;
// anything else raises EConvertError carrying the text.
std::int32_t StrToInt(const QString& Text);

// A titled group of radio buttons laid out in columns, with at most one
// chosen; ItemIndex -1 means none.
class TRadioGroup : public QGroupBox {
  public:
    TRadioGroup(const QString& Title, const QStringList& Items, int Columns,
                QWidget* Parent = nullptr);
    int ItemIndex() const;
    // An index outside the items chooses none.
    void SetItemIndex(int Index);
    QRadioButton* Button(int Index) const { return FButtons.at(static_cast<std::size_t>(Index)); }
    int Count() const { return static_cast<int>(FButtons.size()); }

  private:
    QButtonGroup* FGroup;
    std::vector<QRadioButton*> FButtons;
};

// Bits of the option mask.
inline constexpr std::uint32_t kComConfigPort = 1u << 0;
inline constexpr std::uint32_t kComConfigLine = 1u << 1;
inline constexpr std::uint32_t kComConfigAdvanced = 1u << 2;
inline constexpr std::uint32_t kComConfigLogging = 1u << 3;

class TdlgComConfig : public QDialog {
  public:
    explicit TdlgComConfig(QWidget* Parent = nullptr);

    // The mask Execute applies; 3 (port and line settings) until set.
    std::uint32_t OptionMask() const { return FOptionMask; }
    void SetOptionMask(std::uint32_t Value) { FOptionMask = Value; }

    // Fill, apply the mask, run modally and, on OK, write back. True for
    // OK. A text that is not an integer raises EConvertError after the
    // properties before it have been written.
    bool Execute(TComPortPlus& Port);

    // The steps of Execute, usable without the modal loop.
    void Fill(const TComPortPlus& Port);
    void ApplyOptions(std::uint32_t Options);
    void WriteBack(TComPortPlus& Port) const;

    // The controls, named after their captions.
    QTabWidget* pgcPages;
    QWidget* tabStandard;
    QWidget* tabAdvanced;
    QWidget* tabLogging;
    QPushButton* btnOK;
    QPushButton* btnCancel;

    // Standard.
    TRadioGroup* rgPort;
    QLabel* lblBaud;
    QComboBox* cmbBaud;
    QLabel* lblParity;
    QComboBox* cmbParity;
    QLabel* lblData;
    QComboBox* cmbData;
    QLabel* lblStopBits;
    QComboBox* cmbStopBits;

    // Advanced.
    QComboBox* cmbTapiMode;
    QLineEdit* edtInSize;
    QLineEdit* edtOutSize;
    QLineEdit* edtTimeout;
    QLineEdit* edtRxTxDelay;
    QCheckBox* chkUseEventWord;
    QCheckBox* chkUseMSRShadow;
    QCheckBox* chkYield;

    // Logging and tracing.
    QLineEdit* edtTraceName;
    QPushButton* btnTraceName;
    QLineEdit* edtTraceSize;
    QCheckBox* chkTraceHex;
    QLineEdit* edtLogName;
    QPushButton* btnLogName;
    QLineEdit* edtLogSize;
    QCheckBox* chkLogHex;
    TRadioGroup* rgLogInfo;

  private:
    QWidget* BuildStandard();
    QWidget* BuildAdvanced();
    QWidget* BuildLogging();
    void ChooseFile(QLineEdit* Field);
    static void SetListEnabled(QComboBox* List, QLabel* Caption, bool Enabled);

    std::uint32_t FOptionMask = kComConfigPort | kComConfigLine;
};

} // namespace volmar
