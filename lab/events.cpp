#include "lab/events.h"

#include <QDateTime>

#include "dataport/message.h"
#include "monitor/monitor.h"

namespace volmar {

namespace {

QString Text(std::string_view View) {
    return QString::fromLatin1(View.data(), static_cast<qsizetype>(View.size()));
}

QJsonObject PortObject(quint16 Number, const QString& Path) {
    return {{QStringLiteral("port"), Number}, {QStringLiteral("device"), Path}};
}

} // namespace

TMonitorEvents::TMonitorEvents(TMonitor& Monitor, QObject* Parent)
    : QObject(Parent), FMonitor(Monitor) {
    connect(&Monitor, &TMonitor::MessageReceived, this,
            [this](const TDPMessage& Msg, TAcception Answer) {
                const bool known = Msg.MsgClass != mcInvalid && Msg.MsgClass != mcNone;
                Emit(QStringLiteral("message"),
                     {{QStringLiteral("frame"), Text(MessageFrameHex(&Msg))},
                      {QStringLiteral("class"), Text(MsgClassNames[Msg.MsgClass])},
                      {QStringLiteral("code"), Msg.Code()},
                      {QStringLiteral("name"),
                       known ? Text(DPMessageNames[Msg.Code()]) : QString()},
                      {QStringLiteral("text"), Text(FMonitor.Interpreter().LastText())},
                      {QStringLiteral("retry"), Msg.Retry},
                      {QStringLiteral("valid"), Msg.Valid},
                      {QStringLiteral("answer"), Text(ReplyNames[Answer <= acNotSupported
                                                                      ? Answer
                                                                      : acNotSupported])}});
            });
    connect(&Monitor, &TMonitor::LineErrorLogged, this, [this](quint16 Code) {
        Emit(QStringLiteral("line-error"),
             {{QStringLiteral("code"), Code},
              {QStringLiteral("text"), QString::fromStdString(LineErrorText(Code))}});
    });
    connect(&Monitor, &TMonitor::ReceiverTimedOut, this, [this](TTimeoutType Timeout) {
        Emit(QStringLiteral("timeout"), {{QStringLiteral("kind"), Text(TimeoutNames[Timeout])}});
    });
    connect(&Monitor, &TMonitor::ReceiverReset, this,
            [this] { Emit(QStringLiteral("receiver-reset"), {}); });
    const auto port = [this](const char* Kind) {
        return [this, Kind](quint16 Number, const QString& Path) {
            Emit(QLatin1String(Kind), PortObject(Number, Path));
        };
    };
    connect(&Monitor, &TMonitor::PortOpened, this, port("port-opened"));
    connect(&Monitor, &TMonitor::PortClosed, this, port("port-closed"));
    connect(&Monitor, &TMonitor::DeviceLost, this, port("device-lost"));
    connect(&Monitor, &TMonitor::DeviceBack, this, port("device-back"));
}

void TMonitorEvents::Emit(const QString& Kind, QJsonObject Object) {
    Object.insert(QStringLiteral("time"),
                  QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
    Object.insert(QStringLiteral("event"), Kind);
    emit Event(Object);
}

} // namespace volmar
