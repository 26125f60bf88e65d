#include "tools/control_client.h"

#include <QJsonDocument>
#include <QLocalSocket>
#include <QThread>
#include <chrono>
#include <stdexcept>

namespace volmar::machine {

namespace {

constexpr int kReplyWaitMs = 5000;
constexpr int kRetryMs = 100;

} // namespace

TControlClient::TControlClient(const std::string& Path, int WaitMs)
    : FPath(Path), FSocket(std::make_unique<QLocalSocket>()) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(WaitMs);
    for (;;) {
        FSocket->connectToServer(QString::fromLocal8Bit(Path.c_str()));
        if (FSocket->waitForConnected(kRetryMs)) return;
        if (std::chrono::steady_clock::now() >= end)
            throw std::runtime_error("cannot reach the control socket " + Path + ": " +
                                     FSocket->errorString().toStdString());
        FSocket->abort();
        // This thread runs no event loop while it waits to connect.
        QThread::msleep(kRetryMs);
    }
}

TControlClient::~TControlClient() = default;

QJsonObject TControlClient::Ask(const QJsonObject& Request) {
    FSocket->write(QJsonDocument(Request).toJson(QJsonDocument::Compact) + '\n');
    FSocket->flush();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyWaitMs);
    while (!FSocket->canReadLine()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !FSocket->waitForReadyRead(static_cast<int>(left.count())))
            throw std::runtime_error("no reply on the control socket " + FPath);
    }
    const QJsonObject reply = QJsonDocument::fromJson(FSocket->readLine()).object();
    if (!reply.value(QStringLiteral("ok")).toBool())
        throw std::runtime_error(
            "the simulator refused " +
            QJsonDocument(Request).toJson(QJsonDocument::Compact).toStdString() + ": " +
            reply.value(QStringLiteral("error")).toString().toStdString());
    return reply;
}

std::map<std::string, std::int64_t> TControlClient::Totals() {
    std::map<std::string, std::int64_t> totals;
    const QJsonObject t = Ask({{QStringLiteral("cmd"), QStringLiteral("totals")}})
                              .value(QStringLiteral("totals"))
                              .toObject();
    for (auto it = t.begin(); it != t.end(); ++it)
        totals[it.key().toStdString()] = it.value().toInteger();
    return totals;
}

} // namespace volmar::machine
