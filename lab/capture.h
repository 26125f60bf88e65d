// TCapture: the traffic captured into a file, every record the engine
// makes as one line, written by a thread of its own. Where and how is the
// [Capture] section's, or this run's file; its trouble (a file that cannot
// be written) is the alert while it lasts, and the records it lost are told.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <memory>

#include "lab/capture_file.h"
#include "lab/capture_format.h"
#include "lab/report.h"
#include "monitor/settings_part.h"

namespace volmar {

class TMonitor;

// Where and how the traffic is captured.
struct TCaptureSettings {
    bool On = true;
    TCaptureFormat Format = TCaptureFormat::Text;
    // The file; empty: "volmarsim-capture.txt" (".jsonl", ".pcapng") in the files' folder.
    QString Path;
    std::int64_t LimitBytes = std::int64_t{64} * 1024 * 1024;
    int Keep = 10;
    bool operator==(const TCaptureSettings&) const = default;
};

class TCapture : public QObject, public ISettingsPart {
    Q_OBJECT
public:
    // RunPath: this run's capture file instead of the settings file's
    // choice, in the format its name asks for; empty: none.
    TCapture(TMonitor& Monitor, QString RunPath);
    ~TCapture() override;

    const TCaptureSettings& Settings() const { return FSettings; }
    // The operator's choice; kept in the settings file.
    void SetSettings(const TCaptureSettings& Settings);
    // The capture file in use; empty when capture is off.
    QString Path() const;
    // The capture's trouble (a file that cannot be written), empty when none.
    QString Error() const;

    // Read and opened before the port opens, so that its opening is on record.
    void Load(const TProfileFile& Ini) override;
    // Written once the operator chose them: a file that never had them stays as it was.
    void Save(TProfileFile& Ini) const override;

signals:
    // Records lost since the last time it said so.
    void RecordsLost(quint64 Count);

private:
    void Open();
    void Watch();
    void CountLost();
    // Queues the line's state when it changed since it was last queued.
    void QueueState();

    TMonitor& FMonitor;
    const QString FRunPath;
    TCaptureSettings FSettings;
    bool FChosen = false;
    // The operator chose during this run: the run's file no longer holds.
    bool FChosenInRun = false;
    std::unique_ptr<TCaptureFile> FFile;
    QString FFilePath;
    TCaptureState FStateQueued;
    std::array<std::int32_t, kTotalCount> FTotalsQueued{};
    // The error last seen, and how many of the file's records were lost.
    QString FAlert;
    std::uint64_t FLostSeen = 0;
    QTimer FWatch;
};

} // namespace volmar
