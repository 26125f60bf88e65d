// The capture: every kind of record as a person reads it and as a program
// parses it, and the file written from a thread of its own, rotated at its
// limit, with no line lost unnoticed or split.
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <numeric>
#include <optional>
#include <thread>

#include "interpret/logs.h"
#include "lab/capture_file.h"
#include "lab/capture_format.h"
#include "support/file_fixtures.h"

namespace volmar::testing {
namespace {

namespace fs = std::filesystem;

// 2026-07-14 07:05:03 UTC: summer time in the zone the tests choose.
constexpr std::int64_t kWallUs = 1'784'012'703'000'042;
constexpr std::int64_t kMonoUs = 1'234'567'890;
// The writing thread runs only on a core nobody else wants: on a busy
// machine it may take long to get one.
constexpr std::chrono::seconds kPatience(60);

// Split at the fixed columns, the rest at its separators.
struct TTextColumns {
    std::string Date, Time, Mono, Kind;
    std::vector<std::string> Rest;
};

// In Central European time, so that local time is not UTC.
class CaptureFormatTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* zone = std::getenv("TZ")) savedZone = zone;
        ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        ::tzset();
    }
    void TearDown() override {
        savedZone ? ::setenv("TZ", savedZone->c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }

    static TTrafficRecord Record(TRecordKind Kind, std::vector<std::uint8_t> Bytes = {}) {
        TTrafficRecord r;
        r.Kind = Kind;
        r.WallUs = kWallUs;
        r.MonoUs = kMonoUs;
        r.Bytes = TRecordBytes(Bytes.begin(), Bytes.end());
        return r;
    }

    // The local time of WallUs as Qt reckons it, with Separator between
    // date and time.
    static std::string LocalTime(std::int64_t WallUs, char Separator) {
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(WallUs / 1000);
        return (t.toString(QStringLiteral("yyyy-MM-dd")) + QChar::fromLatin1(Separator) +
                t.toString(QStringLiteral("hh:mm:ss")) +
                QStringLiteral(".%1").arg(WallUs % 1000000, 6, 10, QLatin1Char('0')))
            .toStdString();
    }

    static void ExpectOneLine(const std::string& Line) {
        ASSERT_FALSE(Line.empty());
        EXPECT_EQ(Line.find('\n'), Line.size() - 1) << Line;
    }

    static TTextColumns Text(const TTrafficRecord& R) {
        const std::string line = FormatRecord(R, TCaptureFormat::Text);
        ExpectOneLine(line);
        TTextColumns c;
        if (line.size() < 51) {
            ADD_FAILURE() << "too short: " << line;
            return c;
        }
        EXPECT_EQ(line.substr(0, 10) + line[10] + line.substr(11, 15), LocalTime(R.WallUs, ' '));
        EXPECT_EQ(line[26], ' ');
        EXPECT_EQ(line[41], ' ');
        EXPECT_EQ(line[49], ' ');
        c.Date = line.substr(0, 10);
        c.Time = line.substr(11, 15);
        c.Mono = line.substr(27, 14);
        c.Kind = line.substr(42, 7);
        const std::string rest = line.substr(50, line.size() - 51);
        for (std::size_t at = 0;;) {
            const std::size_t bar = rest.find(" | ", at);
            c.Rest.push_back(rest.substr(at, bar - at));
            if (bar == std::string::npos) break;
            at = bar + 3;
        }
        return c;
    }

    static QJsonObject Json(const TTrafficRecord& R, const char* Kind) {
        const std::string line = FormatRecord(R, TCaptureFormat::JsonLines);
        ExpectOneLine(line);
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
        const QJsonObject o = doc.object();
        EXPECT_EQ(o.value(QLatin1String("wall")).toString().toStdString(),
                  LocalTime(R.WallUs, 'T'));
        EXPECT_EQ(o.value(QLatin1String("mono_us")).toInteger(), R.MonoUs);
        EXPECT_EQ(o.value(QLatin1String("kind")).toString(), QLatin1String(Kind));
        return o;
    }

    static std::string Str(const QJsonObject& O, const char* Key) {
        return O.value(QLatin1String(Key)).toString().toStdString();
    }
    static qint64 Int(const QJsonObject& O, const char* Key) {
        return O.value(QLatin1String(Key)).toInteger(-1);
    }
    static bool Has(const QJsonObject& O, const char* Key) {
        return O.contains(QLatin1String(Key));
    }

    std::optional<std::string> savedZone;
};

TEST_F(CaptureFormatTest, AFrameInBothFormats) {
    TTrafficRecord r = Record(TRecordKind::Frame, {0x69, 0x00, 0x0A, 0x73});
    r.Class = mcTwoDataBytes;
    r.Code = 0x69;
    r.Text = "10";
    r.Retry = true;
    r.Repeat = true;
    r.Valid = true;

    const TTextColumns t = Text(r);
    EXPECT_EQ(t.Mono, QString::number(kMonoUs).rightJustified(14).toStdString());
    EXPECT_EQ(t.Kind, "RX     ");
    const std::vector<std::string> rest = {"69 00 0A 73",
                                           std::string(MsgClassNames[mcTwoDataBytes]),
                                           std::string(DPMessageNames[0x69]),
                                           "10",
                                           "retry",
                                           "repeat",
                                           "valid"};
    EXPECT_EQ(t.Rest, rest);

    const QJsonObject j = Json(r, "frame");
    EXPECT_EQ(Str(j, "bytes"), "69 00 0A 73");
    EXPECT_EQ(Str(j, "class"), MsgClassNames[mcTwoDataBytes]);
    EXPECT_EQ(Int(j, "code"), 0x69);
    EXPECT_EQ(Str(j, "name"), DPMessageNames[0x69]);
    EXPECT_EQ(Str(j, "text"), "10");
    EXPECT_TRUE(j.value(QLatin1String("retry")).toBool());
    EXPECT_TRUE(j.value(QLatin1String("repeat")).toBool());
    EXPECT_TRUE(j.value(QLatin1String("valid")).toBool());
    EXPECT_FALSE(Has(j, "fault"));
    EXPECT_FALSE(Has(j, "line_error"));
}

TEST_F(CaptureFormatTest, AnInvalidFrameNamesItsFault) {
    TTrafficRecord r = Record(TRecordKind::Frame, {0x26, 0x27});
    r.Class = mcSingleByte;
    r.Code = 0x26;
    r.Fault = ffBadChecksum;
    {
        const TTextColumns t = Text(r);
        ASSERT_EQ(t.Rest.size(), 5u);
        EXPECT_EQ(t.Rest[3], "");
        EXPECT_EQ(t.Rest[4], "invalid: bad checksum");
        const QJsonObject j = Json(r, "frame");
        EXPECT_FALSE(j.value(QLatin1String("valid")).toBool(true));
        EXPECT_FALSE(j.value(QLatin1String("retry")).toBool(true));
        EXPECT_EQ(Str(j, "fault"), "bad checksum");
        EXPECT_FALSE(Has(j, "line_error"));
    }
    r.Fault = ffLineError;
    r.LineError = 3;
    {
        const TTextColumns t = Text(r);
        EXPECT_EQ(t.Rest.back(), "invalid: line error (" + LineErrorText(3) + ")");
        const QJsonObject j = Json(r, "frame");
        EXPECT_EQ(Str(j, "fault"), "line error");
        EXPECT_EQ(Int(j, "line_error"), 3);
    }
}

TEST_F(CaptureFormatTest, RepliesWithTheirCauseAndLatency) {
    TTrafficRecord ack = Record(TRecordKind::Reply, {kAck});
    ack.LatencyUs = 545;
    TTrafficRecord nak = Record(TRecordKind::Reply, {kNak});
    nak.Cause = rcSilenceNak;
    nak.Dropped = true;
    TTrafficRecord odd = Record(TRecordKind::Reply, {0x41});
    odd.Cause = rcFirstMessageNak;

    const TTextColumns t = Text(ack);
    EXPECT_EQ(t.Kind, "TX     ");
    EXPECT_EQ(t.Rest, (std::vector<std::string>{"06 ACK", "answer", "latency 545 us"}));
    EXPECT_EQ(Text(nak).Rest, (std::vector<std::string>{"15 NAK", "silence NAK", "dropped"}));
    EXPECT_EQ(Text(odd).Rest, (std::vector<std::string>{"41 ?", "first-message NAK"}));

    const QJsonObject a = Json(ack, "reply");
    EXPECT_EQ(Str(a, "byte"), "06");
    EXPECT_EQ(Str(a, "reply"), "ACK");
    EXPECT_EQ(Str(a, "cause"), "answer");
    EXPECT_FALSE(a.value(QLatin1String("dropped")).toBool(true));
    EXPECT_EQ(Int(a, "latency_us"), 545);
    const QJsonObject n = Json(nak, "reply");
    EXPECT_EQ(Str(n, "reply"), "NAK");
    EXPECT_EQ(Str(n, "cause"), "silence NAK");
    EXPECT_TRUE(n.value(QLatin1String("dropped")).toBool());
    EXPECT_FALSE(Has(n, "latency_us"));
    EXPECT_EQ(Str(Json(odd, "reply"), "reply"), "?");
}

TEST_F(CaptureFormatTest, DiscardedBytesWithTheirCount) {
    const TTrafficRecord r = Record(TRecordKind::Discarded, {0x26, 0xFF, 0x00});
    const TTextColumns t = Text(r);
    EXPECT_EQ(t.Kind, "DISCARD");
    EXPECT_EQ(t.Rest, (std::vector<std::string>{"26 FF 00", "3 bytes"}));
    const QJsonObject j = Json(r, "discarded");
    EXPECT_EQ(Str(j, "bytes"), "26 FF 00");
    EXPECT_EQ(Int(j, "count"), 3);
}

TEST_F(CaptureFormatTest, EventsWithTheirValueAndDetail) {
    TTrafficRecord speed = Record(TRecordKind::Event);
    speed.Event = TLineEvent::SpeedChanged;
    speed.Value = 9600;
    TTrafficRecord lost = Record(TRecordKind::Event);
    lost.Event = TLineEvent::DeviceLost;
    lost.Value = 3;
    lost.Detail = "/dev/ttyUSB0";
    TTrafficRecord silent = Record(TRecordKind::Event);
    silent.Event = TLineEvent::MachineSilent;
    silent.Detail = "since 15:40:01";
    TTrafficRecord hole = Record(TRecordKind::Event);
    hole.Event = TLineEvent::CaptureLost;
    hole.Value = 12;
    hole.Detail = "between 09:05:03 and 09:05:04";

    const TTextColumns t = Text(speed);
    EXPECT_EQ(t.Kind, "EVENT  ");
    EXPECT_EQ(t.Rest, (std::vector<std::string>{"speed-changed", "9600 baud"}));
    EXPECT_EQ(Text(lost).Rest, (std::vector<std::string>{"device-lost", "COM3", "/dev/ttyUSB0"}));
    EXPECT_EQ(Text(silent).Rest, (std::vector<std::string>{"machine-silent", "since 15:40:01"}));
    EXPECT_EQ(Text(hole).Rest, (std::vector<std::string>{"capture-lost", "12 records lost",
                                                         "between 09:05:03 and 09:05:04"}));
    EXPECT_EQ(Int(Json(hole, "event"), "value"), 12);

    const QJsonObject j = Json(lost, "event");
    EXPECT_EQ(Str(j, "event"), "device-lost");
    EXPECT_EQ(Int(j, "value"), 3);
    EXPECT_EQ(Str(j, "detail"), "/dev/ttyUSB0");
    EXPECT_EQ(Str(Json(speed, "event"), "event"), "speed-changed");
}

TEST_F(CaptureFormatTest, ControlCharactersFromOutsideStayOnTheLine) {
    TTrafficRecord r = Record(TRecordKind::Event);
    r.Event = TLineEvent::FaultInjected;
    r.Detail = "noise\r\nbreak";
    EXPECT_EQ(Text(r).Rest.back(), "noise^M^Jbreak");
    EXPECT_EQ(Str(Json(r, "event"), "detail"), r.Detail);
}

// Each line reckons its own local time, through second and day boundaries
// and into winter time.
TEST_F(CaptureFormatTest, LocalTimeOfEachRecord) {
    TTrafficRecord r = Record(TRecordKind::Event);
    constexpr std::int64_t kHourUs = std::int64_t{3600} * 1'000'000;
    for (const std::int64_t wall : {kWallUs, kWallUs + 1, kWallUs + 999'958, kWallUs + 999'957,
                                    kWallUs + 17 * kHourUs, kWallUs + 160 * 24 * kHourUs}) {
        r.WallUs = wall;
        Text(r);
        Json(r, "event");
    }
}

// Lines numbered in order, of lengths that vary.
std::string NumberedLine(int N) {
    return "line " + std::to_string(N) + ' ' +
           std::string(static_cast<std::size_t>(N % 7 * 5), 'x') + '\n';
}

std::string ReadFile(const fs::path& Path) {
    std::ifstream in(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The lines of Text, each with its newline; a last one without is kept too.
std::vector<std::string> SplitLines(const std::string& Text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < Text.size();) {
        const std::size_t end = Text.find('\n', at);
        const std::size_t next = end == std::string::npos ? Text.size() : end + 1;
        lines.push_back(Text.substr(at, next - at));
        at = next;
    }
    return lines;
}

class CaptureFileTest : public ::testing::Test {
protected:
    fs::path Numbered(int N) const { return path.string() + "." + std::to_string(N); }

    test::TScratchFolder folder;
    fs::path path = folder.Path() / "capture.txt";
};

TEST_F(CaptureFileTest, RotatesAtTheLimitRemovingTheOldest) {
    constexpr std::uint64_t kLimit = 200;
    constexpr int kKeep = 3;
    std::ofstream(path) << NumberedLine(0) << NumberedLine(1) << NumberedLine(2);
    TCaptureFile capture(path.string(), kLimit, kKeep);
    std::uint64_t written = 0;
    int next = 3;
    const auto write = [&](int Upto) {
        for (; next < Upto; ++next) {
            capture.Write(NumberedLine(next));
            written += NumberedLine(next).size();
        }
        ASSERT_TRUE(capture.Flush(kPatience));
    };
    // The files oldest first, each whole lines within the limit, and each
    // but the newest turned over only when the next line would not fit.
    const auto files = [&] {
        std::vector<std::vector<std::string>> all;
        for (int n = kKeep - 1; n >= 1; --n)
            if (fs::exists(Numbered(n))) all.push_back(SplitLines(ReadFile(Numbered(n))));
        all.push_back(SplitLines(ReadFile(path)));
        for (std::size_t i = 0; i < all.size(); ++i) {
            const std::size_t size =
                std::accumulate(all[i].begin(), all[i].end(), std::size_t{0},
                                [](std::size_t s, const std::string& l) { return s + l.size(); });
            EXPECT_LE(size, kLimit);
            for (const std::string& line : all[i]) EXPECT_EQ(line.back(), '\n');
            if (i + 1 < all.size() && !all[i + 1].empty()) {
                EXPECT_GT(size + all[i + 1].front().size(), kLimit);
            }
        }
        return all;
    };
    const auto lines = [](const std::vector<std::vector<std::string>>& Files) {
        std::vector<std::string> all;
        for (const auto& f : Files) all.insert(all.end(), f.begin(), f.end());
        return all;
    };

    // The file found there is continued, and counted against the limit.
    write(12);
    std::vector<std::string> expected;
    for (int n = 0; n < 12; ++n) expected.push_back(NumberedLine(n));
    EXPECT_EQ(lines(files()), expected);

    write(60);
    write(100);
    EXPECT_FALSE(fs::exists(Numbered(kKeep)));
    const auto kept = files();
    ASSERT_EQ(kept.size(), static_cast<std::size_t>(kKeep));
    const std::vector<std::string> tail = lines(kept);
    ASSERT_LT(tail.size(), 100u);
    for (std::size_t i = 0; i < tail.size(); ++i)
        EXPECT_EQ(tail[i], NumberedLine(static_cast<int>(100 - tail.size() + i)));
    EXPECT_EQ(capture.Written(), written);
    EXPECT_EQ(capture.Lost(), 0u);
    EXPECT_EQ(capture.Error(), "");
}

// Floods Count lines of one length, then a line longer than QueueLimit;
// every line is in the file whole and in order, or counted lost, and each
// run of lines lost is marked where it was with how many.
void Flood(const fs::path& Path, std::size_t QueueLimit, int Count, bool ExpectAll) {
    const std::size_t length = 100;
    std::uint64_t lost = 0;
    std::uint64_t written = 0;
    {
        TCaptureFile capture(Path.string(), TCaptureFile::kDefaultSizeLimit, 2, QueueLimit);
        for (int i = 0; i < Count; ++i) {
            std::string line = std::to_string(i);
            line.resize(length - 1, '.');
            capture.Write(line + '\n');
        }
        capture.Write(std::string(QueueLimit, 'x') + '\n');
        ASSERT_TRUE(capture.Flush(kPatience));
        lost = capture.Lost();
        written = capture.Written();
    }
    ASSERT_GE(lost, 1u);
    if (ExpectAll) {
        EXPECT_EQ(lost, 1u);
    }
    const std::string text = ReadFile(Path);
    const std::string mark = "capture-lost | ";
    int last = -1;
    std::uint64_t marked = 0;
    std::uint64_t unseen = 0;
    std::size_t kept = 0;
    std::size_t lastMarks = 0; // bytes
    for (const std::string& line : SplitLines(text)) {
        ASSERT_EQ(line.back(), '\n');
        if (const std::size_t at = line.find(mark); at != std::string::npos) {
            unseen += std::stoull(line.substr(at + mark.size()));
            lastMarks += line.size();
            continue;
        }
        ASSERT_EQ(line.size(), length);
        const int n = std::stoi(line);
        ASSERT_EQ(static_cast<std::uint64_t>(n - last - 1), unseen) << "marked before line " << n;
        marked += unseen;
        unseen = 0;
        lastMarks = 0;
        last = n;
        kept += line.size();
    }
    EXPECT_EQ(kept, (Count + 1 - lost) * length);
    // The line too long for the queue, and any before it, are marked on the way out.
    EXPECT_EQ(static_cast<std::uint64_t>(Count - last), unseen);
    EXPECT_EQ(marked + unseen, lost);
    EXPECT_EQ(written, text.size() - lastMarks);
}

TEST_F(CaptureFileTest, AFloodWithinTheQueueKeepsEveryLine) {
    Flood(path, TCaptureFile::kDefaultQueueLimit, 100'000, true);
}

TEST_F(CaptureFileTest, AFloodPastTheQueueCountsEveryLineLost) {
    Flood(path, 4096, 100'000, false);
}

// Pages first touched so far by the calling thread or by all of them.
long MinorFaults(int Who) {
    rusage usage{};
    getrusage(Who, &usage);
    return usage.ru_minflt;
}

// A line being written still holds its room in the queue.
TEST(CaptureQueueTest, LinesBeingWrittenCountAgainstTheLimit) {
    TLineQueue queue(10);
    EXPECT_TRUE(queue.Push("12345678\n"));
    TLineQueue::TBatch batch;
    ASSERT_TRUE(queue.Take(batch));
    EXPECT_EQ(batch, TLineQueue::TBatch{{"12345678\n"}});
    EXPECT_FALSE(queue.Push("ab\n"));
    EXPECT_EQ(queue.Lost(), 1u);
    queue.Done();
    EXPECT_TRUE(queue.Push("ab\n"));
}

// The thread that queues answers the line: a run of records as long as a
// batch holds when answering flat out costs it no page fault.
TEST(CaptureQueueTest, QueuingARunOfRecordsTouchesNoNewMemory) {
    TTrafficRecord record;
    record.Bytes = {0x26};
    std::vector<TCaptureItem> items(2000, TCaptureItem(record));
    TBatchQueue<TCaptureItem> queue(TCaptureFile::kDefaultQueueLimit);
    // The first call binds the functions the queue calls.
    ASSERT_TRUE(queue.Push(items.front()));
    const long before = MinorFaults(RUSAGE_THREAD);
    for (TCaptureItem& item : items) ASSERT_TRUE(queue.Push(std::move(item)));
    EXPECT_EQ(MinorFaults(RUSAGE_THREAD) - before, 0);
}

// The writing thread shares the answering one's cores: a batch as big as
// answering flat out gathers, once one has gone, takes no new memory.
TEST_F(CaptureFileTest, WritingABatchTouchesNoNewMemory) {
    TCaptureFile capture(path.string());
    std::vector<TTrafficRecord> records(2000);
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i].Kind = i % 2 ? TRecordKind::Reply : TRecordKind::Frame;
        records[i].Bytes = i % 2 ? TRecordBytes{0x06} : TRecordBytes{0x26, 0x26};
        records[i].WallUs = kWallUs;
    }
    capture.Write(records.back());
    ASSERT_TRUE(capture.Flush(kPatience));
    const long before = MinorFaults(RUSAGE_SELF);
    for (TTrafficRecord& r : records) capture.Write(std::move(r));
    ASSERT_TRUE(capture.Flush(kPatience));
    EXPECT_EQ(MinorFaults(RUSAGE_SELF) - before, 0);
    EXPECT_EQ(capture.Lost(), 0u);
    EXPECT_EQ(SplitLines(ReadFile(path)).size(), records.size() + 1);
}

TEST_F(CaptureFileTest, AFileThatCannotBeOpenedIsReportedAndTriedAgain) {
    const fs::path missing = folder.Path() / "later" / "capture.txt";
    TCaptureFile capture(missing.string());
    capture.Write("first\n");
    ASSERT_TRUE(capture.Flush(kPatience));
    EXPECT_NE(capture.Error().find(missing.string()), std::string::npos) << capture.Error();
    EXPECT_EQ(capture.Lost(), 1u);

    fs::create_directory(missing.parent_path());
    capture.Write("second\n");
    ASSERT_TRUE(capture.Flush(kPatience));
    EXPECT_EQ(capture.Error(), "");
    const std::vector<std::string> lines = SplitLines(ReadFile(missing));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("capture-lost | 1 record lost"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1], "second\n");
    EXPECT_EQ(capture.Lost(), 1u);
}

// A full disk: the lines that do not fit are counted lost, none is left
// half written, and writing goes on once there is room.
TEST_F(CaptureFileTest, AFullDiskLosesWholeLinesOnly) {
    const std::string line = std::string(89, 'y') + '\n';
    TCaptureFile capture(path.string());
    {
        const test::TResourceLimit full(RLIMIT_FSIZE, 1000);
        for (int i = 0; i < 15; ++i) capture.Write(line);
        ASSERT_TRUE(capture.Flush(kPatience));
        EXPECT_NE(capture.Error().find("cannot write"), std::string::npos) << capture.Error();
    }
    EXPECT_EQ(capture.Lost(), 4u);
    EXPECT_EQ(capture.Written(), 11 * line.size());
    capture.Write("after\n");
    ASSERT_TRUE(capture.Flush(kPatience));
    EXPECT_EQ(capture.Error(), "");
    const std::vector<std::string> lines = SplitLines(ReadFile(path));
    ASSERT_EQ(lines.size(), 13u);
    for (int i = 0; i < 11; ++i) EXPECT_EQ(lines[static_cast<std::size_t>(i)], line);
    EXPECT_NE(lines[11].find("capture-lost | 4 records lost"), std::string::npos) << lines[11];
    EXPECT_EQ(lines[12], "after\n");
}

// The hole's record stands where the records were lost, saying how many,
// between the last record written before them and the first after.
TEST_F(CaptureFileTest, AHoleIsMarkedWithHowManyAndWhen) {
    const auto reply = [](int N) {
        TTrafficRecord r;
        r.Kind = TRecordKind::Reply;
        r.Bytes = {kAck};
        r.WallUs = kWallUs + N * 1000;
        r.MonoUs = kMonoUs + N * 1000;
        return r;
    };
    const auto json = [](const TTrafficRecord& R) {
        return FormatRecord(R, TCaptureFormat::JsonLines);
    };
    const std::size_t size = json(reply(0)).size();
    TCaptureFile capture(path.string(), TCaptureFile::kDefaultSizeLimit, 2,
                         TCaptureFile::kDefaultQueueLimit, TCaptureFormat::JsonLines);
    {
        const test::TResourceLimit full(RLIMIT_FSIZE, 3 * size + size / 2);
        for (int i = 0; i < 10; ++i) capture.Write(reply(i));
        ASSERT_TRUE(capture.Flush(kPatience));
    }
    capture.Write(reply(10));
    ASSERT_TRUE(capture.Flush(kPatience));
    EXPECT_EQ(capture.Lost(), 7u);

    TTrafficRecord mark = reply(10);
    mark.Kind = TRecordKind::Event;
    mark.Bytes.clear();
    mark.Event = TLineEvent::CaptureLost;
    mark.Value = 7;
    mark.Detail = "between " + WallText(reply(2).WallUs) + " and " + WallText(reply(10).WallUs);
    EXPECT_EQ(SplitLines(ReadFile(path)), (std::vector<std::string>{json(reply(0)), json(reply(1)),
                                                                     json(reply(2)), json(mark),
                                                                     json(reply(10))}));
}

TEST_F(CaptureFileTest, WhatIsNeitherAFileNorAFifoIsRefusedNamingWhatItIs) {
    fs::create_directory(path);
    for (const auto& [where, what] : {std::pair<fs::path, std::string>{path, "a folder"},
                                      {"/dev/null", "a character device"}}) {
        TCaptureFile capture(where.string());
        capture.Write("line\n");
        ASSERT_TRUE(capture.Flush(kPatience));
        EXPECT_EQ(capture.Error(), "cannot write " + where.string() + ": it is " + what);
        EXPECT_EQ(capture.Lost(), 1u);
    }
}

// A replay starts from the state at a file's top and checks the totals at
// its end: each file, rotated or not, has both, and they meet at a rotation.
TEST_F(CaptureFileTest, EachFileBeginsWithTheStateAndEndsWithItsTotals) {
    {
        TCaptureFile capture(path.string(), 600, 3);
        for (int i = 0; i < 12; ++i) {
            capture.Write(TCaptureState{1200, "auto", "in=" + std::to_string(i)});
            TTrafficRecord reply;
            reply.Kind = TRecordKind::Reply;
            reply.Bytes = {kAck};
            capture.Write(reply);
        }
    }
    const auto totals = [](const std::string& Line) {
        EXPECT_NE(Line.find(" EVENT   totals | in="), std::string::npos) << Line;
        return Line.substr(Line.rfind('='));
    };
    const std::vector<std::string> older = SplitLines(ReadFile(Numbered(1)));
    const std::vector<std::string> newest = SplitLines(ReadFile(path));
    for (const auto& lines : {older, newest}) {
        ASSERT_GE(lines.size(), 3u);
        EXPECT_NE(lines[0].find("start-state | 1200 baud | speed mode auto"), std::string::npos);
        totals(lines[1]);
    }
    EXPECT_EQ(totals(older.back()), totals(newest[1]));
    EXPECT_EQ(totals(newest.back()), "=11\n");
}

// Rotation turns over only the files the capture makes: a link is written
// through, and neither it nor its target is renamed.
TEST_F(CaptureFileTest, ALinkIsWrittenThroughAndNeverRotated) {
    const fs::path target = folder.Path() / "elsewhere.txt";
    fs::create_symlink(target, path);
    std::string expected;
    {
        TCaptureFile capture(path.string(), 100, 3);
        for (int i = 0; i < 20; ++i) {
            capture.Write(NumberedLine(i));
            expected += NumberedLine(i);
        }
    }
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(ReadFile(target), expected);
    EXPECT_FALSE(fs::exists(Numbered(1)));
}

// A FIFO is never rotated, and a reader that takes nothing holds up
// neither the writing nor the end: what it did not take is given up.
TEST_F(CaptureFileTest, AFifoWhoseReaderTakesNothingHoldsUpNothing) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    {
        TCaptureFile capture(path.string(), 100, 3);
        // More than a pipe holds.
        for (int i = 0; i < 10000; ++i) capture.Write(NumberedLine(i));
    }
    EXPECT_TRUE(fs::is_fifo(path));
    EXPECT_FALSE(fs::exists(Numbered(1)));
    char first[8] = {};
    EXPECT_EQ(::read(reader, first, 7), 7);
    EXPECT_STREQ(first, "line 0 ");
    ::close(reader);
}

TEST_F(CaptureFileTest, EverythingQueuedIsWrittenOnTheWayOut) {
    std::string expected;
    {
        TCaptureFile capture(path.string());
        for (int i = 0; i < 1000; ++i) {
            capture.Write(NumberedLine(i));
            expected += NumberedLine(i);
        }
    }
    EXPECT_EQ(ReadFile(path), expected);
}

TEST_F(CaptureFileTest, LinesReachTheFileWithoutBeingFlushed) {
    TCaptureFile capture(path.string());
    capture.Write("soon\n");
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (ReadFile(path) != "soon\n" && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ReadFile(path), "soon\n");
}

} // namespace
} // namespace volmar::testing
