// A machine view that records every call as a line of text.
#pragma once

#include <string>
#include <vector>

#include "interpret/machine_view.h"

namespace volmar::testing {

// Records the panel's part of a view; Base is the view interface.
template <class Base>
class RecordingDisplay : public Base {
public:
    std::vector<std::string> Calls;

    void SetIdentityText(TIdentityLabel Label, const std::string& Text) override {
        static const char* names[] = {"ManufCode", "Version", "CreditValue", "TargPercent",
                                      "ProtoVer"};
        Calls.push_back(std::string(names[Label]) + "=" + Text);
    }
    void SetCheckListBits(TSupportList List, std::uint32_t Mask) override {
        Calls.push_back(std::string(List == slAMC ? "AMC" : "Dataport") + "=" +
                        std::to_string(Mask));
    }
    void SetAttendantLamp(bool On) override {
        Calls.push_back(On ? "Attendant=on" : "Attendant=off");
    }
    void SetSwitchStates(std::uint16_t Word) override {
        Calls.push_back("Switches=" + std::to_string(Word));
    }
    void ShowValuesMode(bool BCDValues) override {
        Calls.push_back(BCDValues ? "Values=BCD" : "Values=Binary");
    }
};

class RecordingView : public RecordingDisplay<IMachineView> {
public:
    std::vector<int> Refreshes;

    void PostUpdateMeters(int MeterIndex) override { Refreshes.push_back(MeterIndex); }
};

} // namespace volmar::testing
