// The engine driven and read through its control socket, over the virtual
// line, and the command line's port and speed kept out of the settings file.
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>

#include "lab/control.h"
#include "lab/control_server.h"
#include "lab/fault_driver.h"
#include "lab/lab_fixture.h"

namespace volmar::testing {
namespace {

class ControlTest : public LabTest {
protected:
    TMonitor& StartWithControl() {
        // A relative path is the files' folder's.
        socketPath = (dir / "control").string();
        TMonitor& m = StartOnCom1("[Control]\nPath=control\n");
        client.connectToServer(QString::fromStdString(socketPath));
        EXPECT_TRUE(client.waitForConnected(3000));
        return m;
    }
    // The next line the client gets.
    QJsonObject Next() {
        EXPECT_TRUE(PumpUntil([&] { return client.canReadLine(); }));
        return QJsonDocument::fromJson(client.readLine()).object();
    }
    // The reply to Line; a subscriber's events may come before it.
    QJsonObject Ask(const QByteArray& Line) {
        client.write(Line + '\n');
        QJsonObject reply = Next();
        while (reply.contains(QStringLiteral("event"))) reply = Next();
        return reply;
    }
    static QJsonValue At(const QJsonObject& O, const char* A, const char* B) {
        return O.value(QLatin1String(A)).toObject().value(QLatin1String(B));
    }

    std::string socketPath;
    QLocalSocket client;
};

TEST_F(ControlTest, AClientReadsDrivesAndFollowsTheEngine) {
    TMonitor& m = StartWithControl();
    EXPECT_EQ(lab->Control()->Path().toStdString(), socketPath);
    EXPECT_TRUE(Ask(R"({"cmd":"subscribe"})").value(QStringLiteral("ok")).toBool());

    EXPECT_EQ(Exchange(0x20), kAck);
    QJsonObject event = Next();
    EXPECT_EQ(event.value(QStringLiteral("event")).toString(), QStringLiteral("message"));
    EXPECT_EQ(event.value(QStringLiteral("frame")).toString(), QStringLiteral("20 20"));
    EXPECT_EQ(event.value(QStringLiteral("answer")).toString(), QStringLiteral("Ack"));
    EXPECT_TRUE(event.value(QStringLiteral("valid")).toBool());
    EXPECT_FALSE(event.value(QStringLiteral("time")).toString().isEmpty());

    EXPECT_EQ(At(Ask(R"({"cmd":"totals"})"), "totals", "in").toInt(), 1);
    const QJsonArray counts = Ask(R"({"cmd":"counts"})").value(QStringLiteral("counts")).toArray();
    ASSERT_EQ(counts.size(), 128);
    EXPECT_EQ(counts[0x20].toObject().value(QStringLiteral("messages")).toInt(), 1);
    const QJsonArray rows = Ask(R"({"cmd":"log"})").value(QStringLiteral("rows")).toArray();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].toObject().value(QStringLiteral("Response")).toString(), QStringLiteral("Ack"));
    const QJsonObject status = Ask(R"({"cmd":"status"})");
    EXPECT_EQ(At(status, "status", "port").toInt(), 1);
    EXPECT_TRUE(At(status, "status", "open").toBool());

    // Only the totals given change; an empty text is 0.
    const QJsonObject set = Ask(R"({"cmd":"set-totals","totals":{"games":"12","wins":7,"out":""}})");
    EXPECT_TRUE(set.value(QStringLiteral("ok")).toBool());
    EXPECT_EQ(m.Counters().Games, 12);
    EXPECT_EQ(m.Counters().Wins, 7);
    EXPECT_EQ(m.Counters().Out, 0);
    EXPECT_EQ(m.Counters().In, 1);
    for (const char* bad : {R"({"cmd":"set-totals","totals":{"in":100000000}})",
                            R"({"cmd":"set-totals","totals":{"in":-1}})",
                            R"({"cmd":"set-totals","totals":{"in":2,"credits-taken":1}})",
                            R"({"cmd":"speed-mode","mode":"4800"})", R"({"cmd":"launch"})",
                            R"({"cmd":)", R"([1,2])"}) {
        const QJsonObject reply = Ask(bad);
        EXPECT_FALSE(reply.value(QStringLiteral("ok")).toBool()) << bad;
        EXPECT_FALSE(reply.value(QStringLiteral("error")).toString().isEmpty()) << bad;
    }
    EXPECT_EQ(m.Counters().In, 1) << "a refused request changes nothing";

    const QJsonObject speed = Ask(R"({"cmd":"speed-mode","mode":"1200"})");
    EXPECT_EQ(speed.value(QStringLiteral("baud")).toInt(), 1200);
    EXPECT_EQ(m.SpeedMode(), sm1200);

    EXPECT_TRUE(Ask(R"({"cmd":"reset"})").value(QStringLiteral("ok")).toBool());
    EXPECT_EQ(m.Counters().Games, 0);
    EXPECT_EQ(Exchange(0x20), kAck) << "the line is still answered";
}

TEST_F(ControlTest, AWrongRequestIsRefusedNamingWhatIsWrongAndChangesNothing) {
    TMonitor& m = StartWithControl();
    EXPECT_EQ(Exchange(0x20), kAck);
    m.Counters().In = 500;
    const struct {
        const char* Request;
        const char* Named;
    } cases[] = {
        {R"({"cmd":"set-totals","totals":{"in":"abc"}})", "in:"},
        {R"({"cmd":"set-totals","totals":{"in":"1e3"}})", "in:"},
        {R"({"cmd":"set-totals","totals":{"out":"0x10"}})", "out:"},
        {R"({"cmd":"set-totals","totals":{"games":"１２"}})", "games:"},
        {R"({"cmd":"set-totals","totals":{"wins":" 7"}})", "wins:"},
        {R"({"cmd":"fault","arm":{"kind":"nak","codes":38}})", "codes is"},
        {R"({"cmd":"fault","arm":{"kind":"nak","codes":""}})", "codes is"},
        {R"({"cmd":"fault","arm":{"kind":"nak","firing":1}})", "\"firing\""},
        {R"({"cmd":"fault","arm":{"kind":"nak","every":1.5}})", "every is"},
        {R"({"cmd":"fault","arm":"nak"})", "arm is"},
        {R"({"cmd":"fault","clear":"yes"})", "clear is"},
        {R"({"cmd":"stats","clear":1})", "clear is"},
        {R"({"cmd":"set-totals","totals":{"in":5,"in":6}})", "duplicated key: \"in\""},
        {R"({"cmd":"status","cmd":"reset"})", "duplicated key: \"cmd\""},
    };
    for (const auto& c : cases) {
        const QJsonObject reply = Ask(c.Request);
        EXPECT_FALSE(reply.value(QStringLiteral("ok")).toBool(true)) << c.Request;
        EXPECT_TRUE(reply.value(QStringLiteral("error")).toString().contains(QLatin1String(c.Named)))
            << c.Request << " -> " << reply.value(QStringLiteral("error")).toString().toStdString();
    }
    EXPECT_EQ(m.Counters().In, 500);
    EXPECT_FALSE(lab->Faults()->Rules().Active());
    EXPECT_EQ(m.Counters().Codes[0x20].Messages, 1) << "not reset";
}

TEST_F(ControlTest, AFailedPortChoiceIsTheClientsErrorNeverABox) {
    StartWithControl();
    const std::string missing = (dir / "no-such-device").string();
    SetDevicePathForCom(3, missing);
    const QJsonObject reply = Ask(R"({"cmd":"select-port","port":3})");
    EXPECT_FALSE(reply.value(QStringLiteral("ok")).toBool());
    const std::string error = reply.value(QStringLiteral("error")).toString().toStdString();
    EXPECT_EQ(error.rfind("COM3 is " + missing + ", which does not exist.", 0), 0u)
        << "the plain sentence alone, without the port's internal code: " << error;
    EXPECT_TRUE(view.Errors.empty());
    EXPECT_TRUE(view.Warnings.empty());
    EXPECT_EQ(view.Last("Alert="), reply.value(QStringLiteral("error")).toString().toStdString());
}

TEST_F(ControlTest, TheCommandLinesPortAndSpeedAreThisRunsOnly) {
    WriteSettings("[Comms]\nPort=0\n[Dataport]\nSpeed Mode=2\n", false);
    TMonitorOptions options = Options();
    options.Port = 1;
    options.Speed = sm1200;
    options.Device = line->DevicePath();
    monitor = std::make_unique<TMonitor>(std::move(options), &view);
    TMonitor& m = Start();
    EXPECT_TRUE(m.ComPortPlus().Open());
    EXPECT_EQ(m.ComPortPlus().Baud(), 1200);
    Close();
    const std::string settings = ReadFile(kSettingsFileName);
    EXPECT_NE(settings.find("Port=0"), std::string::npos) << settings;
    EXPECT_NE(settings.find("Speed Mode=2"), std::string::npos) << settings;
    EXPECT_EQ(settings.find("Devices"), std::string::npos) << settings;
}

} // namespace
} // namespace volmar::testing
