// TMetrics: the engine's figures for Prometheus, served read-only as
// /metrics over HTTP once the start-up is over, on 127.0.0.1 unless an
// address is given: the run's [ADDR:]PORT (--metrics), else the settings
// file's [Metrics] Listen, else not at all. Every series carries the copy's
// name ([Metrics] Name, else its folder's name) as the label "machine", so
// that copies on many hosts stay apart. Nothing is counted while it does
// not serve.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "monitor/settings_part.h"
#include "monitor/traffic_record.h"

class QHttpServer;

namespace volmar {

class TLab;

struct TMetricsAddress {
    QHostAddress Address{QHostAddress::LocalHost};
    quint16 Port = 0;
};

// "PORT", "ADDRESS:PORT" or "[IPv6]:PORT"; nothing, with Error filled in,
// for anything else.
std::optional<TMetricsAddress> ParseMetricsAddress(const QString& Text, QString& Error);

class TMetrics : public QObject, public ISettingsPart {
    Q_OBJECT
public:
    // RunAddress: this run's [ADDR:]PORT instead of the settings file's.
    TMetrics(TLab& Lab, QString RunAddress);
    ~TMetrics() override;

    // Where it serves, once it does; Port 0: not serving.
    TMetricsAddress Address() const { return FServing; }
    // True when it was asked to serve and could not.
    bool Failed() const { return FFailed; }
    // The series now, in Prometheus's text format.
    QByteArray Text() const;

    void Load(const TProfileFile& Ini) override;
    // Nothing: the section is the operator's, and the file keeps it as it is.
    void Save(TProfileFile& Ini) const override;

    // Upper bounds of the reply latency's buckets, in microseconds.
    static constexpr std::array<std::int64_t, 10> kLatencyBucketsUs = {
        10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000};

private:
    void Open();
    void Count(const TTrafficRecord& Record);

    TLab& FLab;
    QString FRunAddress;
    qint64 FStartedS;
    QString FListen;
    QString FName;
    TMetricsAddress FServing;
    bool FFailed = false;
    std::unique_ptr<QHttpServer> FServer;

    // Answers sent, by what they were (ACK, NAK, ESC, other) and why.
    std::map<std::pair<int, int>, std::uint64_t> FAnswers;
    std::array<std::uint64_t, kLatencyBucketsUs.size() + 1> FLatency{};
    std::int64_t FLatencySumUs = 0;
    std::int64_t FLastByteWallUs = 0;
};

} // namespace volmar
