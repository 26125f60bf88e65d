// What the engine records of the line: every kind of fault moves its own
// counter, the silent-machine watch, the capture file and the export.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

#include "lab/capture.h"
#include "lab/lab_fixture.h"
#include "lab/line_watch.h"
#include "lab/report.h"
#include "serial/device_layer.h"
#include "support/tshark.h"

namespace volmar::testing {
namespace {

class RecordingTest : public LabTest {
protected:
    std::uint64_t Stat(TStatKind Kind) { return lab->Watch()->Statistics()[Kind].Count; }
    // Lets the line go quiet until the receiver's silence NAK.
    void SilenceNak() {
        clock.AdvanceTicks(kSilenceTicks + 1);
        EXPECT_EQ(Answers(1), Bytes{kNak});
    }
};

TEST_F(RecordingTest, EachKindOfFaultMovesItsOwnCounter) {
    TMonitor& m = StartOnCom1();
    clock.AdvanceTicks(kFirstMessageTicks + 1);
    EXPECT_EQ(Answers(1), Bytes{kNak});
    EXPECT_EQ(Stat(stFirstMessageNaks), 1u);

    EXPECT_EQ(Exchange(0x20), kAck);
    EXPECT_EQ(Exchange(0xA0), kAck) << "a resend of the coin just counted";
    EXPECT_EQ(Stat(stResends), 1u);
    EXPECT_EQ(Stat(stRepeats), 1u);
    EXPECT_EQ(m.Counters().In, 1);

    Send({0x26, 0x27});
    Settle();
    SilenceNak();
    EXPECT_EQ(Stat(stBadChecksum), 1u);
    Send({0x70, 0x00, 0x55, 0x56});
    Settle();
    SilenceNak();
    EXPECT_EQ(Stat(stZeroLength), 1u);
    EXPECT_EQ(Stat(stDiscardedBytes), 2u);
    Send({0x70, 21});
    Settle();
    SilenceNak();
    EXPECT_EQ(Stat(stOverLong), 1u);
    Send({0x26});
    Settle();
    clock.AdvanceTicks(kInterCharTicks + 1);
    Settle();
    SilenceNak();
    EXPECT_EQ(Stat(stGap), 1u);
    EXPECT_EQ(Stat(stSilenceNaks), 4u);

    for (std::uint8_t error : {kErrParity, kErrFraming, kErrOverrun, kErrOverflow}) {
        line->InjectError(error);
        Settle();
    }
    EXPECT_TRUE(PumpUntil([&] { return Stat(stFraming) == 1; }));
    EXPECT_EQ(Stat(stParity), 1u);
    EXPECT_EQ(Stat(stOverrun), 1u);
    EXPECT_TRUE(PumpUntil([&] { return Stat(stBufferOverflow) == 1; }));

    EXPECT_EQ(Stat(stFrames), 6u);
    EXPECT_EQ(Stat(stValid), 2u);
    EXPECT_EQ(Stat(stAck), 2u);
    EXPECT_EQ(Stat(stNak), 5u);
    EXPECT_NE(lab->Watch()->Statistics()[stGap].LastWallUs, 0);
    lab->Watch()->Clear();
    EXPECT_EQ(Stat(stFrames), 0u);
    EXPECT_EQ(lab->Watch()->Statistics()[stGap].LastWallUs, 0);
}

TEST_F(RecordingTest, ASilentMachineIsFlaggedOnceAndClearedByItsNextByte) {
    TMonitor& m = StartOnCom1();
    EXPECT_EQ(Exchange(0x20), kAck);
    clock.Advance(9000);
    Settle(400);
    EXPECT_TRUE(lab->Watch()->SilentSince().isEmpty());
    clock.Advance(1500);
    ASSERT_TRUE(PumpUntil([&] { return !lab->Watch()->SilentSince().isEmpty(); }));
    Settle(400);
    EXPECT_EQ(Stat(stMachineSilent), 1u) << "flagged once, however long it lasts";
    EXPECT_EQ(view.Last("Silent="), lab->Watch()->SilentSince().toStdString());
    const TStringGrid& log = m.Logs().Events;
    EXPECT_EQ(log.Cell(1, log.RowCount() - 1), "Machine silent since " + lab->Watch()->SilentSince().toStdString());

    EXPECT_EQ(Exchange(0x20), kAck);
    EXPECT_TRUE(lab->Watch()->SilentSince().isEmpty());
    EXPECT_EQ(view.Last("Silent="), "");
    Close();
    const std::string settings = ReadFile(kSettingsFileName);
    EXPECT_EQ(settings.find("Capture"), std::string::npos) << "nothing chosen, nothing written";
    EXPECT_EQ(settings.find("Watchdog"), std::string::npos);
}

TEST_F(RecordingTest, TheCaptureAndTheExportReadBack) {
    TMonitor& m = StartOnCom1("[Capture]\nFormat=jsonl\n");
    EXPECT_EQ(Exchange(0x20), kAck);
    const QString base = QString::fromStdString((dir / "report").string());
    const QStringList files = ExportReport(m, lab->Statistics(), base);
    ASSERT_EQ(files.size(), 3);
    const QString capture = lab->Capture()->Path();
    Close();

    QFile report(base + QStringLiteral(".json"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(report.readAll()).object();
    EXPECT_EQ(json.value(QStringLiteral("totals")).toObject().value(QStringLiteral("in")).toInt(), 1);
    EXPECT_EQ(json.value(QStringLiteral("counts")).toArray()[0x20].toObject().value(QStringLiteral("messages")).toInt(), 1);
    QFile csv(base + QStringLiteral(".csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_TRUE(csv.readAll().contains("total,in,in,1,,\r\n"));

    QFile captured(capture);
    ASSERT_TRUE(captured.open(QIODevice::ReadOnly)) << capture.toStdString();
    std::vector<QJsonObject> records;
    for (const QByteArray& l : captured.readAll().split('\n'))
        if (!l.isEmpty()) records.push_back(QJsonDocument::fromJson(l).object());
    const auto frame = std::find_if(records.begin(), records.end(), [](const QJsonObject& o) {
        return o.value(QStringLiteral("kind")).toString() == QStringLiteral("frame");
    });
    ASSERT_NE(frame, records.end());
    EXPECT_TRUE(std::any_of(records.begin(), frame, [](const QJsonObject& o) {
        return o.value(QStringLiteral("event")).toString() == QStringLiteral("port-opened");
    })) << "the port's opening is on record";
    EXPECT_EQ(frame->value(QStringLiteral("bytes")).toString(), QStringLiteral("20 20"));
    const QJsonObject reply = *(frame + 1);
    EXPECT_EQ(reply.value(QStringLiteral("kind")).toString(), QStringLiteral("reply"));
    EXPECT_GE(reply.value(QStringLiteral("latency_us")).toInteger(-1), 0);
    EXPECT_GT(frame->value(QStringLiteral("first_us")).toInteger(0), 0);
    EXPECT_LE(frame->value(QStringLiteral("first_us")).toInteger(0),
              frame->value(QStringLiteral("mono_us")).toInteger(0));
    // The file begins with the state a replay starts from and ends with the totals.
    const auto start = std::find_if(records.begin(), frame, [](const QJsonObject& o) {
        return o.value(QStringLiteral("event")).toString() == QStringLiteral("start-state");
    });
    ASSERT_NE(start, frame);
    EXPECT_EQ(start->value(QStringLiteral("detail")).toString(), QStringLiteral("speed mode 9600"));
    EXPECT_EQ(start->value(QStringLiteral("value")).toInt(), 9600);
    EXPECT_EQ((start + 1)->value(QStringLiteral("detail")).toString(),
              QStringLiteral("in=0 out=0 games=0 stakes=0 wins=0 cashbox=0 refills=0 dumps=0 "
                             "cancelled-credits=0 credits-taken=0"));
    EXPECT_EQ(records.back().value(QStringLiteral("event")).toString(), QStringLiteral("totals"));
    EXPECT_TRUE(records.back().value(QStringLiteral("detail")).toString().startsWith(
        QStringLiteral("in=1 ")));
    EXPECT_EQ(records[records.size() - 2].value(QStringLiteral("event")).toString(),
              QStringLiteral("port-closed"));
}

TEST_F(RecordingTest, AnExportRefusesANameTakenByAFifoBeforeWritingAny) {
    TMonitor& m = StartOnCom1();
    const std::string base = (dir / "report").string();
    ASSERT_EQ(::mkfifo((base + ".json").c_str(), 0600), 0);
    std::string error;
    try {
        ExportReport(m, lab->Statistics(), QString::fromStdString(base));
    } catch (const std::exception& e) {
        error = e.what();
    }
    EXPECT_EQ(error, "Unable to write to " + base + ".json: it is a FIFO");
    EXPECT_TRUE(fs::is_fifo(base + ".json"));
    EXPECT_FALSE(fs::exists(base + ".csv")) << "none is written";
}

// The capture's trouble is the alert while it lasts; the records it lost
// are counted, and marked in the file once it can be written again.
TEST_F(RecordingTest, ACaptureThatFailsIsShownCountedAndMarkedUntilItWritesAgain) {
    const fs::path later = dir / "later";
    TMonitor& m =
        StartOnCom1("[Capture]\nFormat=jsonl\nPath=" + (later / "capture.jsonl").string() + "\n");
    EXPECT_EQ(Exchange(0x20), kAck);
    ASSERT_TRUE(PumpUntil([&] { return !m.Reports().Alert().isEmpty(); }));
    EXPECT_EQ(m.Reports().Alert(), lab->Capture()->Error());
    fs::create_directory(later);
    EXPECT_EQ(Exchange(0x20), kAck);
    EXPECT_TRUE(PumpUntil([&] { return m.Reports().Alert().isEmpty(); }))
        << "cleared once the capture writes again";
    const std::uint64_t lost = Stat(stCaptureLost);
    EXPECT_GT(lost, 0u);
    const QString capture = lab->Capture()->Path();
    Close();

    QFile captured(capture);
    ASSERT_TRUE(captured.open(QIODevice::ReadOnly));
    const QJsonObject mark = QJsonDocument::fromJson(captured.readLine()).object();
    EXPECT_EQ(mark.value(QStringLiteral("event")).toString(), QStringLiteral("capture-lost"));
    EXPECT_EQ(mark.value(QStringLiteral("value")).toInteger(), static_cast<qint64>(lost));
}

// Chosen in the settings file, pcapng goes to its own default file and is
// kept as chosen.
TEST_F(RecordingTest, APcapngCaptureChosenInTheSettings) {
    StartOnCom1("[Capture]\nFormat=pcapng\n");
    EXPECT_EQ(Exchange(0x20), kAck);
    const QString capture = lab->Capture()->Path();
    EXPECT_TRUE(capture.endsWith(QStringLiteral("/volmarsim-capture.pcapng"))) << capture.toStdString();
    TCaptureSettings chosen = lab->Capture()->Settings();
    chosen.Keep = 3;
    lab->Capture()->SetSettings(chosen);
    Close();
    EXPECT_NE(ReadFile(kSettingsFileName).find("Format=pcapng"), std::string::npos);
    const test::TTsharkResult read = test::TsharkFields(
        capture.toStdString(), {QStringLiteral("volmar.name"), QStringLiteral("volmar.answer")},
        {QStringLiteral("-Y"), QStringLiteral("volmar.kind <= 1 && !(volmar.cause == 1)")});
    EXPECT_EQ(read.Rows, (std::vector<std::string>{"1Ft In|", "|0x06"})) << read.Errors;
}

} // namespace
} // namespace volmar::testing
