// The yardstick of the machine latency benchmark: the plainest Qt answer
// to the machine, ACK to every two bytes through QSerialPort.
//
//   bench_qserialport_responder DEVICE
#include <QCoreApplication>
#include <QSerialPort>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) return 2;
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    if (!port.open(QIODevice::ReadWrite)) return 1;
    qint64 have = 0;
    QObject::connect(&port, &QSerialPort::readyRead, [&] {
        for (have += port.readAll().size(); have >= 2; have -= 2) port.write("\x06", 1);
    });
    QObject::connect(&port, &QSerialPort::errorOccurred, [&](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::ResourceError) app.quit();
    });
    return app.exec();
}
