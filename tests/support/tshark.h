// tshark with the simulator's dissector from the build tree: the fields
// asked for, one row a packet, as Wireshark's own reader decodes a file.
#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <string>
#include <vector>

namespace volmar::test {

struct TTsharkResult {
    int Exit = -1;
    std::vector<std::string> Rows;
    std::string Errors;
};

inline QString TsharkPath() { return QStandardPaths::findExecutable(QStringLiteral("tshark")); }

// Fields are separated by '|' in each row; Extra goes before the file.
inline TTsharkResult TsharkFields(const std::string& File, const QStringList& Fields,
                                  const QStringList& Extra = {}) {
    QStringList args = {QStringLiteral("-X"),
                        QStringLiteral("lua_script:" VOLMAR_DISSECTOR),
                        QStringLiteral("-n"),
                        QStringLiteral("-T"),
                        QStringLiteral("fields"),
                        QStringLiteral("-E"),
                        QStringLiteral("separator=|")};
    for (const QString& field : Fields) args << QStringLiteral("-e") << field;
    args << Extra << QStringLiteral("-r") << QString::fromStdString(File);
    QProcess tshark;
    // Nothing of the person's own Wireshark settings changes what is read.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WIRESHARK_CONFIG_DIR"), QStringLiteral("/nonexistent"));
    tshark.setProcessEnvironment(env);
    tshark.start(TsharkPath(), args);
    TTsharkResult result;
    if (!tshark.waitForFinished(120000)) {
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

} // namespace volmar::test
