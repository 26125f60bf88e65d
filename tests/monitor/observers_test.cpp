// What an observer of the engine learns from its signals.
#include "monitor/monitor_fixture.h"
#include "support/pty_line.h"

namespace volmar::testing {
namespace {

TEST_F(MonitorTest, EachMessageComesWithItsRecordAndAnswer) {
    TMonitor& m = StartOnCom1();
    std::vector<std::string> seen;
    QObject::connect(&m, &TMonitor::MessageReceived, [&](const TDPMessage& Msg, TAcception Answer) {
        // A spoiled message has no frame to show, only its header.
        const std::string what =
            Msg.Valid ? MessageFrameHex(&Msg) : "header " + std::to_string(Msg.Header);
        seen.push_back(what + " " + std::string(AcceptionNames[Answer]));
    });
    EXPECT_EQ(Exchange(0x26), 0x06);
    EXPECT_EQ(Exchange(0x6A, {0x00, 0x01}), 0x1B);
    line->InjectError(kErrParity);
    ASSERT_TRUE(PumpUntil([&] { return m.Logs().Events.RowCount() == 4; }));
    Send({0x20, 0x20});
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 3; }));
    EXPECT_EQ(seen, (std::vector<std::string>{"26 26 Accepted", "6A 00 01 6B Not Supported",
                                              "header 32 Rejected"}));
}

// Recording a message and telling observers of it must not delay its answer.
TEST_F(MonitorTest, AMessageIsRecordedAndToldOnceItsAnswerIsOnTheLine) {
    Pty pty;
    ASSERT_FALSE(pty.Name.empty());
    WriteSettings("[Devices]\nCOM2=" + pty.Name + "\n[Comms]\nPort=2\n", false);
    TMonitor& m = Start();
    ASSERT_TRUE(m.ComPortPlus().Open());
    std::vector<std::string> seen;
    const auto answered = [&] { return pty.Readable() ? " (answered)" : " (not answered)"; };
    QObject::connect(&m, &TMonitor::TrafficRecorded, [&](const TTrafficRecord& R) {
        if (R.Kind == TRecordKind::Frame) seen.push_back(std::string("frame") + answered());
        if (R.Kind == TRecordKind::Reply) seen.push_back("reply");
    });
    QObject::connect(&m, &TMonitor::MessageReceived, [&](const TDPMessage&, TAcception) {
        seen.push_back(std::string("told") + answered());
    });
    ASSERT_EQ(::write(pty.Master, "\x26\x26", 2), 2);
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 3; }));
    EXPECT_EQ(seen,
              (std::vector<std::string>{"frame (answered)", "told (answered)", "reply"}));
    EXPECT_EQ(pty.Read(1000), 0x06);
}

TEST_F(MonitorTest, LineErrorsTimeoutsAndResetsAreSignalled) {
    TMonitor& m = StartOnCom1();
    std::vector<std::string> seen;
    QObject::connect(&m, &TMonitor::LineErrorLogged,
                     [&](quint16 Code) { seen.push_back("line error " + std::to_string(Code)); });
    QObject::connect(&m, &TMonitor::ReceiverTimedOut, [&](TTimeoutType Timeout) {
        seen.push_back(std::string(TimeoutNames[Timeout]));
    });
    QObject::connect(&m, &TMonitor::ReceiverReset, [&] { seen.push_back("reset"); });
    line->InjectError(kErrFraming);
    ASSERT_TRUE(PumpUntil([&] { return !seen.empty(); }));
    clock.AdvanceTicks(kFirstMessageTicks + 1);
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 2; }));
    m.ResetSM();
    Settle();
    EXPECT_EQ(seen, (std::vector<std::string>{"line error 4",
                                              "Timeout waiting for first message", "reset"}));
}

TEST_F(MonitorTest, ThePortOpeningAndClosingIsSignalled) {
    WriteSettings("");
    TMonitor& m = Start();
    std::vector<std::string> seen;
    const QString path = QString::fromStdString(line->DevicePath());
    QObject::connect(&m, &TMonitor::PortOpened, [&](quint16 Number, const QString& Path) {
        seen.push_back("opened " + std::to_string(Number) + (Path == path ? " line" : " other"));
    });
    QObject::connect(&m, &TMonitor::PortClosed, [&](quint16 Number, const QString& Path) {
        seen.push_back("closed " + std::to_string(Number) + (Path == path ? " line" : " other"));
    });
    m.ChoosePort(1);
    m.ChoosePort(0);
    m.ChoosePort(1);
    m.ShutDown();
    EXPECT_EQ(seen, (std::vector<std::string>{"opened 1 line", "closed 1 line", "opened 1 line",
                                              "closed 1 line"}));
}

} // namespace
} // namespace volmar::testing
