// The "Machine" page and the small-meter strip below the pages: the ten
// totals, the doors, keys and mode lights, the identity and support lists,
// and the speed-signal panel.
#pragma once

#include <QLabel>
#include <QListWidget>
#include <QScrollArea>
#include <QWidget>

#include <array>
#include <cstdint>

#include "app/glyph_picture.h"
#include "interpret/machine_view.h"
#include "serial/ui/status_light.h"
#include "widgets/awp_meter.h"
#include "widgets/led.h"

namespace volmar {

inline constexpr int kMeterCount = 10;
inline constexpr int kSmallMeterCount = 5;

class TMachinePage : public QScrollArea {
    Q_OBJECT
public:
    explicit TMachinePage(QWidget* Parent = nullptr);

    // The big meter of a meter index 1..10; nullptr otherwise.
    TAWPMeter* Meter(int Index) const;
    std::array<TAWPMeter*, kMeterCount> Meters() const { return FMeters; }

    // Sets every indicator of the switch word; doors are grey until reported.
    void ShowSwitches(bool Reported, std::uint16_t Word);
    void SetIdentityText(TIdentityLabel Label, const QString& Text);
    QString IdentityText(TIdentityLabel Label) const;
    void ShowValuesMode(bool BCDValues);
    QString ValuesModeText() const { return FValuesMode->text(); }
    void SetCheckListBits(TSupportList List, std::uint32_t Mask);
    QListWidget* SupportList(TSupportList List) const { return List == slDataport ? FDataport : FAMC; }
    void SetAttendantLamp(bool On) { FAttendant->SetState(On ? stOn : stOff); }
    bool AttendantLamp() const { return FAttendant->State() == stOn; }
    TLED* ledAttendant() const { return FAttendant; }

    enum TDoor { dCash, dService, dPayout };
    enum TKey { kRefill, kBookkeeping };
    enum TModeLight { mlRefill, mlBookkeeping, mlDump, mlTest, mlPayoutUnit };
    int DoorFrame(TDoor Door) const { return FDoors[Door]->Frame(); }
    int KeyFrame(TKey Key) const { return FKeys[Key]->Frame(); }
    bool ModeLightLit(TModeLight Light) const { return FModeLights[Light]->Lit(); }


private:
    QWidget* FContent;
    std::array<TAWPMeter*, kMeterCount> FMeters{};
    std::array<TGlyphPicture*, 3> FDoors{};
    std::array<TGlyphPicture*, 2> FKeys{};
    std::array<TStatusLight*, 5> FModeLights{};
    TLED* FAttendant;
    std::array<QLabel*, 5> FIdentity{};
    QLabel* FValuesMode;
    QListWidget* FDataport;
    QListWidget* FAMC;
};

class TSmallMeterStrip : public QWidget {
    Q_OBJECT
public:
    explicit TSmallMeterStrip(QWidget* Parent = nullptr);

    // The small meter of a meter index 1..5; nullptr otherwise.
    TAWPMeter* Meter(int Index) const;
    std::array<TAWPMeter*, kSmallMeterCount> Meters() const { return FMeters; }

    QLabel* txtBaud;
    TStatusLight* ledSpeedSelect;
    TStatusLight* ledTx;
    TStatusLight* ledRx;

private:
    std::array<TAWPMeter*, kSmallMeterCount> FMeters{};
};

} // namespace volmar
