// TdlgFaults: the faults armed now, each with how often it has fired, and a
// form to arm another. It stays open beside the window while the engine
// goes on answering; the window tells it when the faults change.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include <functional>
#include <optional>

#include "lab/faults.h"

namespace volmar {

class TdlgFaults : public QDialog {
    Q_OBJECT
public:
    // Guard runs the operator's commands the window's way.
    using TGuard = std::function<void(const std::function<void()>&)>;
    TdlgFaults(QWidget* Owner, TFaults& Faults, TGuard Guard);

    // Lists the armed faults as the engine has them now.
    void Refresh();

    QTableWidget* lstArmed;
    QPushButton* btnClearAll;
    QComboBox* cmbxKind;
    QLineEdit* edtCodes;
    QSpinBox* spnEvery;
    QDoubleSpinBox* spnProbability;
    QSpinBox* spnFirings;
    QDoubleSpinBox* spnSeconds;
    QSpinBox* spnDelay;
    QSpinBox* spnDelayMax;
    QSpinBox* spnByte;
    QSpinBox* spnGarbage;
    QDoubleSpinBox* spnSilence;
    QLabel* lblMessage;
    QPushButton* btnArm;

private:
    TFaultKind Kind() const;
    // The fault the form describes; none when the form cannot be armed,
    // with Error saying why and Culprit the field to put right.
    std::optional<TFaultRule> Rule(QString& Error, QWidget*& Culprit) const;
    void Arm();
    void ClearAll();
    void KindChanged();
    void ShowMessage(const QString& Text, bool Refused);

    TFaults& FFaults;
    TGuard FGuard;
};

} // namespace volmar
