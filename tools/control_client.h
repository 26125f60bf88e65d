// The simulator's control socket from the stand-in's side: one request
// line, one reply line, for a replay that starts from the captured totals
// and checks those it ends with.
#pragma once

#include <QJsonObject>

#include <map>
#include <memory>
#include <string>

class QLocalSocket;

namespace volmar::machine {

class TControlClient {
  public:
    // Connects to the socket at Path, trying for up to WaitMs while the
    // simulator is still starting; raises std::runtime_error when it cannot.
    TControlClient(const std::string& Path, int WaitMs);
    ~TControlClient();

    // The reply to Request; raises std::runtime_error with the simulator's
    // error, or when no reply comes within a few seconds.
    QJsonObject Ask(const QJsonObject& Request);

    // The simulator's totals, by the names the capture writes.
    std::map<std::string, std::int64_t> Totals();

  private:
    std::string FPath;
    std::unique_ptr<QLocalSocket> FSocket;
};

} // namespace volmar::machine
