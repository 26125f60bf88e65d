#include "app/capture_dialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>

namespace volmar {

namespace {

constexpr std::int64_t kMiB = 1024 * 1024;
constexpr int kMaxLimitMiB = 1024 * 1024;
constexpr int kMaxFilesKept = 1000;
// The engine takes no more from its settings file.
constexpr int kMaxSilentSeconds = 86400;

} // namespace

TdlgCapture::TdlgCapture(QWidget* Owner, const TCaptureSettings& Settings, int SilenceLimit,
                         const QString& InUse, const QString& Error)
    : QDialog(Owner), FOriginal(Settings) {
    setWindowTitle(QStringLiteral("Capture"));
    auto* column = new QVBoxLayout(this);
    lblInUse = new QLabel(InUse.isEmpty() ? QStringLiteral("Capture is off")
                                          : QStringLiteral("Capturing to ") + InUse,
                          this);
    lblInUse->setWordWrap(true);
    lblInUse->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(lblInUse);
    lblError = new QLabel(Error, this);
    lblError->setWordWrap(true);
    lblError->setStyleSheet(QStringLiteral("color: #b00000;"));
    lblError->setVisible(!Error.isEmpty());
    column->addWidget(lblError);

    chkCapture = new QCheckBox(QStringLiteral("Capture the traffic"), this);
    chkCapture->setChecked(Settings.On);
    column->addWidget(chkCapture);

    auto* form = new QFormLayout;
    cmbxFormat = new QComboBox(this);
    cmbxFormat->addItem(QStringLiteral("Text"),
                        QVariant::fromValue(static_cast<int>(TCaptureFormat::Text)));
    cmbxFormat->addItem(QStringLiteral("JSON Lines"),
                        QVariant::fromValue(static_cast<int>(TCaptureFormat::JsonLines)));
    cmbxFormat->addItem(QStringLiteral("pcapng (Wireshark)"),
                        QVariant::fromValue(static_cast<int>(TCaptureFormat::Pcapng)));
    cmbxFormat->setCurrentIndex(cmbxFormat->findData(static_cast<int>(Settings.Format)));
    form->addRow(QStringLiteral("&Format:"), cmbxFormat);

    auto* pathRow = new QHBoxLayout;
    edtPath = new QLineEdit(Settings.Path, this);
    edtPath->setPlaceholderText(QStringLiteral("The default file in the settings folder"));
    edtPath->setMinimumWidth(320);
    pathRow->addWidget(edtPath, 1);
    btnBrowse = new QPushButton(QStringLiteral("Browse..."), this);
    pathRow->addWidget(btnBrowse);
    // A row of two widgets makes no buddy of its own.
    auto* pathLabel = new QLabel(QStringLiteral("F&ile:"), this);
    pathLabel->setBuddy(edtPath);
    form->addRow(pathLabel, pathRow);

    spnLimit = new QSpinBox(this);
    spnLimit->setRange(1, kMaxLimitMiB);
    spnLimit->setSuffix(QStringLiteral(" MiB"));
    spnLimit->setValue(static_cast<int>(
        std::clamp<std::int64_t>(Settings.LimitBytes / kMiB, 1, kMaxLimitMiB)));
    spnLimit->setToolTip(QStringLiteral("A full file is renamed and a new one begun"));
    form->addRow(QStringLiteral("&Size limit:"), spnLimit);

    spnKeep = new QSpinBox(this);
    spnKeep->setRange(1, kMaxFilesKept);
    spnKeep->setValue(std::clamp(Settings.Keep, 1, kMaxFilesKept));
    spnKeep->setToolTip(QStringLiteral("The oldest file goes once there are more"));
    form->addRow(QStringLiteral("Files &kept:"), spnKeep);

    spnSilence = new QSpinBox(this);
    spnSilence->setRange(0, kMaxSilentSeconds);
    spnSilence->setSuffix(QStringLiteral(" s"));
    spnSilence->setSpecialValueText(QStringLiteral("Off"));
    spnSilence->setValue(std::clamp(SilenceLimit, 0, kMaxSilentSeconds));
    spnSilence->setToolTip(
        QStringLiteral("Seconds without a byte before the machine counts as silent; 0: never"));
    form->addRow(QStringLiteral("Machine &silent after:"), spnSilence);
    column->addLayout(form);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    column->addWidget(buttons);
    column->setSizeConstraint(QLayout::SetFixedSize);

    const auto follow = [this](bool On) {
        for (QWidget* w : std::initializer_list<QWidget*>{cmbxFormat, edtPath, btnBrowse,
                                                          spnLimit, spnKeep})
            w->setEnabled(On);
    };
    follow(Settings.On);
    connect(chkCapture, &QCheckBox::toggled, this, follow);
    connect(btnBrowse, &QPushButton::clicked, this, &TdlgCapture::Browse);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

TCaptureSettings TdlgCapture::Settings() const {
    TCaptureSettings s = FOriginal;
    s.On = chkCapture->isChecked();
    s.Format = static_cast<TCaptureFormat>(cmbxFormat->currentData().toInt());
    s.Path = edtPath->text().trimmed();
    // A limit that is not whole MiB stays as it was unless the operator changed it.
    if (spnLimit->value() != std::clamp<std::int64_t>(FOriginal.LimitBytes / kMiB, 1, kMaxLimitMiB))
        s.LimitBytes = spnLimit->value() * kMiB;
    s.Keep = spnKeep->value();
    return s;
}

int TdlgCapture::SilenceLimit() const { return spnSilence->value(); }

void TdlgCapture::Browse() {
    const QString chosen = QFileDialog::getSaveFileName(
        this, QStringLiteral("Capture File"), edtPath->text(),
        QStringLiteral("Capture files (*.txt *.jsonl *.pcapng);;All files (*)"), nullptr,
        QFileDialog::DontConfirmOverwrite);
    if (!chosen.isEmpty()) edtPath->setText(chosen);
}

} // namespace volmar
