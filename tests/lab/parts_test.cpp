// Each part of the lab on its own beside the engine, and the engine whole
// without any of them.
#include <QJsonDocument>
#include <QLocalSocket>

#include "lab/capture.h"
#include "lab/fault_driver.h"
#include "lab/lab_fixture.h"
#include "lab/line_watch.h"

namespace volmar::testing {
namespace {

class PartsTest : public LabTest {
protected:
    // The lab with only Part made.
    TMonitor& StartWithOnly(bool TLabOptions::*Part, const std::string& More = "") {
        labOptions = {};
        for (bool TLabOptions::*part : {&TLabOptions::Capture, &TLabOptions::Watch,
                                        &TLabOptions::Faults, &TLabOptions::Control})
            labOptions.*part = part == Part;
        return StartOnCom1(More);
    }
};

TEST_F(MonitorTest, TheEngineAloneAnswersCountsAndWritesNothingOfTheLabs) {
    TMonitor& m = StartOnCom1();
    EXPECT_EQ(Exchange(0x20), kAck);
    EXPECT_EQ(m.Counters().In, 1);
    Close();
    EXPECT_FALSE(fs::exists(dir / "volmarsim-capture.txt")) << "no capture without the lab";
    const std::string settings = ReadFile(kSettingsFileName);
    EXPECT_NE(settings.find("[Comms]\nPort=1\n"), std::string::npos) << settings;
    for (const char* section : {"[Capture]", "[Watchdog]", "[Control]"})
        EXPECT_EQ(settings.find(section), std::string::npos) << section;
}

TEST_F(PartsTest, TheCaptureAloneWritesTheFrame) {
    StartWithOnly(&TLabOptions::Capture);
    ASSERT_EQ(lab->Watch(), nullptr);
    EXPECT_EQ(Exchange(0x20), kAck);
    EXPECT_EQ(lab->Capture()->Path().toStdString(), (dir / "volmarsim-capture.txt").string());
    Close();
    EXPECT_NE(ReadFile("volmarsim-capture.txt").find("20 20"), std::string::npos);
}

TEST_F(PartsTest, TheWatchAloneCountsTheFrameAndItsAnswer) {
    StartWithOnly(&TLabOptions::Watch);
    ASSERT_EQ(lab->Capture(), nullptr);
    EXPECT_EQ(Exchange(0x20), kAck);
    EXPECT_EQ(lab->Watch()->Statistics()[stFrames].Count, 1u);
    EXPECT_EQ(lab->Watch()->Statistics()[stAck].Count, 1u);
}

TEST_F(PartsTest, TheFaultDriverAlonePutsItsNakOnTheLine) {
    TMonitor& m = StartWithOnly(&TLabOptions::Faults);
    lab->Faults()->Rules().Arm(TFaultRule{});
    EXPECT_EQ(Exchange(0x20), kNak);
    EXPECT_EQ(m.Counters().In, 0) << "not acted on";
}

TEST_F(PartsTest, TheControlAloneAnswersAndRefusesWhatIsLeftOut) {
    StartWithOnly(&TLabOptions::Control, "[Control]\nPath=control\n");
    QLocalSocket client;
    client.connectToServer(QString::fromStdString((dir / "control").string()));
    ASSERT_TRUE(client.waitForConnected(3000));
    const auto ask = [&](const QByteArray& Line) {
        client.write(Line + '\n');
        EXPECT_TRUE(PumpUntil([&] { return client.canReadLine(); }));
        return QJsonDocument::fromJson(client.readLine()).object();
    };
    const QJsonObject status =
        ask(R"({"cmd":"status"})").value(QStringLiteral("status")).toObject();
    EXPECT_EQ(status.value(QStringLiteral("port")).toInt(), 1);
    EXPECT_FALSE(status.contains(QStringLiteral("capture")));
    EXPECT_FALSE(status.contains(QStringLiteral("silent-since")));
    for (const char* leftOut : {R"({"cmd":"stats"})", R"({"cmd":"fault"})"})
        EXPECT_FALSE(ask(leftOut).value(QStringLiteral("ok")).toBool(true)) << leftOut;
}

} // namespace
} // namespace volmar::testing
