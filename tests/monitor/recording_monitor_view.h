// An engine's view that records every call as a line of text, in order.
#pragma once

#include <QString>

#include <string>
#include <vector>

#include "monitor/monitor_view.h"
#include "support/recording_view.h"

namespace volmar::testing {

class RecordingMonitorView : public RecordingDisplay<IMonitorView> {
public:
    std::vector<std::string> Warnings, Errors, Infos;

    // The texts of the calls that begin with Prefix, the prefix cut off.
    std::vector<std::string> Texts(const std::string& Prefix) const {
        std::vector<std::string> texts;
        for (const std::string& call : Calls)
            if (call.rfind(Prefix, 0) == 0) texts.push_back(call.substr(Prefix.size()));
        return texts;
    }
    // The last of them; empty when there is none.
    std::string Last(const std::string& Prefix) const {
        const std::vector<std::string> texts = Texts(Prefix);
        return texts.empty() ? std::string() : texts.back();
    }

    void ShowSwitches(bool Reported, std::uint16_t Word) override {
        Calls.push_back(Reported ? "Switches=" + std::to_string(Word) : "Switches=unreported");
    }
    void UpdateMeters(int Index) override { Calls.push_back("Meters=" + std::to_string(Index)); }
    void ResetMeters() override { Calls.push_back("ResetMeters"); }
    void ShowPortChoice(std::uint16_t ComNumber) override {
        Calls.push_back("Port=" + std::to_string(ComNumber));
    }
    void ShowPortDevices() override { Calls.push_back("PortDevices"); }
    void ShowSpeedMode(TSpeedMode Mode) override {
        Calls.push_back("SpeedMode=" + std::to_string(Mode));
    }
    void ShowBaud(std::int32_t Baud) override { Calls.push_back("Baud=" + std::to_string(Baud)); }
    void ShowSpeedSelectActive(bool Active) override {
        Calls.push_back(Active ? "SpeedSelect=active" : "SpeedSelect=inactive");
    }
    void SetStatusLightsActive(bool Active) override {
        Calls.push_back(Active ? "Lights=on" : "Lights=off");
    }
    void ShowStatusText(const QString& Text) override {
        Calls.push_back("Status=" + Text.toStdString());
    }
    void ShowAlert(const QString& Text) override { Calls.push_back("Alert=" + Text.toStdString()); }
    bool ShowBox(TBoxKind Kind, const QString& Text) override {
        auto& boxes = Kind == bkError ? Errors : Kind == bkWarning ? Warnings : Infos;
        boxes.push_back(Text.toStdString());
        return true;
    }
    void StartUpBegins() override { Calls.push_back("StartUpBegins"); }
    void LogGridsSetUp() override { Calls.push_back("LogGridsSetUp"); }
    void StartLogo() override { Calls.push_back("StartLogo"); }
    void LoadSettings(const TProfileFile&) override { Calls.push_back("LoadSettings"); }
    void SettingsLoaded() override { Calls.push_back("SettingsLoaded"); }
    void SaveSettings(TProfileFile&) override { Calls.push_back("SaveSettings"); }
};

} // namespace volmar::testing
