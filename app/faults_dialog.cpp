#include "app/faults_dialog.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include <array>
#include <initializer_list>

#include "dataport/message.h"

namespace volmar {

namespace {

struct TKindChoice {
    TFaultKind Kind;
    const char* Text;
};
constexpr std::array<TKindChoice, 8> kKindChoices = {{
    {TFaultKind::Nak, "NAK instead of the answer"},
    {TFaultKind::Esc, "ESC instead of the answer"},
    {TFaultKind::Withhold, "No answer"},
    {TFaultKind::Delay, "Answer late"},
    {TFaultKind::WrongByte, "Wrong answer byte"},
    {TFaultKind::Garbage, "Garbage after the answer"},
    {TFaultKind::Silence, "Silence"},
    {TFaultKind::NoFirstNaks, "No first-message NAKs"},
}};

// Far beyond any run, and still whole numbers for the spin boxes.
constexpr int kMaxEveryNth = 1000000;
constexpr int kMaxFirings = 1000000000;
constexpr double kMaxSeconds = 1e7;
constexpr int kMaxDelayMs = 60000;
constexpr int kMaxGarbage = 64;
constexpr double kMaxSilenceSeconds = 3600;

// The byte as the protocol's tables write it: two hex digits.
class THexSpinBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    QString textFromValue(int Value) const override {
        return QStringLiteral("%1").arg(Value, 2, 16, QLatin1Char('0')).toUpper();
    }
};

// A row with Button at its right end.
QHBoxLayout* OnTheRight(QPushButton* Button) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(Button);
    return row;
}

} // namespace

TdlgFaults::TdlgFaults(QWidget* Owner, TFaults& Faults, TGuard Guard)
    : QDialog(Owner), FFaults(Faults), FGuard(std::move(Guard)) {
    setWindowTitle(QStringLiteral("Faults"));
    const TFaultRule defaults;
    auto* column = new QVBoxLayout(this);

    auto* armedBox = new QGroupBox(QStringLiteral("Armed now"), this);
    auto* armedColumn = new QVBoxLayout(armedBox);
    lstArmed = new QTableWidget(0, 2, armedBox);
    lstArmed->setHorizontalHeaderLabels({QStringLiteral("Fault"), QStringLiteral("Fired")});
    lstArmed->verticalHeader()->hide();
    lstArmed->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    lstArmed->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    lstArmed->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstArmed->setSelectionMode(QAbstractItemView::NoSelection);
    lstArmed->setFocusPolicy(Qt::NoFocus);
    lstArmed->setWordWrap(false);
    lstArmed->setMinimumSize(560, 130);
    armedColumn->addWidget(lstArmed);
    btnClearAll = new QPushButton(QStringLiteral("Clear all"), armedBox);
    btnClearAll->setAutoDefault(false);
    armedColumn->addLayout(OnTheRight(btnClearAll));
    column->addWidget(armedBox, 1);

    auto* armBox = new QGroupBox(QStringLiteral("Arm a fault"), this);
    auto* armColumn = new QVBoxLayout(armBox);
    auto* form = new QFormLayout;
    cmbxKind = new QComboBox(armBox);
    for (const TKindChoice& k : kKindChoices)
        cmbxKind->addItem(QLatin1String(k.Text), static_cast<int>(k.Kind));
    form->addRow(QStringLiteral("&Kind:"), cmbxKind);

    edtCodes = new QLineEdit(QStringLiteral("all"), armBox);
    edtCodes->setPlaceholderText(QStringLiteral("all, or e.g. 20-2B,70"));
    edtCodes->setToolTip(QStringLiteral("\"all\", or hex codes and ranges, e.g. 20-2B,70"));
    form->addRow(QStringLiteral("&Codes:"), edtCodes);

    spnEvery = new QSpinBox(armBox);
    spnEvery->setRange(1, kMaxEveryNth);
    spnEvery->setValue(defaults.EveryNth);
    spnEvery->setToolTip(QStringLiteral("Fires on every Nth message of its codes; 1: each one"));
    form->addRow(QStringLiteral("Every &Nth message:"), spnEvery);

    spnProbability = new QDoubleSpinBox(armBox);
    spnProbability->setRange(0, 100);
    spnProbability->setDecimals(1);
    spnProbability->setSuffix(QStringLiteral(" %"));
    spnProbability->setValue(defaults.Probability * 100);
    spnProbability->setToolTip(QStringLiteral("How likely it fires on a message it may fire on"));
    form->addRow(QStringLiteral("&Probability:"), spnProbability);

    spnFirings = new QSpinBox(armBox);
    spnFirings->setRange(0, kMaxFirings);
    spnFirings->setSpecialValueText(QStringLiteral("no end"));
    spnFirings->setValue(defaults.MaxFirings);
    spnFirings->setToolTip(QStringLiteral("Ends after this many firings; 0: no end, 1: once"));
    form->addRow(QStringLiteral("End after &firings:"), spnFirings);

    spnSeconds = new QDoubleSpinBox(armBox);
    spnSeconds->setRange(0, kMaxSeconds);
    spnSeconds->setDecimals(1);
    spnSeconds->setSuffix(QStringLiteral(" s"));
    spnSeconds->setSpecialValueText(QStringLiteral("no end"));
    spnSeconds->setValue(defaults.ForSeconds);
    spnSeconds->setToolTip(QStringLiteral("Ends this many seconds after it is armed; 0: no end"));
    form->addRow(QStringLiteral("End after &seconds:"), spnSeconds);

    auto* delayRow = new QHBoxLayout;
    spnDelay = new QSpinBox(armBox);
    spnDelay->setRange(0, kMaxDelayMs);
    spnDelay->setSuffix(QStringLiteral(" ms"));
    spnDelay->setValue(defaults.DelayMs);
    delayRow->addWidget(spnDelay);
    auto* upTo = new QLabel(QStringLiteral("up &to"), armBox);
    delayRow->addWidget(upTo);
    spnDelayMax = new QSpinBox(armBox);
    spnDelayMax->setRange(0, kMaxDelayMs);
    spnDelayMax->setSuffix(QStringLiteral(" ms"));
    spnDelayMax->setSpecialValueText(QStringLiteral("fixed"));
    spnDelayMax->setValue(defaults.DelayMaxMs);
    spnDelayMax->setToolTip(
        QStringLiteral("When larger, each delay is a random time between the two"));
    upTo->setBuddy(spnDelayMax);
    delayRow->addWidget(spnDelayMax);
    delayRow->addStretch(1);
    auto* delayLabel = new QLabel(QStringLiteral("&Delay:"), armBox);
    delayLabel->setBuddy(spnDelay);
    form->addRow(delayLabel, delayRow);

    spnByte = new THexSpinBox(armBox);
    spnByte->setRange(0, 0xFF);
    spnByte->setDisplayIntegerBase(16);
    spnByte->setSuffix(QStringLiteral("h"));
    spnByte->setValue(defaults.Byte);
    spnByte->setToolTip(QStringLiteral("Sent instead of the answer; none of 06h, 15h, 1Bh"));
    form->addRow(QStringLiteral("Wrong &byte:"), spnByte);

    spnGarbage = new QSpinBox(armBox);
    spnGarbage->setRange(1, kMaxGarbage);
    spnGarbage->setSuffix(QStringLiteral(" bytes"));
    spnGarbage->setValue(defaults.GarbageCount);
    form->addRow(QStringLiteral("&Garbage:"), spnGarbage);

    spnSilence = new QDoubleSpinBox(armBox);
    spnSilence->setRange(0, kMaxSilenceSeconds);
    spnSilence->setDecimals(1);
    spnSilence->setSuffix(QStringLiteral(" s"));
    spnSilence->setValue(defaults.SilenceSeconds);
    spnSilence->setToolTip(QStringLiteral("No answers and no NAKs for this long once it fires"));
    form->addRow(QStringLiteral("Si&lence:"), spnSilence);
    armColumn->addLayout(form);

    lblMessage = new QLabel(armBox);
    lblMessage->setWordWrap(true);
    // Its line stays reserved while it is hidden, so the form never jumps.
    QSizePolicy keepRoom = lblMessage->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    lblMessage->setSizePolicy(keepRoom);
    lblMessage->setMinimumHeight(lblMessage->fontMetrics().lineSpacing());
    lblMessage->hide();
    armColumn->addWidget(lblMessage);
    btnArm = new QPushButton(QStringLiteral("Arm"), armBox);
    btnArm->setDefault(true);
    armColumn->addLayout(OnTheRight(btnArm));
    column->addWidget(armBox);

    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    auto* btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setAutoDefault(false);
    closeRow->addWidget(btnClose);
    column->addLayout(closeRow);

    KindChanged();
    connect(cmbxKind, &QComboBox::currentIndexChanged, this, &TdlgFaults::KindChanged);
    connect(btnArm, &QPushButton::clicked, this, &TdlgFaults::Arm);
    connect(btnClearAll, &QPushButton::clicked, this, &TdlgFaults::ClearAll);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);
    Refresh();
}

TFaultKind TdlgFaults::Kind() const {
    return static_cast<TFaultKind>(cmbxKind->currentData().toInt());
}

void TdlgFaults::KindChanged() {
    const TFaultKind kind = Kind();
    // No first-message NAKs come before any message: no code, no count.
    const bool perMessage = kind != TFaultKind::NoFirstNaks;
    for (QWidget* w : std::initializer_list<QWidget*>{edtCodes, spnEvery, spnProbability})
        w->setEnabled(perMessage);
    spnDelay->setEnabled(kind == TFaultKind::Delay);
    spnDelayMax->setEnabled(kind == TFaultKind::Delay);
    spnByte->setEnabled(kind == TFaultKind::WrongByte);
    spnGarbage->setEnabled(kind == TFaultKind::Garbage);
    spnSilence->setEnabled(kind == TFaultKind::Silence);
}

std::optional<TFaultRule> TdlgFaults::Rule(QString& Error, QWidget*& Culprit) const {
    TFaultRule rule;
    rule.Kind = Kind();
    if (rule.Kind != TFaultKind::NoFirstNaks) {
        if (!ParseCodeList(edtCodes->text().toLower(), rule.Codes)) {
            Error = QStringLiteral("The codes are \"all\" or hex codes and ranges, e.g. 20-2B,70");
            Culprit = edtCodes;
            return std::nullopt;
        }
        rule.EveryNth = spnEvery->value();
        rule.Probability = spnProbability->value() / 100;
    }
    rule.MaxFirings = spnFirings->value();
    rule.ForSeconds = spnSeconds->value();
    if (rule.Kind == TFaultKind::Delay) {
        rule.DelayMs = spnDelay->value();
        rule.DelayMaxMs = spnDelayMax->value();
    }
    if (rule.Kind == TFaultKind::WrongByte) {
        rule.Byte = static_cast<std::uint8_t>(spnByte->value());
        if (rule.Byte == kAck || rule.Byte == kNak || rule.Byte == kEsc) {
            Error = QStringLiteral("The wrong byte must be none of 06h, 15h, 1Bh");
            Culprit = spnByte;
            return std::nullopt;
        }
    }
    if (rule.Kind == TFaultKind::Garbage) rule.GarbageCount = spnGarbage->value();
    if (rule.Kind == TFaultKind::Silence) rule.SilenceSeconds = spnSilence->value();
    return rule;
}

void TdlgFaults::Arm() {
    FGuard([this] {
        QString error;
        QWidget* culprit = nullptr;
        const std::optional<TFaultRule> rule = Rule(error, culprit);
        if (!rule) {
            ShowMessage(error, true);
            culprit->setFocus();
            return;
        }
        FFaults.Arm(*rule);
        ShowMessage(QStringLiteral("Armed: ") + FaultText(*rule), false);
        Refresh();
    });
}

void TdlgFaults::ClearAll() {
    FGuard([this] {
        FFaults.Clear();
        lblMessage->hide();
        Refresh();
    });
}

void TdlgFaults::ShowMessage(const QString& Text, bool Refused) {
    lblMessage->setText(Text);
    lblMessage->setStyleSheet(Refused ? QStringLiteral("color: #b00000;") : QString());
    lblMessage->show();
}

void TdlgFaults::Refresh() {
    const std::vector<TFaults::TArmed> armed = FFaults.List();
    lstArmed->setRowCount(static_cast<int>(armed.size()));
    for (int row = 0; row < static_cast<int>(armed.size()); ++row) {
        const TFaults::TArmed& a = armed[static_cast<std::size_t>(row)];
        const QString texts[] = {FaultText(a.Rule), QString::number(a.Firings)};
        for (int col = 0; col < 2; ++col) {
            QTableWidgetItem* item = lstArmed->item(row, col);
            if (!item) {
                item = new QTableWidgetItem;
                if (col == 1) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                lstArmed->setItem(row, col, item);
            }
            if (item->text() != texts[col]) {
                item->setText(texts[col]);
                item->setToolTip(texts[col]);
            }
        }
    }
    btnClearAll->setEnabled(FFaults.Active());
}

} // namespace volmar
