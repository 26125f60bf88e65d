// TdlgCapture: where and how the traffic is captured, and after how many
// quiet seconds the machine counts as silent. The dialog only edits a copy;
// the window hands the result to the engine on OK.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "lab/capture.h"

namespace volmar {

class TdlgCapture : public QDialog {
    Q_OBJECT
public:
    // InUse: the capture file now written, empty when capture is off; Error:
    // the capture's trouble, if any.
    TdlgCapture(QWidget* Owner, const TCaptureSettings& Settings, int SilenceLimit,
                const QString& InUse, const QString& Error);

    TCaptureSettings Settings() const;
    int SilenceLimit() const;

    QLabel* lblInUse;
    QLabel* lblError;
    QCheckBox* chkCapture;
    QComboBox* cmbxFormat;
    QLineEdit* edtPath;
    QPushButton* btnBrowse;
    QSpinBox* spnLimit;
    QSpinBox* spnKeep;
    QSpinBox* spnSilence;

private:
    void Browse();

    TCaptureSettings FOriginal;
};

} // namespace volmar
