// The live view: a Wireshark extcap program. Each running simulator with a
// control socket (found through the runtime folder's registry) is an
// interface; capturing on it asks the socket for every traffic record and
// writes them as pcapng to the FIFO Wireshark gives, until Wireshark stops
// reading or the simulator goes.
#include <QByteArray>
#include <QCoreApplication>
#include <QJsonObject>
#include <QLocalSocket>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "lab/json_line.h"
#include "lab/live_registry.h"
#include "lab/pcapng_convert.h"
#include "lab/pcapng_format.h"

namespace {

using namespace volmar;

// Wireshark opens the FIFO for reading about when it starts this program.
constexpr int kReaderWaitMs = 10000;
constexpr int kConnectWaitMs = 5000;

// Writes all of Bytes; false once the reader has gone.
bool WriteAll(int Fd, const std::string& Bytes) {
    for (std::size_t done = 0; done < Bytes.size();) {
        const ssize_t n = ::write(Fd, Bytes.data() + done, Bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The FIFO (or a file of its own) opened for writing, once a reader is there.
int OpenOutput(const QString& Path) {
    const QByteArray path = Path.toLocal8Bit();
    struct stat st {};
    if (::stat(path.constData(), &st) == 0 && !S_ISFIFO(st.st_mode) && !S_ISREG(st.st_mode)) {
        std::cerr << "volmarsim-extcap: " << path.constData() << " is not a FIFO\n";
        return -1;
    }
    for (int waited = 0;; waited += 50) {
        const int fd = ::open(path.constData(),
                              O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd >= 0) {
            // The only thing this program does: it may wait for its reader.
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        if (errno != ENXIO || waited >= kReaderWaitMs) {
            std::cerr << "volmarsim-extcap: cannot open " << path.constData() << ": "
                      << std::strerror(errno) << '\n';
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

QString SocketOf(const QString& Interface) {
    for (const TLiveSocket& live : LiveSockets())
        if (live.Name == Interface) return live.Socket;
    return {};
}

int Capture(const QString& Interface, const QString& Fifo) {
    const QString socketPath = SocketOf(Interface);
    if (socketPath.isEmpty()) {
        std::cerr << "volmarsim-extcap: no running simulator " << Interface.toStdString() << '\n';
        return 1;
    }
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(kConnectWaitMs)) {
        std::cerr << "volmarsim-extcap: cannot connect to " << socketPath.toStdString() << ": "
                  << socket.errorString().toStdString() << '\n';
        return 1;
    }
    socket.write("{\"cmd\":\"subscribe-traffic\"}\n");
    socket.flush();
    const int out = OpenOutput(Fifo);
    if (out < 0) return 1;
    if (!WriteAll(out, PcapngHeader())) return 0;
    bool answered = false;
    while (socket.state() == QLocalSocket::ConnectedState || socket.bytesAvailable() > 0) {
        if (!socket.canReadLine() && !socket.waitForReadyRead(-1) && !socket.canReadLine()) break;
        while (socket.canReadLine()) {
            QString why;
            const std::optional<QJsonObject> line = ParseJsonObjectLine(socket.readLine(), why);
            if (!line) continue;
            if (!answered && line->contains(QLatin1String("ok"))) {
                answered = true;
                if (!line->value(QLatin1String("ok")).toBool()) {
                    std::cerr << "volmarsim-extcap: the simulator refused: "
                              << line->value(QLatin1String("error")).toString().toStdString()
                              << '\n';
                    return 1;
                }
                continue;
            }
            const QJsonValue record = line->value(QLatin1String("record"));
            if (!record.isObject()) continue;
            std::string error;
            const std::optional<TTrafficRecord> r = ParseCaptureObject(record.toObject(), error);
            if (!r) {
                std::cerr << "volmarsim-extcap: a record it sent: " << error << '\n';
                continue;
            }
            if (!WriteAll(out, PcapngBlock(*r))) return 0;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // A reader that goes is seen as EPIPE, never as death by a signal.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto value = [&](const char* Option) {
        const qsizetype at = args.indexOf(QLatin1String(Option));
        return at >= 0 && at + 1 < args.size() ? args[at + 1] : QString();
    };
    const QString interface = value("--extcap-interface");
    if (args.contains(QLatin1String("--extcap-interfaces"))) {
        std::cout << "extcap {version=1.0}{help=https://github.com/volmar/simulator}\n";
        for (const TLiveSocket& live : LiveSockets())
            std::cout << "interface {value=" << live.Name.toStdString()
                      << "}{display=Volmar Simulator: " << live.Socket.toStdString() << "}\n";
        return 0;
    }
    if (args.contains(QLatin1String("--extcap-dlts"))) {
        std::cout << "dlt {number=" << kPcapngLinkType << "}{name=USER0}{display=Volmar dataport}\n";
        return 0;
    }
    if (args.contains(QLatin1String("--extcap-config"))) return 0;
    if (args.contains(QLatin1String("--capture"))) {
        const QString fifo = value("--fifo");
        if (interface.isEmpty() || fifo.isEmpty()) {
            std::cerr << "volmarsim-extcap: --capture needs --extcap-interface and --fifo\n";
            return 2;
        }
        return Capture(interface, fifo);
    }
    std::cerr << "usage: volmarsim-extcap --extcap-interfaces | --extcap-interface NAME "
                 "(--extcap-dlts | --extcap-config | --capture --fifo PATH)\n"
                 "Wireshark runs this program from its extcap folder.\n";
    return 2;
}
