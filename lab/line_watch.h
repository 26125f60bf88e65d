// TLineWatch: what went right and wrong on the line, counted from every
// record the engine makes, and the silent-machine watch: a machine that has
// sent nothing for the [Watchdog] section's seconds while the port is open
// is flagged once (an event-log row, a record and a signal) until its next
// byte.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>

#include "lab/statistics.h"
#include "monitor/settings_part.h"

namespace volmar {

class TMonitor;

class TLineWatch : public QObject, public ISettingsPart {
    Q_OBJECT
public:
    explicit TLineWatch(TMonitor& Monitor);

    const TStatistics& Statistics() const { return FStatistics; }
    // Every counter back to zero, counting from now.
    void Clear();
    // Counts, now, what no record tells (records the capture lost).
    void Add(TStatKind Kind, std::uint64_t Amount);

    // Seconds without a byte before the machine counts as silent; 0: never.
    void SetSilenceLimit(int Seconds);
    int SilenceLimit() const { return FSilenceLimitS; }
    // "hh:mm:ss" of the last byte while the machine is silent, else empty.
    const QString& SilentSince() const { return FSilentSince; }

    // Read at the start-up, so the counters count from there.
    void Load(const TProfileFile& Ini) override;
    // Written once the operator chose it: a file that never had it stays as it was.
    void Save(TProfileFile& Ini) const override;

signals:
    // The machine fell silent (Since: the last byte's time) or spoke again (empty).
    void SilenceChanged(const QString& Since);

private:
    void BytesArrived();
    void WatchSilence();

    TMonitor& FMonitor;
    TStatistics FStatistics;
    int FSilenceLimitS = 10;
    bool FSilenceChosen = false;
    std::uint32_t FLastByteMs = 0;
    QString FSilentSince;
    QTimer FSilenceTimer;
};

} // namespace volmar
