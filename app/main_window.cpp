#include "app/main_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
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

#include <cstdio>

#include "app/about_box.h"
#include "app/counters_keeper.h"
#include "dataport/file_store.h"
#include "app/debug_memo.h"
#include "app/edit_meters_dialog.h"
#include "app/grid_model.h"
#include "app/log_grid.h"
#include "app/logo_animation.h"

namespace volmar {

namespace {

const QString kTitle = QStringLiteral("Volmar Simulator");
// The line-error code whose event-log row reads "Tx queue is full".
constexpr std::uint16_t kTxQueueFull = 8;

QString Latin1(const std::string& Text) {
    return QString::fromLatin1(Text.data(), static_cast<qsizetype>(Text.size()));
}

} // namespace

TMessageBoxes TMessageBoxes::Standard() {
    return {
        [](QWidget* Parent, const QString& Text) { QMessageBox::warning(Parent, kTitle, Text); },
        [](QWidget* Parent, const QString& Text) { QMessageBox::critical(Parent, kTitle, Text); },
        [](QWidget* Parent, const QString& Text) { QMessageBox::information(Parent, kTitle, Text); },
    };
}

TfrmVolmar::TfrmVolmar(TWindowOptions Options)
    : FOptions(std::move(Options)), FLogs(FOptions.LogClock), FInterpreter(FCounters, FLogs, *this) {
    if (FOptions.Clock) FComPortPlus.SetClock(FOptions.Clock);
    BuildWindow();
    BindComponents();
    FormCreate();
}

TfrmVolmar::~TfrmVolmar() {
    FormDestroy();
    // The controller is a child of the window and would outlive the port.
    LEDController->SetComPort(nullptr);
    SetPortErrorHandler({});
    FVolmar.SetComPort(nullptr);
}

QString TfrmVolmar::CountersPath() const {
    const QString folder = FOptions.Folder.isEmpty() ? QCoreApplication::applicationDirPath() : FOptions.Folder;
    return folder + QLatin1Char('/') + QLatin1String(kCountersFileName);
}

QString TfrmVolmar::SettingsPath() const {
    const QString folder = FOptions.Folder.isEmpty() ? QCoreApplication::applicationDirPath() : FOptions.Folder;
    return folder + QLatin1Char('/') + QLatin1String(kSettingsFileName);
}

void TfrmVolmar::BuildWindow() {
    setWindowTitle(kTitle);
    resize(kDesignWidth, kDesignHeight);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    Exit1 = file->addAction(QStringLiteral("E&xit"));
    QMenu* options = menuBar()->addMenu(QStringLiteral("&Options"));
    mnuMute = options->addAction(QStringLiteral("&Mute Meters"));
    mnuMute->setCheckable(true);
    mnuMute->setChecked(true);
    mnuDevices = options->addAction(QStringLiteral("&Devices..."));
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
    for (QAction* hidden : {ToolButton5, ToolButton6, ToolButton7}) hidden->setVisible(false);

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
    grdMessages = LogGrid(pgctrlPages, kMessageGridWidths, true);
    pgctrlPages->addTab(grdMessages, QStringLiteral("Messages"));
    grdEvents = LogGrid(pgctrlPages, kEventGridWidths, false);
    pgctrlPages->addTab(grdEvents, QStringLiteral("Events"));
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
    lblAlert = new QLabel(statusBar());
    lblAlert->setStyleSheet(QStringLiteral("color: #b00000;"));
    lblAlert->hide();
    statusBar()->addPermanentWidget(lblAlert);

    popmnuMeters = new QMenu(this);
    mnuEditMeters = popmnuMeters->addAction(QStringLiteral("&Edit Meters..."));
    connect(mnuEditMeters, &QAction::triggered, this, [this] { Guarded([this] { mnuEditMetersClick(); }); });
    for (TAWPMeter* meter : AllMeters()) {
        meter->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(meter, &QWidget::customContextMenuRequested, this,
                [this, meter](const QPoint& At) { popmnuMeters->popup(meter->mapToGlobal(At)); });
    }

    LEDController = new TSLController(this);

    grdMessages->installEventFilter(this);

    connect(&FReconnectTimer, &QTimer::timeout, this, [this] { WatchForLostDevice(); });
    connect(Exit1, &QAction::triggered, this, &QWidget::close);
    connect(About1, &QAction::triggered, this, [this] { Guarded([this] { About1Click(); }); });
    connect(mnuMute, &QAction::triggered, this, [this] { Guarded([this] { mnuMuteClick(); }); });
    connect(mnuDevices, &QAction::triggered, this, [this] { Guarded([this] { mnuDevicesClick(); }); });
    connect(actReset, &QAction::triggered, this, [this] { Guarded([this] { actResetExecute(); }); });
    connect(btnAutoBaud, &QAction::triggered, this, [this] { Guarded([this] { SetSpeedMode(smAuto); }); });
    connect(btn1200Baud, &QAction::triggered, this, [this] { Guarded([this] { SetSpeedMode(sm1200); }); });
    connect(btn9600Baud, &QAction::triggered, this, [this] { Guarded([this] { SetSpeedMode(sm9600); }); });
    connect(ToolButton5, &QAction::triggered, this, [this] { Guarded([this] { ToolButton5Click(); }); });
    connect(ToolButton6, &QAction::triggered, this, [this] { Guarded([this] { ToolButton6Click(); }); });
    connect(ToolButton7, &QAction::triggered, this, [this] { Guarded([this] { ToolButton7Click(); }); });
    connect(cmbxComPort, &QComboBox::activated, this,
            [this](int Index) { Guarded([this, Index] { cmbxComPortChange(Index); }); });
}

void TfrmVolmar::BindComponents() {
    FComPortPlus.SetBaud(1200);
    FComPortPlus.SetParity(pOdd);
    FComPortPlus.SetAutoOpen(false);
    FComPortPlus.SetTraceName("VolmarSim.Trc");
    FComPortPlus.SetLogName("VolmarSim.Log");
    FComPortPlus.SetTerminator("^M^J");
    FComPortPlus.SetRxTxDelay(0);
    FComPortPlus.OnTriggerAvail = [this](TCustomComPort* CP, std::uint16_t Count) {
        GuardedLink([&] { ComPortPlusTriggerAvail(CP, Count); });
    };
    FComPortPlus.OnTriggerLineError = [this](TCustomComPort* CP, std::uint16_t Error, bool Break) {
        GuardedLink([&] { ComPortPlusTriggerLineError(CP, Error, Break); });
    };
    FComPortPlus.OnTriggerModemStatus = [this](TCustomComPort* CP) {
        GuardedLink([&] { ComPortPlusTriggerModemStatus(CP); });
    };
    FComPortPlus.OnDeviceLost = [this](TCustomComPort* CP) {
        GuardedLink([&] { ComPortPlusDeviceLost(CP); });
    };
    SetPortErrorHandler([this](const std::exception& Error) {
        ReportQuietly(QString::fromLocal8Bit(Error.what()));
    });

    FVolmar.SetComPort(&FComPortPlus);
    LEDController->SetComPort(&FComPortPlus);
    TLightSet lights;
    lights.CTSLight = pnlSmallMeters->ledSpeedSelect;
    lights.TXDLight = pnlSmallMeters->ledTx;
    lights.RXDLight = pnlSmallMeters->ledRx;
    LEDController->SetLights(lights);
    FVolmar.OnDPMessage = [this](TVolmarDataport* Sender, PDPMessage Msg, bool WasInError,
                                 TAcception& Accepted) {
        FInterpreter.VolmarDPMessage(Sender, Msg, WasInError, Accepted);
    };
    FVolmar.OnDPInvMessage = [this](TVolmarDataport* Sender, PDPMessage Msg, bool WasInError,
                                    TAcception& Accepted) {
        FInterpreter.VolmarDPInvMessage(Sender, Msg, WasInError, Accepted);
    };
    FVolmar.OnDPReset = [this](TVolmarDataport* Sender) { VolmarDPReset(Sender); };
    FVolmar.OnTimeout = [this](TVolmarDataport* Sender, TTimeoutType Timeout) {
        VolmarTimeout(Sender, Timeout);
    };
    FVolmar.OnStateChange = [this](TVolmarDataport* Sender, TDPState State, std::int32_t Count) {
        VolmarStateChange(Sender, State, Count);
    };
    FVolmar.OnReplyDropped = [this](TVolmarDataport*) { FLogs.LogLineError(kTxQueueFull); };

    FMessagesModel = std::make_unique<TGridModel>(FLogs.Messages);
    ShowGridModel(grdMessages, FMessagesModel.get());
    FEventsModel = std::make_unique<TGridModel>(FLogs.Events);
    ShowGridModel(grdEvents, FEventsModel.get());
    FollowNewestRows(grdEvents);
    FDebugMemo = std::make_unique<TDebugMemo>(FLogs.Debug, *mmoDebug);
}

void TfrmVolmar::FormCreate() {
    FSpeedMode = sm9600;
    FAutoBaudActive = false;
    FSpeedSignal = false;
    FModemTrigger = 0;
    FLineTrigger = 0;
    FBigMeterSpin = MachinePage->Meter(miIn)->Spin();
    FSmallMeterSpin = pnlSmallMeters->Meter(miIn)->Spin();
    FMuteMeters = pnlSmallMeters->Meter(miIn)->MuteClicks();
    FSwitches = 0;
    SetValuesMode(true);

    FScrollBarWidth = style()->pixelMetric(QStyle::PM_ScrollBarExtent);

    VersionInfo1.SetFileName(QCoreApplication::applicationFilePath());
    if (VersionInfo1.Valid()) setWindowTitle(windowTitle() + QStringLiteral(" v") + VersionInfo1.FileVersion());

    LoadCountersFile();

    FLogs.InitLogGrids(FCounters);
    FormResize();

    FRxBuffer = std::make_unique<TSerialBuffer>(256);

    StartLogo();

    LoadSettings();

    if (!DebugPanelShown()) resize(width(), height() - kDebugPanelHeight - kSplitterHeight);

    FSpeedSignal = SpeedSignalPresent();
    ShowSpeedSelectActive(FAutoBaudActive && FComPortPlus.Open());
    ShowSwitches(false, 0);

    PostCommand(ucResetDataport);
    PostCommand(ucArmSpeedSignal);
    PostCommand(ucUpdateMeters, 0);

    if (FComPortPlus.Open()) {
        Guarded([this] {
            ArmModemTrigger(true);
            ArmLineTrigger(true);
        });
    }
}

void TfrmVolmar::LoadCountersFile() {
    const std::string path = CountersPath().toStdString();
    RemoveLeftoverTemporaries(path);
    std::string refused;
    try {
        LoadCounters(FCounters, path);
    } catch (const ECountersFileError& Error) {
        // The file holds the totals of earlier runs: it is never written over.
        QString text = QString::fromLocal8Bit(Error.what());
        try {
            const std::string kept = KeepAside(path, "unreadable");
            text += QStringLiteral("\nIt was kept as %1; the counts of this run go to a new file.")
                        .arg(QString::fromLocal8Bit(kept.c_str()));
        } catch (const std::exception& Aside) {
            refused = "Unable to write to " + path + ": it could not be read at start-up and is kept as it is";
            text += QStringLiteral("\nIt could not be kept aside (%1), so it is kept as it is and the "
                                   "counts of this run are not saved.")
                        .arg(QString::fromLocal8Bit(Aside.what()));
        }
        ReportError(text);
    }
    FCountersKeeper = std::make_unique<TCountersKeeper>(FCounters, path, FOptions.CountersSaveIntervalMs);
    if (!refused.empty()) FCountersKeeper->Refuse(refused);
    FCountersKeeper->OnFailed = [this](const std::string& Error) {
        FSaveAlert = QString::fromLocal8Bit(Error.c_str());
        ReportQuietly(FSaveAlert);
    };
    FCountersKeeper->OnRecovered = [this] {
        if (Alert() == FSaveAlert) ShowAlert(QString());
    };
}

void TfrmVolmar::closeEvent(QCloseEvent* Event) {
    FormDestroy();
    Event->accept();
    emit Closed();
}

void TfrmVolmar::FormDestroy() {
    if (FDestroyed) return;
    FDestroyed = true;
    GuardedSave([this] {
        if (FCountersKeeper) FCountersKeeper->FinalSave();
    });
    Guarded([this] {
        LEDController->SetActive(false);
        if (FComPortPlus.Open()) FComPortPlus.RemoveAllTriggers();
        FVolmar.SetTimerHandle(0);
        FComPortPlus.SetOpen(false);
    });
    GuardedSave([this] { SaveSettings(); });
    FRxBuffer.reset();
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
    grdMessages->setColumnWidth(1, std::max(0, DescriptionColumnWidth(grdMessages->width(), FScrollBarWidth)));
}

bool TfrmVolmar::DebugPanelShown() const { return !pnlDebug->isHidden(); }

void TfrmVolmar::ShowDebugPanel(bool Show) {
    pnlDebug->setVisible(Show);
    FLogs.Debug.SetVisible(Show);
    if (Show) {
        const int total = spltrDebug->height();
        spltrDebug->setSizes({std::max(0, total - kDebugPanelHeight - kSplitterHeight), kDebugPanelHeight});
    }
}

void TfrmVolmar::StartLogo() {
    try {
        Animate1->Start();
    } catch (...) {
        // The band stays empty; the logo is decoration.
    }
}

void TfrmVolmar::actResetExecute() {
    statusBar()->showMessage(QStringLiteral("Resetting..."));
    FVolmar.ResetReceiver();
    if (FComPortPlus.Open()) {
        FComPortPlus.FlushInBuffer();
        FComPortPlus.FlushOutBuffer();
    }
    SetSwitchStates(0);
    FLogs.Debug.Clear();
    try {
        QCoreApplication::processEvents();
        ClearCounters(FCounters);
        FLogs.InitLogGrids(FCounters);
        for (TAWPMeter* meter : AllMeters()) meter->ResetRoll();
    } catch (...) {
        statusBar()->clearMessage();
        throw;
    }
    statusBar()->clearMessage();
    FLogs.CutEventLog();
    PostCommand(ucArmSpeedSignal);
    PostCommand(ucUpdateMeters, 0);
}

void TfrmVolmar::SetIdentityText(TIdentityLabel Label, const std::string& Text) {
    MachinePage->SetIdentityText(Label, Latin1(Text));
}

void TfrmVolmar::SetCheckListBits(TSupportList List, std::uint32_t Mask) {
    MachinePage->SetCheckListBits(List, Mask);
}

void TfrmVolmar::SetAttendantLamp(bool On) { MachinePage->SetAttendantLamp(On); }

void TfrmVolmar::SetSwitchStates(std::uint16_t Word) {
    FSwitches = Word;
    ShowSwitches(true, Word);
}

void TfrmVolmar::ShowSwitches(bool Reported, std::uint16_t Word) { MachinePage->ShowSwitches(Reported, Word); }

void TfrmVolmar::SetValuesMode(bool BCDValues) { FInterpreter.SetValuesMode(BCDValues); }

void TfrmVolmar::ShowValuesMode(bool BCDValues) { MachinePage->ShowValuesMode(BCDValues); }

void TfrmVolmar::PostUpdateMeters(int MeterIndex) { PostCommand(ucUpdateMeters, MeterIndex); }

void TfrmVolmar::UpdateMeters(int Index) {
    if (Index < 0 || Index > kMeterCount) return;
    const int first = Index == 0 ? 1 : Index;
    const int last = Index == 0 ? kMeterCount : Index;
    for (int i = first; i <= last; ++i) {
        const std::int32_t total = *MeterTotal(FCounters, i);
        for (TAWPMeter* meter : {MachinePage->Meter(i), pnlSmallMeters->Meter(i)})
            if (meter && meter->Value() != total) meter->SetValue(total);
    }
}

void TfrmVolmar::SetBigMeterSpin(bool Value) {
    if (Value == FBigMeterSpin) return;
    FBigMeterSpin = Value;
    for (TAWPMeter* meter : MachinePage->Meters()) meter->SetSpin(Value);
}

void TfrmVolmar::SetSmallMeterSpin(bool Value) {
    if (Value == FSmallMeterSpin) return;
    FSmallMeterSpin = Value;
    for (TAWPMeter* meter : pnlSmallMeters->Meters()) meter->SetSpin(Value);
}

void TfrmVolmar::SetMuteMeters(bool Value) {
    if (Value != FMuteMeters) {
        FMuteMeters = Value;
        for (TAWPMeter* meter : AllMeters()) meter->SetMuteClicks(Value);
    }
    mnuMute->setChecked(FMuteMeters);
}

void TfrmVolmar::mnuEditMetersClick() {
    // Owned by the window and freed in every case; the modal loop is the dialog's.
    const std::unique_ptr<TfrmEditMetersDlg> dialog = std::make_unique<TfrmEditMetersDlg>(this);
    dialog->SetTotalIn(FCounters.In);
    dialog->SetTotalOut(FCounters.Out);
    dialog->SetTotalGames(FCounters.Games);
    dialog->SetTotalStakes(FCounters.Stakes);
    dialog->SetTotalWins(FCounters.Wins);
    dialog->SetTotalCashbox(FCounters.Cashbox);
    dialog->SetTotalRefills(FCounters.Refills);
    dialog->SetTotalDumps(FCounters.Dumps);
    if (dialog->exec() != QDialog::Accepted) return;
    // Coins and games keep arriving while the dialog is open: the totals
    // the operator left alone keep counting.
    const auto takeOver = [](const QLineEdit* Field, std::int32_t Value, std::int32_t& Total) {
        if (TfrmEditMetersDlg::Edited(Field)) Total = Value;
    };
    takeOver(dialog->mskedIn, dialog->TotalIn(), FCounters.In);
    takeOver(dialog->mskedOut, dialog->TotalOut(), FCounters.Out);
    takeOver(dialog->mskedGames, dialog->TotalGames(), FCounters.Games);
    takeOver(dialog->mskedStakes, dialog->TotalStakes(), FCounters.Stakes);
    takeOver(dialog->mskedWins, dialog->TotalWins(), FCounters.Wins);
    takeOver(dialog->mskedCashbox, dialog->TotalCashbox(), FCounters.Cashbox);
    takeOver(dialog->mskedRefills, dialog->TotalRefills(), FCounters.Refills);
    takeOver(dialog->mskedDumps, dialog->TotalDumps(), FCounters.Dumps);
    PostCommand(ucUpdateMeters, 0);
}

void TfrmVolmar::About1Click() {
    ShowAboutBox(this, VersionInfo1, QFileInfo(SettingsPath()).absolutePath());
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
