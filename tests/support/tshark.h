// tshark with the simulator's dissector from the build tree: the fields
// asked for, one row a packet, as Wireshark's own reader decodes a file.
#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <unistd.h>

#include <string>
#include <vector>

namespace volmar::test {

struct TTsharkResult {
    int Exit = -1;
    std::vector<std::string> Rows;
    std::string Errors;
};

inline QString TsharkPath() { return QStandardPaths::findExecutable(QStringLiteral("tshark")); }

// tshark with Args after the dissector's, Env (NAME=value) added to its
// environment; at most Seconds for it to end.
inline TTsharkResult RunTshark(const QStringList& Args, const QStringList& Env = {},
                               int Seconds = 120) {
    QProcess tshark;
    // Nothing of the person's own Wireshark settings changes what is read.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WIRESHARK_CONFIG_DIR"), QStringLiteral("/nonexistent"));
    for (const QString& e : Env) env.insert(e.section(QLatin1Char('='), 0, 0), e.section(QLatin1Char('='), 1));
    tshark.setProcessEnvironment(env);
    QStringList args = QStringList{QStringLiteral("-X"),
                                   QStringLiteral("lua_script:" VOLMAR_DISSECTOR),
                                   QStringLiteral("-n")} +
                       Args;
    // Run by root, Wireshark ignores the environment (the extcap folder
    // among it): it runs as another user of a namespace of its own then,
    // who is root outside, so that it may still read what root made.
    if (::geteuid() == 0) {
        args.prepend(TsharkPath());
        args = QStringList{QStringLiteral("--user"), QStringLiteral("--map-user=1"),
                           QStringLiteral("--map-group=1")} +
               args;
        tshark.start(QStringLiteral("unshare"), args);
    } else {
        tshark.start(TsharkPath(), args);
    }
    TTsharkResult result;
    if (!tshark.waitForFinished(Seconds * 1000)) {
        tshark.kill();
        tshark.waitForFinished();
        result.Errors = "tshark did not finish";
        return result;
    }
    result.Exit = tshark.exitCode();
    result.Errors = tshark.readAllStandardError().toStdString();
    for (const QByteArray& line : tshark.readAllStandardOutput().split('\n'))
        if (!line.isEmpty()) result.Rows.push_back(line.toStdString());
    return result;
}

// The Fields of each packet, separated by '|'; Extra before "-r File".
inline QStringList FieldArgs(const QStringList& Fields) {
    QStringList args = {QStringLiteral("-T"), QStringLiteral("fields"), QStringLiteral("-E"),
                        QStringLiteral("separator=|")};
    for (const QString& field : Fields) args << QStringLiteral("-e") << field;
    return args;
}

inline TTsharkResult TsharkFields(const std::string& File, const QStringList& Fields,
                                  const QStringList& Extra = {}) {
    return RunTshark(FieldArgs(Fields) + Extra +
                     QStringList{QStringLiteral("-r"), QString::fromStdString(File)});
}

} // namespace volmar::test
