// The capture read back for a replay: what the capture writes, in either
// form, reads back as it was; anything else is refused with its line.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstring>

#include "lab/capture_file.h"
#include "lab/capture_format.h"
#include "lab/pcapng_format.h"
#include "lab/capture_reader.h"
#include "support/file_fixtures.h"

namespace volmar::testing {
namespace {

std::vector<TTrafficRecord> OneOfEach() {
    std::vector<TTrafficRecord> records(5);
    records[0] = EventRecord(TLineEvent::StartState, 1200, "speed mode auto");
    records[1].Kind = TRecordKind::Frame;
    records[1].Bytes = {0x20, 0x20};
    records[1].FirstMonoUs = 1234;
    records[1].Valid = true;
    records[1].Text = "a | b";
    records[2].Kind = TRecordKind::Reply;
    records[2].Bytes = {0x15};
    records[2].Cause = rcSilenceNak;
    records[2].Dropped = true;
    records[3].Kind = TRecordKind::Discarded;
    records[3].Bytes = {0x69, 0x00};
    records[3].FirstMonoUs = 5678;
    records[4] = EventRecord(TLineEvent::Totals, 0, "in=3 out=0");
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i].WallUs = 1'800'000'000'000'000 + static_cast<std::int64_t>(i);
        records[i].MonoUs = 1'000'000 + static_cast<std::int64_t>(i);
    }
    return records;
}

// Why Content is refused, or "read".
std::string Refusal(const std::string& Content) {
    try {
        ParseCapture(Content, "c");
    } catch (const ECaptureError& e) {
        return std::string(e.what());
    }
    return std::string("read");
}

TEST(CaptureReaderTest, BothFormsReadBackAsTheCaptureWroteThem) {
    for (TCaptureFormat format : {TCaptureFormat::Text, TCaptureFormat::JsonLines}) {
        std::string content;
        const std::vector<TTrafficRecord> written = OneOfEach();
        for (const TTrafficRecord& r : written) content += FormatRecord(r, format);
        const TCapturedSession read = ParseCapture(content, "c");
        EXPECT_EQ(read.Format, format == TCaptureFormat::Text ? "text" : "jsonl");
        ASSERT_EQ(read.Records.size(), written.size());
        for (std::size_t i = 0; i < written.size(); ++i) {
            const TCapturedRecord& r = read.Records[i];
            EXPECT_EQ(r.Line, static_cast<int>(i) + 1);
            EXPECT_EQ(static_cast<int>(r.Kind), static_cast<int>(written[i].Kind));
            EXPECT_EQ(r.Wall, WallText(written[i].WallUs));
            EXPECT_EQ(r.MonoUs, written[i].MonoUs);
            EXPECT_EQ(r.FirstMonoUs, written[i].FirstMonoUs);
            EXPECT_EQ(r.Bytes, std::vector<std::uint8_t>(written[i].Bytes.begin(),
                                                         written[i].Bytes.end()));
        }
        EXPECT_EQ(read.Records[0].Event, "start-state");
        EXPECT_EQ(read.Records[0].Value, 1200);
        EXPECT_EQ(read.Records[0].Detail, "speed mode auto");
        EXPECT_EQ(read.Records[1].Verdict, "valid");
        EXPECT_EQ(read.Records[2].Cause, "silence NAK");
        EXPECT_TRUE(read.Records[2].Dropped);
        EXPECT_EQ(read.Records[4].Detail, "in=3 out=0");
    }
}

// Nothing is played half-understood: the first line that is no record, or
// a last line cut short, stops the whole file, naming the line.
TEST(CaptureReaderTest, ABrokenCaptureIsRefusedNamingItsLine) {
    const std::vector<TTrafficRecord> records = OneOfEach();
    for (TCaptureFormat format : {TCaptureFormat::Text, TCaptureFormat::JsonLines}) {
        const std::string good =
            FormatRecord(records[1], format) + FormatRecord(records[2], format);
        const std::string cut = good + FormatRecord(records[3], format);
        EXPECT_EQ(Refusal(cut.substr(0, cut.size() - 5)),
                  "c:3: the file ends in the middle of this line");
        EXPECT_TRUE(Refusal(good + "hello\n" + good).starts_with("c:3: not a record"));
        EXPECT_TRUE(Refusal(good + "\n").starts_with("c:3: not a record"));
        std::string badBytes = FormatRecord(records[1], format);
        badBytes.replace(badBytes.find("20 20"), 5, "20 2G");
        EXPECT_TRUE(Refusal(good + badBytes).starts_with("c:3: not a record"))
            << Refusal(good + badBytes);
    }
    test::TScratchFolder folder;
    const std::string fifo = (folder.Path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(ReadCapture(fifo), ECaptureError) << "a FIFO is refused, never waited on";
}

// The pcapng capture, written in two sections as a file opened twice is,
// reads back as its JSON Lines twin does; a block cut short or an
// interface of another link type stops the file, naming the block.
TEST(CaptureReaderTest, APcapngCaptureReadsAsItsJsonLinesTwin) {
    std::vector<TTrafficRecord> records = OneOfEach();
    TTrafficRecord gap = records[1];
    gap.Valid = false;
    gap.Fault = ffGap;
    gap.MonoUs += 10;
    records.push_back(gap);
    test::TScratchFolder folder;
    const auto capture = [&](const char* File, TCaptureFormat Format) {
        const std::string path = (folder.Path() / File).string();
        for (std::size_t half = 0; half < 2; ++half) {
            TCaptureFile file(path, TCaptureFile::kDefaultSizeLimit, TCaptureFile::kDefaultKeep,
                              TCaptureFile::kDefaultQueueLimit, Format);
            for (std::size_t i = half * 3; i < half * 3 + 3; ++i) file.Write(records[i]);
            EXPECT_TRUE(file.Flush(std::chrono::seconds(60)));
        }
        return ReadCapture(path);
    };
    const TCapturedSession pcapng = capture("c.pcapng", TCaptureFormat::Pcapng);
    const TCapturedSession json = capture("c.jsonl", TCaptureFormat::JsonLines);
    EXPECT_EQ(pcapng.Format, "pcapng");
    ASSERT_EQ(pcapng.Records.size(), records.size());
    ASSERT_EQ(json.Records.size(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i)
        EXPECT_TRUE(pcapng.Records[i] == json.Records[i]) << "record " << i + 1;
    EXPECT_EQ(pcapng.Records[5].Verdict, "invalid: gap");

    const std::string header = PcapngHeader();
    const std::string first = PcapngBlock(records[1]);
    const std::string whole = header + first + PcapngBlock(records[2]);
    EXPECT_EQ(Refusal(whole.substr(0, whole.size() - 5)),
              "c: block 4 at byte " + std::to_string(header.size() + first.size()) +
                  ": the file ends inside this block");
    std::uint32_t interfaceAt = 0;
    std::memcpy(&interfaceAt, header.data() + 4, 4);
    std::string ethernet = whole;
    ethernet[interfaceAt + 8] = 1;
    ethernet[interfaceAt + 9] = 0;
    EXPECT_EQ(Refusal(ethernet), "c: block 2 at byte " + std::to_string(interfaceAt) +
                                     ": link type 1, not the dataport's (147)");
}

} // namespace
} // namespace volmar::testing
