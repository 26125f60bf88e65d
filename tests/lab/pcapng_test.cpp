// The pcapng capture as Wireshark reads it: every kind of record dissected
// with its code, repeat bit, checksum, answer and direction, and rotated or
// appended files each valid alone.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "lab/capture_file.h"
#include "lab/pcapng_convert.h"
#include "support/file_fixtures.h"
#include "support/tshark.h"

namespace volmar::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kWallUs = 1'784'012'703'000'042;
constexpr std::chrono::seconds kPatience(60);

TTrafficRecord Record(TRecordKind Kind, std::vector<std::uint8_t> Bytes, std::int64_t At) {
    TTrafficRecord r;
    r.Kind = Kind;
    r.WallUs = kWallUs + At;
    r.MonoUs = 1000 + At;
    r.Bytes = TRecordBytes(Bytes.begin(), Bytes.end());
    return r;
}

TTrafficRecord Frame(std::vector<std::uint8_t> Bytes, std::int64_t At, bool Valid = true) {
    TTrafficRecord r = Record(TRecordKind::Frame, std::move(Bytes), At);
    r.Code = r.Bytes.front() & 0x7F;
    r.Retry = (r.Bytes.front() & 0x80) != 0;
    r.Class = ClassifyHeader(r.Bytes.front()).MsgClass;
    r.Valid = Valid;
    return r;
}

TTrafficRecord Reply(std::uint8_t Byte, std::int64_t At, std::int64_t Latency) {
    TTrafficRecord r = Record(TRecordKind::Reply, {Byte}, At);
    r.LatencyUs = Latency;
    return r;
}

class PcapngCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(test::TsharkPath().isEmpty()) << "tshark: scripts/setup-deps installs it";
    }
    // Writes Records into a pcapng capture at Path and waits until they are there.
    static void Capture(const fs::path& Path, const std::vector<TTrafficRecord>& Records,
                        std::uint64_t Limit = TCaptureFile::kDefaultSizeLimit, int Keep = 10) {
        TCaptureFile file(Path.string(), Limit, Keep, TCaptureFile::kDefaultQueueLimit,
                          TCaptureFormat::Pcapng);
        for (const TTrafficRecord& r : Records) file.Write(r);
        ASSERT_TRUE(file.Flush(kPatience));
        EXPECT_EQ(file.Error(), "");
    }

    test::TScratchFolder folder;
    fs::path path = folder.Path() / "capture.pcapng";
};

// One of every kind, with what each may carry.
std::vector<TTrafficRecord> EveryKind() {
    TTrafficRecord coin = Frame({0xA6, 0xA6}, 0);
    coin.Text = "100 Ft in";
    coin.FirstMonoUs = 990;
    TTrafficRecord resend = coin;
    resend.Repeat = true;
    resend.WallUs += 10;
    resend.MonoUs += 10;
    TTrafficRecord bad = Frame({0x69, 0x01, 0x05, 0x00}, 20, false);
    bad.Fault = ffBadChecksum;
    TTrafficRecord spoilt = Frame({0x20}, 26, false);
    spoilt.Fault = ffLineError;
    spoilt.LineError = 3;
    TTrafficRecord nak = Reply(kNak, 25, 300);
    TTrafficRecord opened = Record(TRecordKind::Event, {}, -5);
    opened.Event = TLineEvent::PortOpened;
    opened.Value = 3;
    opened.Detail = "/dev/ttyS2";
    TTrafficRecord lineError = Record(TRecordKind::Event, {}, 27);
    lineError.Event = TLineEvent::LineError;
    lineError.Value = 2;
    return {opened, coin, Reply(kAck, 5, 420), resend, bad, nak, spoilt, lineError,
            Record(TRecordKind::Discarded, {0x00, 0xFF}, 30)};
}

const QStringList kFields = {
    QStringLiteral("frame.packet_flags_direction"), QStringLiteral("volmar.kind"),
    QStringLiteral("volmar.name"), QStringLiteral("volmar.retry"),
    QStringLiteral("volmar.repeat"), QStringLiteral("volmar.checksum.status"),
    QStringLiteral("volmar.answer"), QStringLiteral("volmar.answers"),
    QStringLiteral("volmar.latency_us"), QStringLiteral("volmar.event"),
    QStringLiteral("volmar.event.detail"), QStringLiteral("volmar.discarded.count"),
    QStringLiteral("frame.time_epoch"), QStringLiteral("volmar.mono_us"),
    QStringLiteral("volmar.text"), QStringLiteral("volmar.fault"),
    QStringLiteral("volmar.line_error"), QStringLiteral("volmar.event.value"),
    QStringLiteral("volmar.first_us")};

TEST_F(PcapngCaptureTest, EveryKindOfRecordIsDissected) {
    Capture(path, EveryKind());
    const test::TTsharkResult got = test::TsharkFields(path.string(), kFields);
    ASSERT_EQ(got.Exit, 0) << got.Errors;
    const std::vector<std::string> expected = {
        "|3||||||||4|/dev/ttyS2||1784012703.000037000|995||||3|",
        "0x00000001|0|100Ft In|1||1|||||||1784012703.000042000|1000|100 Ft in||||990",
        "0x00000002|1|||||0x06|2|420||||1784012703.000047000|1005|||||",
        "0x00000001|0|100Ft In|1|1|1|||||||1784012703.000052000|1010|100 Ft in||||990",
        "0x00000001|0|Game|0||0|||||||1784012703.000062000|1020||1|||",
        "0x00000002|1|||||0x15|5|300||||1784012703.000067000|1025|||||",
        "0x00000001|0|1Ft In|0||2|||||||1784012703.000068000|1026||5|0x0003||",
        "|3||||||||1|||1784012703.000069000|1027||||2|",
        "0x00000001|2||||||||||2|1784012703.000072000|1030|||||",
    };
    EXPECT_EQ(got.Rows, expected) << got.Errors;

    // The filters a person types find what they ask for.
    const auto numbers = [&](const char* Filter) {
        return test::TsharkFields(path.string(), {QStringLiteral("frame.number")},
                                  {QStringLiteral("-Y"), QLatin1String(Filter)})
            .Rows;
    };
    EXPECT_EQ(numbers("volmar.retry == 1 && volmar.code == 0x26"),
              (std::vector<std::string>{"2", "4"}));
    EXPECT_EQ(numbers("volmar.checksum.status == 0"), std::vector<std::string>{"5"});
    EXPECT_EQ(numbers("_ws.expert.severity == error || volmar.answer == 0x15"),
              (std::vector<std::string>{"5", "6"}));
}

// The data bytes read field by field: a coin's value from its code, a stake
// above 32767 kept whole, and one named bit of the switch word.
TEST_F(PcapngCaptureTest, DataBytesAreDecoded) {
    Capture(path, {Frame({0x26, 0x26}, 0), Frame({0x69, 0x9C, 0x40, 0x45}, 10),
                   Frame({0x6E, 0x00, 0x20, 0x8E}, 20)});
    const test::TTsharkResult got = test::TsharkFields(
        path.string(), {QStringLiteral("volmar.money"), QStringLiteral("volmar.stake"),
                        QStringLiteral("volmar.switch.cash_door"), QStringLiteral("volmar.switch.service_door")});
    ASSERT_EQ(got.Exit, 0) << got.Errors;
    EXPECT_EQ(got.Rows, (std::vector<std::string>{"100|||", "|40000||", "||1|0"})) << got.Errors;
}

// A capture made in text or JSON Lines, converted, reads as the pcapng one.
TEST_F(PcapngCaptureTest, ConvertedCapturesReadTheSame) {
    Capture(path, EveryKind());
    const test::TTsharkResult direct = test::TsharkFields(path.string(), kFields);
    for (const TCaptureFormat format : {TCaptureFormat::Text, TCaptureFormat::JsonLines}) {
        std::stringstream in;
        for (const TTrafficRecord& r : EveryKind()) in << FormatRecord(r, format);
        const fs::path converted = folder.Path() / "converted.pcapng";
        std::ofstream out(converted, std::ios::trunc);
        EXPECT_EQ(ConvertToPcapng(in, out), "") << in.str();
        out.close();
        const test::TTsharkResult got = test::TsharkFields(converted.string(), kFields);
        EXPECT_EQ(got.Rows, direct.Rows) << in.str() << got.Errors;
    }
}

TEST(PcapngConvertTest, ABrokenLineIsRefusedNamingItsNumber) {
    std::stringstream text;
    TTrafficRecord r = Frame({0x20, 0x20}, 0);
    text << FormatRecord(r, TCaptureFormat::Text) << FormatRecord(r, TCaptureFormat::JsonLines);
    std::string broken = FormatRecord(r, TCaptureFormat::Text);
    broken.replace(broken.find("20 20"), 5, "2G 20");
    text << broken << FormatRecord(r, TCaptureFormat::Text);
    std::ostringstream out;
    EXPECT_EQ(ConvertToPcapng(text, out), "line 3: cannot read the bytes");
    std::stringstream json("{\"wall\":\"2026-07-14T09:05:03.000042\",\"mono_us\":1,\"kind\":\"frame\"}\n");
    EXPECT_EQ(ConvertToPcapng(json, out), "line 1: cannot read \"bytes\"");
}

TEST_F(PcapngCaptureTest, RotatedAndAppendedFilesEachReadAlone) {
    std::vector<TTrafficRecord> first, second;
    for (int i = 0; i < 3; ++i) first.push_back(Frame({0x20, 0x20}, i));
    Capture(path, first);
    for (int i = 0; i < 60; ++i) second.push_back(Frame({0x21, 0x21}, 100 + i));
    constexpr int kKeep = 3;
    Capture(path, second, 1200, kKeep);

    std::vector<std::string> times;
    for (int n = kKeep - 1; n >= 0; --n) {
        const fs::path file = n == 0 ? path : fs::path(path.string() + "." + std::to_string(n));
        ASSERT_TRUE(fs::exists(file)) << file;
        EXPECT_LE(fs::file_size(file), 1200u);
        const test::TTsharkResult got =
            test::TsharkFields(file.string(), {QStringLiteral("volmar.mono_us")});
        ASSERT_EQ(got.Exit, 0) << file << got.Errors;
        EXPECT_FALSE(got.Rows.empty()) << file;
        times.insert(times.end(), got.Rows.begin(), got.Rows.end());
    }
    EXPECT_FALSE(fs::exists(path.string() + "." + std::to_string(kKeep)));
    // The newest records, none missing between them.
    ASSERT_FALSE(times.empty());
    ASSERT_LT(times.size(), 63u);
    for (std::size_t i = 0; i < times.size(); ++i)
        EXPECT_EQ(times[i], std::to_string(1000 + 160 - times.size() + i));
}

} // namespace
} // namespace volmar::testing
