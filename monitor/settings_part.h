// A section of the settings file that something beside the engine owns:
// read with the engine's keys at the start-up and written with them at the
// shut-down, so that the file is still read once and written once.
#pragma once

namespace volmar {

class TProfileFile;

class ISettingsPart {
public:
    virtual ~ISettingsPart() = default;
    // At the start-up, before the port opens.
    virtual void Load(const TProfileFile& Ini) = 0;
    // At the shut-down, after the engine's keys and before the view's.
    virtual void Save(TProfileFile& Ini) const = 0;
};

} // namespace volmar
