#include "serial/ui/com_config_dialog.h"

#include "serial/byte_text.h"
#include "serial/com_port_plus.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>
#include <limits>
#include <memory>

namespace volmar {

namespace {

constexpr int kClientWidth = 369;
constexpr int kClientHeight = 205;
// The port keeps file names of at most this many characters.
constexpr int kMaxFileNameLength = 255;

QString CutToLength(const QString& Text, int Length) {
    const QList<uint> codes = Text.toUcs4();
    if (codes.size() <= Length) return Text;
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(codes.constData()), Length);
}

// Selects the item whose text is Text, or none.
void SelectText(QComboBox* List, const QString& Text) {
    List->setCurrentIndex(List->findText(Text));
}

void SelectIndex(QComboBox* List, int Index) {
    List->setCurrentIndex(Index >= 0 && Index < List->count() ? Index : -1);
}

QComboBox* NewList(const QStringList& Items) {
    auto* list = new QComboBox;
    list->addItems(Items);
    return list;
}

QLineEdit* NewNumberField(const QString& Hint) {
    auto* field = new QLineEdit;
    field->setToolTip(Hint);
    field->setMaximumWidth(70);
    return field;
}

std::string ToStd(const QString& Text) {
    return Text.toStdString();
}

} // namespace

EConvertError::EConvertError(const std::string& Text)
    : std::runtime_error("'" + Text + "' is not a valid integer value") {}

std::int32_t StrToInt(const QString& Text) {
    const QString s = Text;
    int i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
    if (i == s.size()) throw EConvertError(ToStd(Text));
    std::int64_t value = 0;
    for (; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        if (c < u'0' || c > u'9') throw EConvertError(ToStd(Text));
        value = value * 10 + (c - u'0');
        // One past the largest magnitude still fits a negative number.
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1)
            throw EConvertError(ToStd(Text));
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<std::int32_t>::max()) throw EConvertError(ToStd(Text));
    return static_cast<std::int32_t>(value);
}

TRadioGroup::TRadioGroup(const QString& Title, const QStringList& Items, int Columns,
                         QWidget* Parent)
    : QGroupBox(Title, Parent), FGroup(new QButtonGroup(this)) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 4, 8, 4);
    for (int i = 0; i < Items.size(); ++i) {
        auto* button = new QRadioButton(Items[i]);
        FGroup->addButton(button, i);
        grid->addWidget(button, i / Columns, i % Columns);
        FButtons.push_back(button);
    }
}

int TRadioGroup::ItemIndex() const {
    return FGroup->checkedId();
}

void TRadioGroup::SetItemIndex(int Index) {
    if (Index >= 0 && Index < Count()) {
        FButtons[static_cast<std::size_t>(Index)]->setChecked(true);
        return;
    }
    // An exclusive group will not let its last button go.
    FGroup->setExclusive(false);
    for (QRadioButton* button : FButtons)
        button->setChecked(false);
    FGroup->setExclusive(true);
}

TdlgComConfig::TdlgComConfig(QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle("Configure Communications");

    pgcPages = new QTabWidget;
    tabStandard = BuildStandard();
    tabAdvanced = BuildAdvanced();
    tabLogging = BuildLogging();
    pgcPages->addTab(tabStandard, "Standard");
    pgcPages->addTab(tabAdvanced, "Advanced");
    pgcPages->addTab(tabLogging, "Logging && Tracing");

    btnOK = new QPushButton("OK");
    btnOK->setDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    btnCancel = new QPushButton("Cancel");
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(6);
    layout->addWidget(pgcPages);
    layout->addLayout(buttons);

    setFixedSize(kClientWidth, kClientHeight);
    // Centred on the screen rather than over the owner.
    if (QScreen* s = Parent ? Parent->screen() : QGuiApplication::primaryScreen())
        move(s->geometry().center() - QPoint(kClientWidth / 2, kClientHeight / 2));

    ApplyOptions(FOptionMask);
}

QWidget* TdlgComConfig::BuildStandard() {
    auto* page = new QWidget;
    rgPort = new TRadioGroup(" Port ", {"None", "COM1", "COM2", "COM3", "COM4"}, 5);

    lblBaud = new QLabel("Baud Rate");
    cmbBaud = NewList({"110", "150", "300", "600", "1200", "2400", "4800", "9600", "19200", "14400",
                       "28800", "38400", "57600", "115200"});
    lblParity = new QLabel("Parity");
    cmbParity = NewList({"None", "Odd", "Even"});
    lblData = new QLabel("Data");
    cmbData = NewList({"5", "6", "7", "8"});
    lblStopBits = new QLabel("Stop Bits");
    cmbStopBits = NewList({"1", "2"});

    auto* line = new QGridLayout;
    line->setHorizontalSpacing(8);
    line->setVerticalSpacing(2);
    int column = 0;
    for (auto [caption, list] :
         {std::pair{lblBaud, cmbBaud}, std::pair{lblParity, cmbParity}, std::pair{lblData, cmbData},
          std::pair{lblStopBits, cmbStopBits}}) {
        caption->setBuddy(list);
        line->addWidget(caption, 0, column);
        line->addWidget(list, 1, column);
        ++column;
    }
    line->setColumnStretch(0, 3);
    line->setColumnStretch(1, 2);
    line->setColumnStretch(2, 2);
    line->setColumnStretch(3, 2);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->addWidget(rgPort);
    layout->addSpacing(6);
    layout->addLayout(line);
    layout->addStretch();
    return page;
}

QWidget* TdlgComConfig::BuildAdvanced() {
    auto* page = new QWidget;
    cmbTapiMode = NewList({"None", "Auto", "On", "Off"});
    edtInSize = NewNumberField("Size of the receive buffer");
    edtOutSize = NewNumberField("Size of the transmit buffer");
    edtTimeout = NewNumberField("Timeout during receive");
    edtRxTxDelay = NewNumberField("Delay to apply between receiving & transmitting");
    chkUseEventWord = new QCheckBox("Use Event Word");
    chkUseMSRShadow = new QCheckBox("Use MSR Shadow");
    chkYield = new QCheckBox("Yield");

    auto* grid = new QGridLayout;
    grid->setVerticalSpacing(3);
    const std::pair<const char*, QWidget*> rows[] = {{"TAPI Mode", cmbTapiMode},
                                                     {"Rx Buffer Size", edtInSize},
                                                     {"Tx Buffer Size", edtOutSize},
                                                     {"Timeout", edtTimeout},
                                                     {"Rx ->Tx Delay :", edtRxTxDelay}};
    int row = 0;
    for (const auto& [caption, field] : rows) {
        auto* label = new QLabel(caption);
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
        ++row;
    }
    grid->addWidget(new QLabel("ms"), row - 1, 2);
    cmbTapiMode->setMaximumWidth(70);

    auto* checks = new QVBoxLayout;
    checks->setSpacing(6);
    checks->addWidget(chkUseEventWord);
    checks->addWidget(chkUseMSRShadow);
    checks->addWidget(chkYield);
    checks->addStretch();

    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->addLayout(grid);
    layout->addSpacing(12);
    layout->addLayout(checks);
    layout->addStretch();
    return page;
}

QWidget* TdlgComConfig::BuildLogging() {
    auto* page = new QWidget;
    edtTraceName = new QLineEdit;
    btnTraceName = new QPushButton("...");
    edtTraceSize = new QLineEdit;
    chkTraceHex = new QCheckBox;
    edtLogName = new QLineEdit;
    btnLogName = new QPushButton("...");
    edtLogSize = new QLineEdit;
    chkLogHex = new QCheckBox;
    rgLogInfo = new TRadioGroup("  Extra Info Logging  ", {"None", "Minimal", "All"}, 3);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(3);
    grid->addWidget(new QLabel("Filename"), 0, 1);
    grid->addWidget(new QLabel("Size"), 0, 3);
    grid->addWidget(new QLabel("As Hex"), 0, 4, Qt::AlignHCenter);
    const std::tuple<const char*, QLineEdit*, QPushButton*, QLineEdit*, QCheckBox*> rows[] = {
        {"Tracing", edtTraceName, btnTraceName, edtTraceSize, chkTraceHex},
        {"Logging", edtLogName, btnLogName, edtLogSize, chkLogHex}};
    int row = 1;
    for (const auto& [caption, name, chooser, size, hex] : rows) {
        auto* label = new QLabel(caption);
        label->setBuddy(name);
        chooser->setFixedWidth(24);
        size->setFixedWidth(64);
        grid->addWidget(label, row, 0);
        grid->addWidget(name, row, 1);
        grid->addWidget(chooser, row, 2);
        grid->addWidget(size, row, 3);
        grid->addWidget(hex, row, 4, Qt::AlignHCenter);
        ++row;
    }
    grid->setColumnStretch(1, 1);
    connect(btnTraceName, &QPushButton::clicked, this, [this] { ChooseFile(edtTraceName); });
    connect(btnLogName, &QPushButton::clicked, this, [this] { ChooseFile(edtLogName); });

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(8, 4, 8, 6);
    layout->addLayout(grid);
    layout->addSpacing(4);
    layout->addWidget(rgLogInfo);
    layout->addStretch();
    return page;
}

void TdlgComConfig::ChooseFile(QLineEdit* Field) {
    const QString text = Field->text();
    QFileDialog chooser(this);
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    // The operator names a file to be replaced later; no question now.
    chooser.setOption(QFileDialog::DontConfirmOverwrite);
    const qsizetype slash = text.lastIndexOf(u'/');
    const QString folder = slash < 0 ? QString() : slash == 0 ? QString("/") : text.left(slash);
    if (!folder.isEmpty() && DirectoryExists(ToStd(folder))) {
        chooser.setDirectory(folder);
        chooser.selectFile(text.mid(slash + 1));
    } else {
        chooser.selectFile(text);
    }
    if (chooser.exec() != QDialog::Accepted) return;
    const QStringList files = chooser.selectedFiles();
    if (!files.isEmpty()) Field->setText(files.first());
}

void TdlgComConfig::SetListEnabled(QComboBox* List, QLabel* Caption, bool Enabled) {
    const QPalette standard = QApplication::palette(List);
    QPalette list = List->palette();
    const QColor face = Enabled ? standard.color(QPalette::Active, QPalette::Base)
                                : standard.color(QPalette::Active, QPalette::Button);
    // Every colour group, so the disabled look is ours and not the style's.
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        list.setColor(group, QPalette::Base, face);
        list.setColor(group, QPalette::Button, face);
    }
    List->setPalette(list);
    List->setEnabled(Enabled);

    QPalette label = Caption->palette();
    const QColor ink = Enabled ? standard.color(QPalette::Active, QPalette::WindowText)
                               : standard.color(QPalette::Active, QPalette::Dark);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        label.setColor(group, QPalette::WindowText, ink);
    Caption->setPalette(label);
}

void TdlgComConfig::Fill(const TComPortPlus& Port) {
    SelectText(cmbBaud, QString::number(Port.Baud()));
    rgPort->SetItemIndex(Port.ComNumber());
    SelectText(cmbData, QString::number(Port.DataBits()));
    edtInSize->setText(QString::number(Port.InSize()));
    chkLogHex->setChecked(Port.LogHex());
    rgLogInfo->SetItemIndex(Port.LogInfo());
    edtLogName->setText(QString::fromStdString(Port.LogName()));
    edtLogSize->setText(QString::number(Port.LogSize()));
    edtOutSize->setText(QString::number(Port.OutSize()));
    SelectIndex(cmbParity, Port.Parity());
    edtRxTxDelay->setText(QString::number(Port.RxTxDelay()));
    SelectText(cmbStopBits, QString::number(Port.StopBits()));
    SelectIndex(cmbTapiMode, Port.TapiMode());
    edtTimeout->setText(QString::number(Port.Timeout()));
    chkTraceHex->setChecked(Port.TraceHex());
    edtTraceName->setText(QString::fromStdString(Port.TraceName()));
    edtTraceSize->setText(QString::number(Port.TraceSize()));
    chkUseEventWord->setChecked(Port.UseEventWord());
    chkUseMSRShadow->setChecked(Port.UseMSRShadow());
    chkYield->setChecked(Port.Yield());
}

void TdlgComConfig::ApplyOptions(std::uint32_t Options) {
    const bool logging = Options & kComConfigLogging;
    const bool advanced = Options & kComConfigAdvanced;
    pgcPages->setTabEnabled(pgcPages->indexOf(tabLogging), logging);
    pgcPages->setTabVisible(pgcPages->indexOf(tabLogging), logging);
    pgcPages->setTabEnabled(pgcPages->indexOf(tabAdvanced), advanced);
    pgcPages->setTabVisible(pgcPages->indexOf(tabAdvanced), advanced);
    rgPort->setEnabled(Options & kComConfigPort);
    SetListEnabled(cmbBaud, lblBaud, Options & kComConfigLine);
    // The other line settings follow the baud rate.
    const bool line = cmbBaud->isEnabled();
    SetListEnabled(cmbParity, lblParity, line);
    SetListEnabled(cmbData, lblData, line);
    SetListEnabled(cmbStopBits, lblStopBits, line);
}

void TdlgComConfig::WriteBack(TComPortPlus& Port) const {
    // The setters in this order, each taking effect at once on an open port;
    // a bad number stops here with the earlier ones written. A choice with
    // nothing chosen (a setting the lists do not offer) is kept.
    Port.SetBaud(StrToInt(cmbBaud->currentText()));
    if (rgPort->ItemIndex() >= 0)
        Port.SetComNumber(static_cast<std::uint16_t>(rgPort->ItemIndex()));
    Port.SetDataBits(static_cast<std::uint16_t>(StrToInt(cmbData->currentText())));
    Port.SetInSize(static_cast<std::uint16_t>(StrToInt(edtInSize->text())));
    Port.SetLogHex(chkLogHex->isChecked());
    if (rgLogInfo->ItemIndex() >= 0)
        Port.SetLogInfo(static_cast<TInfoLogLevels>(rgLogInfo->ItemIndex()));
    Port.SetLogName(ToStd(CutToLength(edtLogName->text(), kMaxFileNameLength)));
    Port.SetLogSize(static_cast<std::uint32_t>(StrToInt(edtLogSize->text())));
    Port.SetOutSize(static_cast<std::uint16_t>(StrToInt(edtOutSize->text())));
    if (cmbParity->currentIndex() >= 0)
        Port.SetParity(static_cast<TParity>(cmbParity->currentIndex()));
    Port.SetRxTxDelay(static_cast<std::uint32_t>(StrToInt(edtRxTxDelay->text())));
    Port.SetStopBits(static_cast<std::uint16_t>(StrToInt(cmbStopBits->currentText())));
    if (cmbTapiMode->currentIndex() >= 0)
        Port.SetTapiMode(static_cast<TTapiMode>(cmbTapiMode->currentIndex()));
    Port.SetTimeout(static_cast<std::uint32_t>(StrToInt(edtTimeout->text())));
    Port.SetTraceHex(chkTraceHex->isChecked());
    Port.SetTraceName(ToStd(CutToLength(edtTraceName->text(), kMaxFileNameLength)));
    Port.SetTraceSize(static_cast<std::uint32_t>(StrToInt(edtTraceSize->text())));
    Port.SetUseEventWord(chkUseEventWord->isChecked());
    Port.SetUseMSRShadow(chkUseMSRShadow->isChecked());
    Port.SetYield(chkYield->isChecked());
}

bool TdlgComConfig::Execute(TComPortPlus& Port) {
    Fill(Port);
    ApplyOptions(FOptionMask);
    if (exec() != QDialog::Accepted) return false;
    WriteBack(Port);
    return true;
}

// Defined here rather than with the port so that the port's library needs
// no widgets.
bool TComPortPlus::Configure(std::uint32_t Options) {
    auto dialog = std::make_unique<TdlgComConfig>(QApplication::activeWindow());
    dialog->SetOptionMask(Options);
    return dialog->Execute(*this);
}

} // namespace volmar
