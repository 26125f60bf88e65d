// TControl: the control socket beside the engine. It listens once the
// engine has started up and closes first at the shut-down, so that no client
// changes anything while the files are written. It listens at this run's
// path, else at the settings file's [Control] Path, else not at all. While
// it listens, the live view finds it in the runtime folder's registry.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

#include "monitor/settings_part.h"

namespace volmar {

class TControlServer;
class TLab;

class TControl : public QObject, public ISettingsPart {
public:
    // RunPath is relative to the working folder, as every path option; the
    // settings file's is relative to the files' folder.
    TControl(TLab& Lab, QString RunPath);
    ~TControl() override;

    // Where the socket listens; empty when it does not.
    QString Path() const;
    // The socket was asked for and could not listen (reported).
    bool Failed() const { return FFailed; }

    void Load(const TProfileFile& Ini) override;
    // The path is the operator's to write.
    void Save(TProfileFile& /*Ini*/) const override {}

private:
    void Open();

    TLab& FLab;
    const QString FRunPath;
    QString FPath;
    bool FFailed = false;
    std::unique_ptr<TControlServer> FServer;
    QString FRegistered;
};

} // namespace volmar
