#include "app/main_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>

#include <optional>
#include <stdexcept>

#include "app/about_box.h"
#include "app/capture_dialog.h"
#include "app/debug_memo.h"
#include "app/edit_meters_dialog.h"
#include "app/faults_dialog.h"
#include "app/grid_model.h"
#include "app/log_grid.h"
#include "app/logo_animation.h"
#include "app/message_box.h"
#include "app/statistics_page.h"
#include "lab/conformance.h"
#include "lab/fault_driver.h"
#include "lab/junit_report.h"
#include "lab/line_watch.h"
#include "lab/report.h"

namespace volmar {

namespace {

const QString kTitle = QStringLiteral("Volmar Simulator");
constexpr int kFaultsWatchMs = 500;

QString Latin1(const std::string& Text) {
    return QString::fromLatin1(Text.data(), static_cast<qsizetype>(Text.size()));
}

} // namespace

TMessageBoxes TMessageBoxes::Standard() {
    const auto box = [](QMessageBox::Icon Icon) {
        return [Icon](QWidget* Parent, const QString& Text) {
            MakeMessageBox(Parent, Icon, kTitle, Text)->exec();
        };
    };
    return {
        box(QMessageBox::Warning),
        box(QMessageBox::Critical),
        box(QMessageBox::Information),
        [](QWidget* Parent, const QString& Text) {
            const auto question = MakeMessageBox(Parent, QMessageBox::Question, kTitle, Text,
                                                 QMessageBox::Yes | QMessageBox::No);
            question->setDefaultButton(QMessageBox::No);
            return question->exec() == QMessageBox::Yes;
        },
    };
}

TfrmVolmar::TfrmVolmar(TWindowOptions Options)
    : FBoxes(std::move(Options.Boxes)), FMonitor(std::move(Options), this),
      FLab(FMonitor, std::move(Options.Lab)) {
    BuildWindow();
    BindComponents();
    FBigMeterSpin = MachinePage->Meter(miIn)->Spin();
    FSmallMeterSpin = pnlSmallMeters->Meter(miIn)->Spin();
    FMuteMeters = pnlSmallMeters->Meter(miIn)->MuteClicks();
    FMonitor.StartUp();
}

TfrmVolmar::~TfrmVolmar() {
    FMonitor.ShutDown();
    // The controller is a child of the window and would outlive the port.
    LEDController->SetComPort(nullptr);
}

void TfrmVolmar::BuildWindow() {
    FTitle = kTitle;
    ShowTitle();
    resize(kDesignWidth, kDesignHeight);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    mnuCapture = file->addAction(QStringLiteral("&Capture..."));
    mnuExport = file->addAction(QStringLiteral("&Export..."));
    QMenu* runs = file->addMenu(QStringLiteral("Conformance &Run"));
    mnuStandardRun = runs->addAction(QStringLiteral("&Standard Run..."));
    mnuRunFile = runs->addAction(QStringLiteral("Run &File..."));
    runs->setEnabled(FLab.Judge() && FLab.Faults());
    file->addSeparator();
    Exit1 = file->addAction(QStringLiteral("E&xit"));
    QMenu* options = menuBar()->addMenu(QStringLiteral("&Options"));
    mnuMute = options->addAction(QStringLiteral("&Mute Meters"));
    mnuMute->setCheckable(true);
    mnuMute->setChecked(true);
    mnuDevices = options->addAction(QStringLiteral("&Devices..."));
    mnuFaults = options->addAction(QStringLiteral("&Faults..."));
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    About1 = help->addAction(QStringLiteral("&About..."));

    auto* portBar = addToolBar(QStringLiteral("Port"));
    portBar->setMovable(false);
    cmbxComPort = new QComboBox(portBar);
    cmbxComPort->addItems({QStringLiteral("None"), QStringLiteral("COM1"), QStringLiteral("COM2"),
                           QStringLiteral("COM3"), QStringLiteral("COM4")});
    portBar->addWidget(cmbxComPort);

    auto* buttons = addToolBar(QStringLiteral("Commands"));
    buttons->setMovable(false);
    buttons->setToolButtonStyle(Qt::ToolButtonTextOnly);
    actReset = buttons->addAction(QStringLiteral("Reset"));
    const QString resetHint = QStringLiteral("Reset all counters & meters to zero");
    actReset->setToolTip(resetHint);
    actReset->setStatusTip(resetHint);
    buttons->addSeparator();
    auto* baudGroup = new QActionGroup(this);
    baudGroup->setExclusive(true);
    const auto baudButton = [&](const char* Caption) {
        QAction* action = buttons->addAction(QString::fromLatin1(Caption));
        action->setCheckable(true);
        baudGroup->addAction(action);
        return action;
    };
    btnAutoBaud = baudButton("Auto Baud");
    btn1200Baud = baudButton("1200 Baud");
    btn9600Baud = baudButton("9600 Baud");
    btn9600Baud->setChecked(true);
    ToolButton5 = buttons->addAction(QStringLiteral("Count Rx"));
    ToolButton6 = buttons->addAction(QStringLiteral("Reset Rx"));
    ToolButton7 = buttons->addAction(QStringLiteral("Reset SM"));
    for (QAction* hidden : {ToolButton5, ToolButton6, ToolButton7})
        hidden->setVisible(false);
    // Tab reaches the buttons too, and each has a key of its own.
    for (QAction* command : {actReset, btnAutoBaud, btn1200Baud, btn9600Baud})
        buttons->widgetForAction(command)->setFocusPolicy(Qt::TabFocus);
    actReset->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    btnAutoBaud->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    btn1200Baud->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    btn9600Baud->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_9));
    for (QAction* command : {btnAutoBaud, btn1200Baud, btn9600Baud})
        command->setToolTip(command->text() + QStringLiteral(" (") +
                            command->shortcut().toString(QKeySequence::NativeText) +
                            QLatin1Char(')'));

    auto* logoBar = addToolBar(QStringLiteral("Logo"));
    logoBar->setMovable(false);
    auto* logoBand = new TLogoBand(logoBar);
    logoBand->setObjectName(QStringLiteral("pnlLogo"));
    auto* logoLayout = new QHBoxLayout(logoBand);
    logoLayout->setContentsMargins(2, 0, 2, 0);
    Animate1 = new TLogoAnimation(logoBand);
    logoLayout->addWidget(Animate1);
    logoBar->addWidget(logoBand);

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    spltrDebug = new QSplitter(Qt::Vertical, central);
    spltrDebug->setHandleWidth(kSplitterHeight);
    spltrDebug->setChildrenCollapsible(false);
    pgctrlPages = new QTabWidget(spltrDebug);
    MachinePage = new TMachinePage(pgctrlPages);
    pgctrlPages->addTab(MachinePage, QStringLiteral("Machine"));
    // Both sides of a title keep the header's margin.
    const int padding = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin);
    FMessageGridWidths =
        TitledWidths(kMessageGridWidths, MessageGridTitles, fontMetrics(), padding);
    grdMessages = LogGrid(pgctrlPages, FMessageGridWidths, true);
    pgctrlPages->addTab(grdMessages, QStringLiteral("Messages"));
    grdEvents = LogGrid(pgctrlPages,
                        TitledWidths(kEventGridWidths, EventGridTitles, fontMetrics(), padding),
                        false);
    pgctrlPages->addTab(grdEvents, QStringLiteral("Events"));
    StatisticsPage = new TStatisticsPage(*FLab.Watch(), FLab.Judge(), pgctrlPages);
    pgctrlPages->addTab(StatisticsPage, QStringLiteral("Statistics"));
    spltrDebug->addWidget(pgctrlPages);

    pnlDebug = new QWidget(spltrDebug);
    auto* debugLayout = new QVBoxLayout(pnlDebug);
    debugLayout->setContentsMargins(0, 0, 0, 0);
    mmoDebug = new QPlainTextEdit(pnlDebug);
    mmoDebug->setReadOnly(true);
    mmoDebug->setLineWrapMode(QPlainTextEdit::NoWrap);
    debugLayout->addWidget(mmoDebug);
    spltrDebug->addWidget(pnlDebug);
    spltrDebug->setStretchFactor(0, 1);
    spltrDebug->setStretchFactor(1, 0);
    pnlDebug->hide();
    column->addWidget(spltrDebug, 1);

    pnlSmallMeters = new TSmallMeterStrip(central);
    column->addWidget(pnlSmallMeters);
    setCentralWidget(central);
    statusBar()->setSizeGripEnabled(true);
    // A message too long for the bar (a path, the export's three files) is
    // there whole when the mouse rests on it.
    connect(statusBar(), &QStatusBar::messageChanged, statusBar(), &QWidget::setToolTip);
    lblSilent = new QLabel(statusBar());
    lblSilent->setStyleSheet(QStringLiteral("color: #b00000;"));
    lblSilent->hide();
    statusBar()->addPermanentWidget(lblSilent);
    btnFaults = new QPushButton(QStringLiteral("Faults active"), statusBar());
    btnFaults->setFlat(true);
    btnFaults->setCursor(Qt::PointingHandCursor);
    btnFaults->setFocusPolicy(Qt::NoFocus);
    btnFaults->setToolTip(QStringLiteral("The answers are not what the table says; click to "
                                         "clear every fault"));
    btnFaults->setStyleSheet(QStringLiteral(
        "QPushButton { background: #c62828; color: white; font-weight: bold; border: none;"
        " border-radius: 3px; padding: 1px 8px; }"
        " QPushButton:hover { background: #e65100; }"));
    btnFaults->hide();
    statusBar()->addPermanentWidget(btnFaults);
    lblAlert = new QLabel(statusBar());
    lblAlert->setStyleSheet(QStringLiteral("color: #b00000;"));
    lblAlert->hide();
    statusBar()->addPermanentWidget(lblAlert);

    popmnuMeters = new QMenu(this);
    mnuEditMeters = popmnuMeters->addAction(QStringLiteral("&Edit Meters..."));
    mnuEditMeters->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    // The commands of the tool bar and of the meters' menu, after the
    // designed entries, for the keyboard.
    options->addSeparator();
    options->addAction(mnuEditMeters);
    options->addAction(actReset);
    options->addSeparator();
    options->addActions({btnAutoBaud, btn1200Baud, btn9600Baud});
    connect(mnuEditMeters, &QAction::triggered, this,
            [this] { Guarded([this] { mnuEditMetersClick(); }); });
    for (TAWPMeter* meter : AllMeters()) {
        meter->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(meter, &QWidget::customContextMenuRequested, this,
                [this, meter](const QPoint& At) { popmnuMeters->popup(meter->mapToGlobal(At)); });
    }

    LEDController = new TSLController(this);

    grdMessages->installEventFilter(this);

    connect(Exit1, &QAction::triggered, this, &QWidget::close);
    connect(mnuCapture, &QAction::triggered, this,
            [this] { Guarded([this] { mnuCaptureClick(); }); });
    connect(mnuExport, &QAction::triggered, this,
            [this] { Guarded([this] { mnuExportClick(); }); });
    connect(mnuStandardRun, &QAction::triggered, this,
            [this] { Guarded([this] { StartConformanceRun(QStringLiteral("standard")); }); });
    connect(mnuRunFile, &QAction::triggered, this,
            [this] { Guarded([this] { StartConformanceRun(QString()); }); });
    connect(About1, &QAction::triggered, this, [this] { Guarded([this] { About1Click(); }); });
    connect(mnuMute, &QAction::triggered, this, [this] { Guarded([this] { mnuMuteClick(); }); });
    connect(mnuDevices, &QAction::triggered, this,
            [this] { Guarded([this] { mnuDevicesClick(); }); });
    connect(mnuFaults, &QAction::triggered, this,
            [this] { Guarded([this] { mnuFaultsClick(); }); });
    connect(btnFaults, &QPushButton::clicked, this,
            [this] { Guarded([this] { FLab.Faults()->Rules().Clear(); }); });
    FFaultsWatch.setInterval(kFaultsWatchMs);
    connect(&FFaultsWatch, &QTimer::timeout, this, &TfrmVolmar::CheckFaults);
    connect(actReset, &QAction::triggered, this, [this] { Guarded([this] { FMonitor.Reset(); }); });
    connect(btnAutoBaud, &QAction::triggered, this,
            [this] { Guarded([this] { FMonitor.SetSpeedMode(smAuto); }); });
    connect(btn1200Baud, &QAction::triggered, this,
            [this] { Guarded([this] { FMonitor.SetSpeedMode(sm1200); }); });
    connect(btn9600Baud, &QAction::triggered, this,
            [this] { Guarded([this] { FMonitor.SetSpeedMode(sm9600); }); });
    connect(ToolButton5, &QAction::triggered, this,
            [this] { Guarded([this] { FMonitor.CountRx(); }); });
    connect(ToolButton6, &QAction::triggered, this,
            [this] { Guarded([this] { FMonitor.ResetRx(); }); });
    connect(ToolButton7, &QAction::triggered, this,
            [this] { Guarded([this] { FMonitor.ResetSM(); }); });
    connect(cmbxComPort, &QComboBox::activated, this,
            [this](int Index) { Guarded([this, Index] { cmbxComPortChange(Index); }); });
}

void TfrmVolmar::BindComponents() {
    LEDController->SetComPort(&FMonitor.ComPortPlus());
    TLightSet lights;
    lights.CTSLight = pnlSmallMeters->ledSpeedSelect;
    lights.TXDLight = pnlSmallMeters->ledTx;
    lights.RXDLight = pnlSmallMeters->ledRx;
    LEDController->SetLights(lights);

    TLogs& logs = FMonitor.Logs();
    FMessagesModel = std::make_unique<TGridModel>(logs.Messages);
    ShowGridModel(grdMessages, FMessagesModel.get());
    FEventsModel = std::make_unique<TGridModel>(logs.Events);
    ShowGridModel(grdEvents, FEventsModel.get());
    FollowNewestRows(grdEvents);
    FDebugMemo = std::make_unique<TDebugMemo>(logs.Debug, *mmoDebug);
    connect(FLab.Watch(), &TLineWatch::SilenceChanged, this, &TfrmVolmar::ShowMachineSilent);
    connect(FLab.Faults(), &TFaultDriver::FaultsChanged, this, &TfrmVolmar::ShowFaultsActive);
}

void TfrmVolmar::StartUpBegins() {
    FScrollBarWidth = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    VersionInfo1.SetFileName(QCoreApplication::applicationFilePath());
    if (VersionInfo1.Valid()) FTitle += QStringLiteral(" v") + VersionInfo1.FileVersion();
    ShowTitle();
}

void TfrmVolmar::LogGridsSetUp() { FormResize(); }

void TfrmVolmar::StartLogo() {
    try {
        Animate1->Start();
    } catch (...) {
        // The band stays empty; the logo is decoration.
    }
}

void TfrmVolmar::SettingsLoaded() {
    if (!DebugPanelShown()) resize(width(), height() - kDebugPanelHeight - kSplitterHeight);
}

void TfrmVolmar::closeEvent(QCloseEvent* Event) {
    FMonitor.ShutDown();
    Event->accept();
    emit Closed();
}

void TfrmVolmar::resizeEvent(QResizeEvent* Event) {
    QMainWindow::resizeEvent(Event);
    FormResize();
}

bool TfrmVolmar::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == grdMessages && Event->type() == QEvent::Resize) FormResize();
    return QMainWindow::eventFilter(Watched, Event);
}

void TfrmVolmar::FormResize() {
    grdMessages->setColumnWidth(1, std::max(0, DescriptionColumnWidth(grdMessages->width(),
                                                                      FScrollBarWidth,
                                                                      FMessageGridWidths)));
}

bool TfrmVolmar::DebugPanelShown() const { return !pnlDebug->isHidden(); }

void TfrmVolmar::ShowDebugPanel(bool Show) {
    pnlDebug->setVisible(Show);
    FMonitor.Logs().Debug.SetVisible(Show);
    if (Show) {
        const int total = spltrDebug->height();
        spltrDebug->setSizes(
            {std::max(0, total - kDebugPanelHeight - kSplitterHeight), kDebugPanelHeight});
    }
}

void TfrmVolmar::Guarded(const std::function<void()>& Handler) {
    FMonitor.Reports().Guarded(Handler);
}

void TfrmVolmar::SetIdentityText(TIdentityLabel Label, const std::string& Text) {
    MachinePage->SetIdentityText(Label, Latin1(Text));
}

void TfrmVolmar::SetCheckListBits(TSupportList List, std::uint32_t Mask) {
    MachinePage->SetCheckListBits(List, Mask);
}

void TfrmVolmar::SetAttendantLamp(bool On) { MachinePage->SetAttendantLamp(On); }

void TfrmVolmar::SetSwitchStates(std::uint16_t Word) { ShowSwitches(true, Word); }

void TfrmVolmar::ShowSwitches(bool Reported, std::uint16_t Word) {
    MachinePage->ShowSwitches(Reported, Word);
}

void TfrmVolmar::ShowValuesMode(bool BCDValues) { MachinePage->ShowValuesMode(BCDValues); }

void TfrmVolmar::UpdateMeters(int Index) {
    if (Index < 0 || Index > kMeterCount) return;
    const int first = Index == 0 ? 1 : Index;
    const int last = Index == 0 ? kMeterCount : Index;
    for (int i = first; i <= last; ++i) {
        const std::int32_t total = *MeterTotal(FMonitor.Counters(), i);
        for (TAWPMeter* meter : {MachinePage->Meter(i), pnlSmallMeters->Meter(i)})
            if (meter && meter->Value() != total) meter->SetValue(total);
    }
}

void TfrmVolmar::ResetMeters() {
    for (TAWPMeter* meter : AllMeters())
        meter->ResetRoll();
}

void TfrmVolmar::ShowMachineSilent(const QString& Since) {
    const QString text =
        Since.isEmpty() ? QString() : QStringLiteral("Machine silent since ") + Since;
    lblSilent->setText(text);
    lblSilent->setVisible(!text.isEmpty());
    StatisticsPage->ShowMachineSilent(Since);
}

void TfrmVolmar::ShowFaultsActive(bool Active) {
    FFaultsShown = Active;
    btnFaults->setVisible(Active);
    ShowTitle();
    if (Active)
        FFaultsWatch.start();
    else
        FFaultsWatch.stop();
    if (dlgFaults && dlgFaults->isVisible()) dlgFaults->Refresh();
}

void TfrmVolmar::CheckFaults() {
    const bool active = FLab.Faults()->Rules().Active();
    if (active != FFaultsShown)
        ShowFaultsActive(active);
    else if (dlgFaults && dlgFaults->isVisible())
        dlgFaults->Refresh();
}

void TfrmVolmar::ShowTitle() {
    setWindowTitle(FFaultsShown ? FTitle + QStringLiteral(" - Faults active") : FTitle);
}

void TfrmVolmar::ShowStatusText(const QString& Text) {
    if (Text.isEmpty())
        statusBar()->clearMessage();
    else
        statusBar()->showMessage(Text);
}

void TfrmVolmar::ShowAlert(const QString& Text) {
    lblAlert->setText(Text);
    lblAlert->setToolTip(Text);
    lblAlert->setVisible(!Text.isEmpty());
}

bool TfrmVolmar::ShowBox(TBoxKind Kind, const QString& Text) {
    const auto& box = Kind == bkError     ? FBoxes.Error
                      : Kind == bkWarning ? FBoxes.Warning
                                          : FBoxes.Information;
    if (!box) return false;
    box(this, Text);
    return true;
}

void TfrmVolmar::SetBigMeterSpin(bool Value) {
    if (Value == FBigMeterSpin) return;
    FBigMeterSpin = Value;
    for (TAWPMeter* meter : MachinePage->Meters())
        meter->SetSpin(Value);
}

void TfrmVolmar::SetSmallMeterSpin(bool Value) {
    if (Value == FSmallMeterSpin) return;
    FSmallMeterSpin = Value;
    for (TAWPMeter* meter : pnlSmallMeters->Meters())
        meter->SetSpin(Value);
}

void TfrmVolmar::SetMuteMeters(bool Value) {
    if (Value != FMuteMeters) {
        FMuteMeters = Value;
        for (TAWPMeter* meter : AllMeters())
            meter->SetMuteClicks(Value);
    }
    mnuMute->setChecked(FMuteMeters);
}

void TfrmVolmar::mnuEditMetersClick() {
    // Owned by the window and freed in every case; the modal loop is the dialog's.
    const std::unique_ptr<TfrmEditMetersDlg> dialog = std::make_unique<TfrmEditMetersDlg>(this);
    const TCounters& counters = FMonitor.Counters();
    dialog->SetTotalIn(counters.In);
    dialog->SetTotalOut(counters.Out);
    dialog->SetTotalGames(counters.Games);
    dialog->SetTotalStakes(counters.Stakes);
    dialog->SetTotalWins(counters.Wins);
    dialog->SetTotalCashbox(counters.Cashbox);
    dialog->SetTotalRefills(counters.Refills);
    dialog->SetTotalDumps(counters.Dumps);
    if (dialog->exec() != QDialog::Accepted) return;
    // Coins and games keep arriving while the dialog is open: the totals
    // the operator left alone keep counting.
    std::vector<std::pair<int, std::int32_t>> edited;
    const auto takeOver = [&](const QLineEdit* Field, int Index, std::int32_t Value) {
        if (TfrmEditMetersDlg::Edited(Field)) edited.emplace_back(Index, Value);
    };
    takeOver(dialog->mskedIn, miIn, dialog->TotalIn());
    takeOver(dialog->mskedOut, miOut, dialog->TotalOut());
    takeOver(dialog->mskedGames, miGames, dialog->TotalGames());
    takeOver(dialog->mskedStakes, miStakes, dialog->TotalStakes());
    takeOver(dialog->mskedWins, miWins, dialog->TotalWins());
    takeOver(dialog->mskedCashbox, miCashbox, dialog->TotalCashbox());
    takeOver(dialog->mskedRefills, miRefills, dialog->TotalRefills());
    takeOver(dialog->mskedDumps, miDumps, dialog->TotalDumps());
    FMonitor.SetTotals(edited);
}

void TfrmVolmar::mnuCaptureClick() {
    TdlgCapture dialog(this, FLab.Capture()->Settings(), FLab.Watch()->SilenceLimit(),
                       FLab.Capture()->Path(), FLab.Capture()->Error());
    if (dialog.exec() != QDialog::Accepted) return;
    FLab.Capture()->SetSettings(dialog.Settings());
    FLab.Watch()->SetSilenceLimit(dialog.SilenceLimit());
}

void TfrmVolmar::mnuFaultsClick() {
    if (!dlgFaults)
        dlgFaults = new TdlgFaults(this, FLab.Faults()->Rules(),
                                   [this](const std::function<void()>& C) { Guarded(C); });
    dlgFaults->Refresh();
    dlgFaults->show();
    dlgFaults->raise();
    dlgFaults->activateWindow();
}

void TfrmVolmar::mnuExportClick() {
    const QString folder = QFileInfo(FMonitor.SettingsPath()).absolutePath();
    // The dialog would ask about the one file chosen; three are written.
    QString base = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export"), folder + QStringLiteral("/volmarsim-report.csv"),
        QStringLiteral("CSV and JSON (*.csv *.json)"), nullptr, QFileDialog::DontConfirmOverwrite);
    if (base.isEmpty()) return;
    for (const QString& extension : {QStringLiteral(".csv"), QStringLiteral(".json")})
        if (base.endsWith(extension, Qt::CaseInsensitive)) {
            base.chop(extension.size());
            break;
        }
    QStringList existing;
    for (const QString& path : ExportPaths(base))
        if (QFileInfo::exists(path)) existing << QDir::toNativeSeparators(path);
    if (!existing.isEmpty() && FBoxes.Question) {
        const QString question =
            (existing.size() == 1 ? QStringLiteral("This file already exists:\n%1\nReplace it?")
                                  : QStringLiteral("These files already exist:\n%1\nReplace them?"))
                .arg(existing.join(QLatin1Char('\n')));
        if (!FBoxes.Question(this, question)) return;
    }
    const QStringList written = ExportReport(FMonitor, FLab.Statistics(), base, FLab.Judge());
    ShowStatusText(QStringLiteral("Exported to ") + written.join(QStringLiteral(", ")));
}

void TfrmVolmar::StartConformanceRun(const QString& NameOrPath) {
    const QString folder = QFileInfo(FMonitor.SettingsPath()).absolutePath();
    QString run = NameOrPath;
    if (run.isEmpty())
        run = QFileDialog::getOpenFileName(this, QStringLiteral("Conformance Run"), folder,
                                           QStringLiteral("Conformance runs (*.jsonl)"));
    if (run.isEmpty()) return;
    QString error;
    std::optional<TConformancePlan> plan = LoadPlan(run, error);
    if (!plan) throw std::runtime_error(error.toStdString());
    // Without a report file the verdict is on the Statistics page alone.
    const QString junit = QFileDialog::getSaveFileName(
        this, QStringLiteral("JUnit Report"), folder + QStringLiteral("/conformance.xml"),
        QStringLiteral("JUnit XML (*.xml)"));
    TConformanceRun* started = FLab.StartRun(std::move(*plan), junit, error);
    if (!started) throw std::runtime_error(error.toStdString());
    ShowStatusText(QStringLiteral("Conformance run %1 going on").arg(started->Plan().Name));
    connect(started, &TConformanceRun::StepDone, this, [this, started](int Index) {
        ShowStatusText(QStringLiteral("Conformance run %1: step %2 of %3 %4")
                           .arg(started->Plan().Name)
                           .arg(Index + 1)
                           .arg(started->Plan().Steps.size())
                           .arg(QLatin1String(OutcomeText(started->Results()[static_cast<std::size_t>(Index)].Outcome))));
    });
    connect(started, &TConformanceRun::Done, this, [this, started, junit](bool Passed) {
        QString text = QStringLiteral("Conformance run %1 %2")
                           .arg(started->Plan().Name,
                                Passed ? QStringLiteral("passed") : QStringLiteral("did not pass"));
        if (!started->ReportError().isEmpty())
            text += QStringLiteral("; ") + started->ReportError();
        else if (!junit.isEmpty())
            text += QStringLiteral("; reports in ") + QDir::toNativeSeparators(junit) +
                    QStringLiteral(" and ") + QDir::toNativeSeparators(TextReportPath(junit));
        ShowStatusText(text);
    });
}

void TfrmVolmar::About1Click() {
    ShowAboutBox(this, VersionInfo1, QFileInfo(FMonitor.SettingsPath()).absolutePath());
}

void TfrmVolmar::mnuMuteClick() {
    // The menu has already toggled its own tick; the meters' state decides.
    SetMuteMeters(!FMuteMeters);
}

std::vector<TAWPMeter*> TfrmVolmar::AllMeters() const {
    std::vector<TAWPMeter*> meters(MachinePage->Meters().begin(), MachinePage->Meters().end());
    meters.insert(meters.end(), pnlSmallMeters->Meters().begin(), pnlSmallMeters->Meters().end());
    return meters;
}

} // namespace volmar
