#include "app/machine_page.h"

#include <QFrame>
#include <QGroupBox>
#include <QVBoxLayout>

#include <algorithm>

#include "resources/panel_glyphs.h"

namespace volmar {

namespace {

const QColor kSilver(192, 192, 192);
const QColor kRed(255, 0, 0);
const QColor kLime(0, 255, 0);
const QString kModeHint = QStringLiteral("Green=Not In Mode   Red=Is In Mode");
// The least room between a text and the control beside it. The places are
// the design's; a wider font than the design's pushes a control further
// along rather than letting a text run into it.
constexpr int kTextGap = 4;

int RightOf(const QWidget* Widget) { return Widget->geometry().right() + 1 + kTextGap; }

struct TMeterPlace {
    int Index;
    const char* Caption;
    int Left;
    int Top;
};

// Meter index, caption and place on the page.
constexpr TMeterPlace kMeterPlaces[kMeterCount] = {
    {1, "In", 16, 8},           {2, "Out", 160, 8},      {6, "Cashbox", 16, 58},
    {7, "Refills", 160, 58},    {8, "Dumps", 16, 108},   {9, "Cancelled Credits", 160, 108},
    {10, "Credits Taken", 16, 158}, {3, "Games", 160, 158}, {5, "Wins", 16, 208},
    {4, "Stakes", 160, 208},
};

QLabel* Label(const QString& Text, QWidget* Parent, int Left, int Top) {
    auto* label = new QLabel(Text, Parent);
    label->move(Left, Top);
    label->adjustSize();
    return label;
}

QFrame* SunkenPanel(QWidget* Parent, int Left, int Top, int Width, int Height) {
    auto* panel = new QFrame(Parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setGeometry(Left, Top, Width, Height);
    return panel;
}

TGlyphPicture* Door(TDoorStrip Strip, QWidget* Parent) {
    auto* door = new TGlyphPicture(DoorStrip(Strip), 3, Parent);
    door->setFixedSize(65, 64);
    return door;
}

TGlyphPicture* Key(QWidget* Parent) { return new TGlyphPicture(KeyStrip(), 2, Parent); }

TStatusLight* ModeLight(QWidget* Parent, int Left, int Top, const QString& Caption) {
    auto* light = new TStatusLight(Parent);
    light->SetLitColor(kRed);
    light->SetNotLitColor(kLime);
    light->move(Left, Top);
    light->setToolTip(kModeHint);
    light->setStatusTip(kModeHint);
    Label(Caption, Parent, Left + 18, Top - 1);
    return light;
}

QListWidget* SupportList(const QString& Title, const auto& Names, QWidget* Parent, int Left, int Top) {
    auto* box = new QGroupBox(Title, Parent);
    box->setGeometry(Left, Top, 178, 150);
    auto* list = new QListWidget(box);
    for (const auto& name : Names) {
        auto* item = new QListWidgetItem(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())), list);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(list);
    return list;
}

} // namespace

TMachinePage::TMachinePage(QWidget* Parent) : QScrollArea(Parent), FContent(new QWidget) {
    // A page, not a control: Tab goes on to the lists on it, and the page
    // scrolls to show the one that takes the focus.
    setFocusPolicy(Qt::NoFocus);
    FContent->setAutoFillBackground(true);
    QPalette silver = FContent->palette();
    silver.setColor(QPalette::Window, kSilver);
    FContent->setPalette(silver);
    FContent->setMinimumSize(690, 390);

    for (const TMeterPlace& place : kMeterPlaces) {
        auto* meter = new TAWPMeter(FContent);
        meter->setObjectName(QStringLiteral("mtr%1").arg(place.Index));
        meter->SetCaption(QString::fromLatin1(place.Caption));
        meter->SetBorderWidthX(4);
        meter->SetBorderWidthY(4);
        meter->SetSpeed(TAWPMeter::spVeryFast);
        meter->SetSpin(false);
        // The page is silver: a dark caption reads where the meter's white would not.
        meter->SetFontColour(Qt::black);
        meter->setGeometry(place.Left, place.Top, 121, 41);
        FMeters[static_cast<std::size_t>(place.Index - 1)] = meter;
    }

    QFrame* switches = SunkenPanel(FContent, 16, 272, 658, 101);
    QFont small = switches->font();
    small.setPixelSize(11);
    switches->setFont(small);
    const char* doorTitles[3] = {"Cash Door", "Service Door", "Payout Door"};
    for (int i = 0; i < 3; ++i) {
        QLabel* title = Label(QString::fromLatin1(doorTitles[i]), switches, 0, 6);
        title->move(8 + i * 80 + (65 - title->width()) / 2, 6);
        FDoors[static_cast<std::size_t>(i)] = Door(static_cast<TDoorStrip>(i), switches);
        FDoors[static_cast<std::size_t>(i)]->move(8 + i * 80, 26);
    }
    const char* keyTitles[2] = {"Refill Key", "Bookeeping Key"};
    const char* modeTitles[2] = {"Refill Mode", "Bookeeping Mode"};
    int lamps = 512;
    for (int i = 0; i < 2; ++i) {
        const int left = 258 + i * 124;
        FKeys[static_cast<std::size_t>(i)] = Key(switches);
        FKeys[static_cast<std::size_t>(i)]->move(left, 12);
        lamps = std::max(lamps, RightOf(Label(QString::fromLatin1(keyTitles[i]), switches, left + 38, 20)));
        FModeLights[static_cast<std::size_t>(i)] =
            ModeLight(switches, left, 64, QString::fromLatin1(modeTitles[i]));
    }
    FModeLights[mlDump] = ModeLight(switches, lamps, 10, QStringLiteral("Dump Mode"));
    FModeLights[mlTest] = ModeLight(switches, lamps, 31, QStringLiteral("Test Mode"));
    FModeLights[mlPayoutUnit] = ModeLight(switches, lamps, 52, QStringLiteral("Payout Unit Present"));
    FModeLights[mlPayoutUnit]->SetLit(true);
    FAttendant = new TLED(switches);
    FAttendant->setObjectName(QStringLiteral("ledAttendant"));
    FAttendant->SetLEDShape(shRectangle);
    FAttendant->SetBorderPercent(0);
    FAttendant->SetBorderColour(Qt::white);
    FAttendant->SetLEDType(ltFlashing);
    FAttendant->SetFlashOnDelay(400);
    FAttendant->SetFlashOffDelay(400);
    FAttendant->setGeometry(lamps, 73, 13, 13);
    Label(QStringLiteral("Attendant Called"), switches, lamps + 18, 72);

    QFrame* identity = SunkenPanel(FContent, 296, 8, 377, 241);
    identity->setFont(small);
    // Two columns of three rows: caption, then its value.
    const struct {
        const char* Caption;
        int Slot;  // an identity label, or -1 for the values mode
    } rows[6] = {{"Manufacturer Code:", ilManufCode}, {"Value of 1 Credit:", ilCreditValue},
                 {"Version Number:", ilVersion},      {"Target Percentage:", ilTargPercent},
                 {"Protocol Version:", ilProtoVer},   {"Values Mode:", -1}};
    for (int i = 0; i < 6; ++i) {
        const int left = 8 + (i % 2) * 186;
        const int top = 8 + (i / 2) * 22;
        const QLabel* caption = Label(QString::fromLatin1(rows[i].Caption), identity, left, top);
        QLabel* value =
            Label(QStringLiteral("?"), identity, std::max(left + 110, RightOf(caption)), top);
        value->setMinimumWidth(64);
        if (rows[i].Slot < 0)
            FValuesMode = value;
        else
            FIdentity[static_cast<std::size_t>(rows[i].Slot)] = value;
    }
    FDataport = volmar::SupportList(QStringLiteral(" Dataport Support "), DataportSupportNames,
                                    identity, 8, 78);
    FAMC = volmar::SupportList(QStringLiteral(" Arcade Management Support "), AMCSupportNames,
                               identity, 192, 78);

    setWidget(FContent);
    setWidgetResizable(true);
}

TAWPMeter* TMachinePage::Meter(int Index) const {
    if (Index < 1 || Index > kMeterCount) return nullptr;
    return FMeters[static_cast<std::size_t>(Index - 1)];
}

void TMachinePage::ShowSwitches(bool Reported, std::uint16_t Word) {
    const auto bit = [Word](int N) { return ((Word >> N) & 1) != 0; };
    FKeys[kRefill]->SetFrame(bit(0) ? 1 : 0);
    FKeys[kBookkeeping]->SetFrame(bit(1) ? 1 : 0);
    FDoors[dService]->SetFrame(Reported ? 1 + bit(4) : 0);
    FDoors[dCash]->SetFrame(Reported ? 1 + bit(5) : 0);
    FDoors[dPayout]->SetFrame(Reported ? 1 + bit(6) : 0);
    FModeLights[mlPayoutUnit]->SetLit(!bit(7));
    FModeLights[mlRefill]->SetLit(bit(8));
    FModeLights[mlBookkeeping]->SetLit(bit(9));
    FModeLights[mlDump]->SetLit(bit(10));
    FModeLights[mlTest]->SetLit(bit(11));
}

void TMachinePage::SetIdentityText(TIdentityLabel Label, const QString& Text) {
    if (Label < FIdentity.size()) FIdentity[Label]->setText(Text);
}

QString TMachinePage::IdentityText(TIdentityLabel Label) const {
    return Label < FIdentity.size() ? FIdentity[Label]->text() : QString();
}

void TMachinePage::ShowValuesMode(bool BCDValues) {
    FValuesMode->setText(BCDValues ? QStringLiteral("BCD") : QStringLiteral("Binary"));
}

void TMachinePage::SetCheckListBits(TSupportList List, std::uint32_t Mask) {
    QListWidget* list = SupportList(List);
    for (int i = 0; i < list->count(); ++i)
        list->item(i)->setCheckState(((Mask >> i) & 1) != 0 ? Qt::Checked : Qt::Unchecked);
}

TSmallMeterStrip::TSmallMeterStrip(QWidget* Parent) : QWidget(Parent) {
    setFixedHeight(31);
    setAutoFillBackground(true);
    QPalette dark = palette();
    dark.setColor(QPalette::Window, QColor(0x3B, 0x3B, 0x3B));  // 3881787
    dark.setColor(QPalette::WindowText, Qt::white);
    setPalette(dark);

    const struct {
        const char* PanelHint;
        const char* MeterHint;
    } hints[kSmallMeterCount] = {{"Cash In", "Cash In"},
                                 {"Cash Out", "Cash Out"},
                                 {"Games Played", "Games"},
                                 {"Stakes", "Stakes"},
                                 {"Wins", "Wins"}};
    for (int i = 0; i < kSmallMeterCount; ++i) {
        QFrame* panel = SunkenPanel(this, 1 + i * 103, 1, 102, 29);
        panel->setToolTip(QString::fromLatin1(hints[i].PanelHint));
        auto* meter = new TAWPMeter(panel);
        meter->SetNumDigits(6);
        meter->SetBorderWidthX(0);
        meter->SetBorderWidthY(0);
        meter->SetCaptionVisible(false);
        meter->SetFontColour(Qt::white);
        meter->SetSpeed(TAWPMeter::spVeryFast);
        meter->SetSpin(false);
        meter->setGeometry(2, 2, 98, 25);
        meter->setToolTip(QString::fromLatin1(hints[i].MeterHint));
        meter->setStatusTip(meter->toolTip());
        FMeters[static_cast<std::size_t>(i)] = meter;
    }

    auto* speed = new QFrame(this);
    speed->setObjectName(QStringLiteral("pnlSpeedSignal"));
    speed->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    speed->setFixedSize(125, 29);
    QFont tiny = speed->font();
    tiny.setPixelSize(10);
    speed->setFont(tiny);
    // The speed-signal panel never covers the last small meter.
    setMinimumWidth(1 + kSmallMeterCount * 103 + kTextGap + speed->width() + 1);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 1, 1, 1);
    layout->addStretch();
    layout->addWidget(speed);

    Label(QStringLiteral("Baud Rate:"), speed, 3, 2);
    txtBaud = Label(QStringLiteral("9600"), speed, 62, 2);
    txtBaud->setObjectName(QStringLiteral("txtBaud"));
    // Clear of the separator beside it and the lamp below it.
    txtBaud->setMinimumWidth(31);
    txtBaud->setFixedHeight(11);
    Label(QStringLiteral("Speed Signal"), speed, 3, 15);
    ledSpeedSelect = new TStatusLight(speed);
    ledSpeedSelect->SetNotLitColor(QColor(128, 0, 0));
    ledSpeedSelect->setGeometry(70, 14, 13, 12);
    const QString speedHint = QStringLiteral("When lit the machine's speed selection signal is present");
    ledSpeedSelect->setToolTip(speedHint);
    ledSpeedSelect->setStatusTip(speedHint);
    auto* separator = new QFrame(speed);
    separator->setFrameShape(QFrame::VLine);
    separator->setGeometry(94, 2, 2, 25);
    ledTx = new TStatusLight(speed);
    ledTx->SetLitColor(kLime);
    ledTx->setGeometry(104, 1, 13, 12);
    ledTx->setToolTip(QStringLiteral("Transmit to machine"));
    ledTx->setStatusTip(ledTx->toolTip());
    ledRx = new TStatusLight(speed);
    ledRx->SetLitColor(kLime);
    ledRx->setGeometry(104, 15, 13, 12);
    ledRx->setToolTip(QStringLiteral("Receive from machine"));
    for (TStatusLight* lamp : {ledSpeedSelect, ledTx, ledRx}) lamp->setCursor(Qt::PointingHandCursor);
    ledRx->setStatusTip(ledRx->toolTip());
}

TAWPMeter* TSmallMeterStrip::Meter(int Index) const {
    if (Index < 1 || Index > kSmallMeterCount) return nullptr;
    return FMeters[static_cast<std::size_t>(Index - 1)];
}

} // namespace volmar
