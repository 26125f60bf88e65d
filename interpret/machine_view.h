// What the interpretation shows of the machine, implemented by the
// monitoring engine, which passes the panel's part on to its view. Texts
// are 8-bit, as the machine sends them (Latin-1).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace volmar {

enum TIdentityLabel : std::uint8_t {
    ilManufCode,    // txtManufCode
    ilVersion,      // txtVersion
    ilCreditValue,  // txtCreditValue
    ilTargPercent,  // txtTargPercent
    ilProtoVer,     // txtProtoVer
};

enum TSupportList : std::uint8_t {
    slDataport,  // cklbxDataport
    slAMC,       // cklbxAMC
};

extern const std::array<std::string_view, 8> DataportSupportNames;
extern const std::array<std::string_view, 7> AMCSupportNames;

// What the machine's messages change on the panel.
class IMachineDisplay {
public:
    virtual ~IMachineDisplay() = default;
    virtual void SetIdentityText(TIdentityLabel Label, const std::string& Text) = 0;
    // Item i is ticked exactly when bit i of Mask is set.
    virtual void SetCheckListBits(TSupportList List, std::uint32_t Mask) = 0;
    virtual void SetAttendantLamp(bool On) = 0;
    virtual void SetSwitchStates(std::uint16_t Word) = 0;
    // Shows "BCD" or "Binary".
    virtual void ShowValuesMode(bool BCDValues) = 0;
};

class IMachineView : public IMachineDisplay {
public:
    // Queues a meter refresh (0 all, 1..10 one total) to run after the reply.
    virtual void PostUpdateMeters(int MeterIndex) = 0;
};

// Shows nothing: for running the interpretation where nobody looks.
class TUnseenMachineView : public IMachineView {
public:
    void SetIdentityText(TIdentityLabel, const std::string&) override {}
    void SetCheckListBits(TSupportList, std::uint32_t) override {}
    void SetAttendantLamp(bool) override {}
    void SetSwitchStates(std::uint16_t) override {}
    void ShowValuesMode(bool) override {}
    void PostUpdateMeters(int) override {}
};

} // namespace volmar
