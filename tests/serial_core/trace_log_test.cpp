#include "serial/trace_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "serial/port_errors.h"

namespace volmar {
namespace {

namespace fs = std::filesystem;

using TraceEntries = std::vector<std::pair<char, std::uint8_t>>;

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "tracelogXXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
        FPath = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(FPath, ec);
    }
    std::string File(const std::string& Name) const { return (FPath / Name).string(); }

private:
    fs::path FPath;
};

std::string ReadFile(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteText(const std::string& Path, const std::string& Text) {
    std::ofstream(Path, std::ios::binary) << Text;
}

void RecordText(TTraceRecorder& R, char Kind, const std::string& Bytes) {
    for (const char c : Bytes) R.Record(Kind, static_cast<std::uint8_t>(c));
}

TraceEntries Entries(char Kind, const std::string& Bytes) {
    TraceEntries out;
    for (const char c : Bytes) out.emplace_back(Kind, static_cast<std::uint8_t>(c));
    return out;
}

// A trace recorder on an open port, recording, with its file in a
// temporary folder and the entries "AB" as kind T.
class OpenTrace : public ::testing::Test {
protected:
    void SetUp() override {
        R.SetFileName(Dir.File("port.trc"));
        R.SetState(tlOn, true);
        RecordText(R, 'T', "AB");
    }
    std::string Dumped() const { return ReadFile(Dir.File("port.trc")); }
    bool FileExists() const { return fs::exists(Dir.File("port.trc")); }

    TempDir Dir;
    TTraceRecorder R{kMaxTraceEntries};
};

TEST(TraceLogDefaults, SizeHexAndNames) {
    TTraceRecorder trace(kMaxTraceEntries);
    TLogRecorder log(kMaxLogEntries);
    EXPECT_EQ(trace.Size(), 10000u);
    EXPECT_EQ(log.Size(), 10000u);
    EXPECT_TRUE(trace.Hex());
    EXPECT_TRUE(log.Hex());
    EXPECT_EQ(trace.FileName(), "Dunmoral.Trc");
    EXPECT_EQ(log.FileName(), "Dunmoral.Log");
    EXPECT_EQ(trace.State(), tlOff);

    trace.SetFileName(std::string(300, 'x'));
    EXPECT_EQ(trace.FileName(), std::string(255, 'x'));
}

TEST_F(OpenTrace, FromOffOnlyTlOnActs) {
    R.SetState(tlOff, true);
    for (TTraceLogState s : {tlOff, tlDump, tlAppend, tlClear, tlPause}) {
        R.SetState(s, true);
        EXPECT_EQ(R.State(), tlOff) << int(s);
    }
    EXPECT_FALSE(FileExists());
    R.Record('T', 'x');
    EXPECT_TRUE(R.Entries().empty());

    R.SetState(tlOn, true);
    EXPECT_EQ(R.State(), tlOn);
    R.Record('R', 'y');
    EXPECT_EQ(R.Entries(), Entries('R', "y"));
}

TEST_F(OpenTrace, FromOn) {
    R.SetState(tlOn, true);
    EXPECT_EQ(R.Entries(), Entries('T', "AB")) << "tlOn on tlOn keeps the buffer";

    R.SetState(tlClear, true);
    EXPECT_EQ(R.State(), tlOn);
    EXPECT_TRUE(R.Entries().empty());
    RecordText(R, 'T', "C");
    EXPECT_EQ(R.Entries(), Entries('T', "C"));

    R.SetState(tlPause, true);
    EXPECT_EQ(R.State(), tlPause);
    R.Record('T', 'D');
    EXPECT_EQ(R.Entries(), Entries('T', "C"));

    R.SetState(tlOn, true);
    R.Record('T', 'E');
    EXPECT_EQ(R.Entries(), Entries('T', "CE")) << "resuming keeps what was recorded";

    R.SetState(tlOff, true);
    EXPECT_EQ(R.State(), tlOff);
    EXPECT_TRUE(R.Entries().empty());
    R.SetState(tlOn, true);
    EXPECT_TRUE(R.Entries().empty()) << "switching off discarded the buffer";
    EXPECT_FALSE(FileExists());
}

TEST_F(OpenTrace, FromPause) {
    R.SetState(tlPause, true);
    R.SetState(tlPause, true);
    EXPECT_EQ(R.State(), tlPause);
    EXPECT_EQ(R.Entries(), Entries('T', "AB"));

    R.SetState(tlClear, true);
    EXPECT_EQ(R.State(), tlPause);
    EXPECT_TRUE(R.Entries().empty());

    R.SetState(tlOn, true);
    RecordText(R, 'T', "Z");
    R.SetState(tlPause, true);
    R.SetState(tlOff, true);
    EXPECT_EQ(R.State(), tlOff);
    EXPECT_TRUE(R.Entries().empty());
    EXPECT_FALSE(FileExists());
}

TEST_F(OpenTrace, DumpReplacesAndAppendAdds) {
    WriteText(Dir.File("port.trc"), "old contents\n");
    R.SetState(tlDump, true);
    EXPECT_EQ(R.State(), tlOff);
    EXPECT_TRUE(R.Entries().empty());
    EXPECT_EQ(Dumped(), "Transmit: \nAB\n");

    R.SetState(tlOn, true);
    RecordText(R, 'R', "ok");
    R.SetState(tlPause, true);
    R.SetState(tlAppend, true);
    EXPECT_EQ(R.State(), tlOff);
    EXPECT_EQ(Dumped(), "Transmit: \nAB\nReceive: \nok\n");

    R.SetState(tlOn, true);
    RecordText(R, 'R', "x");
    R.SetState(tlPause, true);
    R.SetState(tlDump, true);
    EXPECT_EQ(Dumped(), "Receive: \nx\n") << "a dump from pause replaces too";
}

TEST_F(OpenTrace, AppendCreatesAMissingFile) {
    R.SetState(tlAppend, true);
    EXPECT_EQ(Dumped(), "Transmit: \nAB\n");
}

TEST_F(OpenTrace, NoEntriesWritesNoFile) {
    R.SetState(tlClear, true);
    R.SetState(tlDump, true);
    EXPECT_EQ(R.State(), tlOff);
    EXPECT_FALSE(FileExists());

    WriteText(Dir.File("port.trc"), "kept");
    R.SetState(tlOn, true);
    R.SetState(tlDump, true);
    EXPECT_EQ(Dumped(), "kept") << "an empty dump leaves an existing file alone";
}

TEST_F(OpenTrace, DumpIntoMissingFolderRaisesAndDiscards) {
    R.SetFileName(Dir.File("missing/port.trc"));
    try {
        R.SetState(tlDump, true);
        FAIL() << "no exception";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), ENOENT);
    }
    EXPECT_EQ(R.State(), tlOff);
    R.SetState(tlOn, true);
    EXPECT_TRUE(R.Entries().empty());
}

TEST_F(OpenTrace, PortClosingDumps) {
    R.PortClosing();
    EXPECT_EQ(R.State(), tlOff);
    EXPECT_EQ(Dumped(), "Transmit: \nAB\n");
}

TEST(TraceLogClosedPort, OnlyOffAndOnAreStored) {
    TTraceRecorder r(kMaxTraceEntries);
    r.SetState(tlOn, false);
    EXPECT_EQ(r.State(), tlOn);
    for (TTraceLogState s : {tlDump, tlAppend, tlClear, tlPause}) {
        r.SetState(tlOn, false);
        r.SetState(s, false);
        EXPECT_EQ(r.State(), tlOff) << int(s);
    }
    r.SetState(tlOn, false);
    r.SetState(tlOff, false);
    EXPECT_EQ(r.State(), tlOff);
}

TEST(TraceLogClosedPort, StoredStateAppliesAtOpen) {
    TTraceRecorder r(kMaxTraceEntries);
    r.SetState(tlOn, false);
    r.Record('T', 'a');
    EXPECT_TRUE(r.Entries().empty()) << "nothing is recorded before the port opens";
    r.PortOpened();
    EXPECT_EQ(r.State(), tlOn);
    r.Record('T', 'b');
    EXPECT_EQ(r.Entries(), Entries('T', "b"));

    TTraceRecorder off(kMaxTraceEntries);
    off.PortOpened();
    EXPECT_EQ(off.State(), tlOff);
    off.Record('T', 'c');
    EXPECT_TRUE(off.Entries().empty());
}

TEST(TraceLogSize, LimitedToTheMaximum) {
    TTraceRecorder trace(kMaxTraceEntries);
    TLogRecorder log(kMaxLogEntries);
    trace.SetSize(kMaxTraceEntries + 1, false);
    log.SetSize(0xFFFFFFFFu, false);
    EXPECT_EQ(trace.Size(), kMaxTraceEntries);
    EXPECT_EQ(log.Size(), kMaxLogEntries);
    trace.SetSize(500, false);
    EXPECT_EQ(trace.Size(), 500u);
}

TEST(TraceLogSize, ResizeRestartsOnAndEndsPause) {
    TTraceRecorder on(kMaxTraceEntries);
    on.SetSize(2, true);
    on.SetState(tlOn, true);
    RecordText(on, 'T', "ab");
    on.SetSize(3, true);
    EXPECT_EQ(on.State(), tlOn);
    EXPECT_TRUE(on.Entries().empty());
    RecordText(on, 'T', "cdef");
    EXPECT_EQ(on.Entries(), Entries('T', "def")) << "the new buffer holds the new size";

    TTraceRecorder paused(kMaxTraceEntries);
    paused.SetState(tlOn, true);
    RecordText(paused, 'T', "ab");
    paused.SetState(tlPause, true);
    paused.SetSize(50, true);
    EXPECT_EQ(paused.State(), tlOff);
    paused.SetState(tlOn, true);
    EXPECT_TRUE(paused.Entries().empty());

    TTraceRecorder closed(kMaxTraceEntries);
    closed.SetState(tlOn, false);
    closed.SetSize(2, false);
    EXPECT_EQ(closed.State(), tlOn);
    closed.PortOpened();
    RecordText(closed, 'R', "xyz");
    EXPECT_EQ(closed.Entries(), Entries('R', "yz"));
}

TEST(TraceLogRing, OverwritesTheOldest) {
    TTraceRecorder trace(kMaxTraceEntries);
    trace.SetSize(3, true);
    trace.SetState(tlOn, true);
    RecordText(trace, 'T', "12");
    EXPECT_EQ(trace.Entries(), Entries('T', "12"));
    RecordText(trace, 'T', "3456789");
    EXPECT_EQ(trace.Entries(), Entries('T', "789"));

    TLogRecorder log(kMaxLogEntries);
    log.SetSize(2, true);
    log.SetState(tlOn, true);
    log.Record(1, "one");
    log.Record(2, "two");
    log.Record(3, "three");
    const std::vector<std::pair<std::uint32_t, std::string>> expected{{2, "two"}, {3, "three"}};
    EXPECT_EQ(log.Entries(), expected);
}

TEST(TraceLogRing, WrappedDumpIsOldestFirst) {
    TempDir dir;
    TTraceRecorder trace(kMaxTraceEntries);
    trace.SetFileName(dir.File("t.trc"));
    trace.SetSize(4, true);
    trace.SetState(tlOn, true);
    RecordText(trace, 'T', "abc");
    RecordText(trace, 'R', "xyz");
    trace.SetState(tlDump, true);
    EXPECT_EQ(ReadFile(dir.File("t.trc")), "Transmit: \nc\n\nReceive: \nxyz\n");
}

TEST(TraceRender, RunsHeadersAndEmptyLines) {
    TraceEntries e = Entries('T', "AT");
    for (const auto& x : Entries('R', "OK")) e.push_back(x);
    e.emplace_back('E', 0x41);
    for (const auto& x : Entries('T', "Z")) e.push_back(x);
    EXPECT_EQ(RenderTrace(e, true),
              "Transmit: \nAT\n\nReceive: \nOK\n\nSpecial-E: \nA\n\nTransmit: \nZ\n");
    EXPECT_EQ(RenderTrace({}, true), "");
}

TEST(TraceRender, HexAndDecimalItems) {
    const TraceEntries e = Entries('R', std::string("a b\r\n~\x7F\xFF\x00", 9));
    EXPECT_EQ(RenderTrace(e, true), "Receive: \na[20]b[0D][0A]~[7F][FF][00]\n");
    EXPECT_EQ(RenderTrace(e, false), "Receive: \na b[13][10]~[127][255][0]\n");
}

TEST(TraceRender, WrapsPast78Columns) {
    // 78 characters fill a line; the 79th starts the next.
    const std::string chars(79, 'x');
    EXPECT_EQ(RenderTrace(Entries('T', chars), true),
              "Transmit: \n" + std::string(78, 'x') + "\nx\n");

    // Hexadecimal items are 4 wide: 19 fit (76), the 20th would reach 80.
    std::string line1;
    for (int i = 0; i < 19; ++i) line1 += "[0D]";
    EXPECT_EQ(RenderTrace(Entries('R', std::string(21, '\r')), true),
              "Receive: \n" + line1 + "\n[0D][0D]\n");

    // 76 characters and a three-wide item make 79: the item wraps. With two
    // characters more than fit, the width restarts at the item's.
    const std::string mixed = std::string(76, 'y') + "\x05" + std::string(76, 'y');
    EXPECT_EQ(RenderTrace(Entries('T', mixed), false),
              "Transmit: \n" + std::string(76, 'y') + "\n[5]" + std::string(75, 'y') + "\ny\n");

    // Each header restarts the count.
    TraceEntries two = Entries('T', std::string(78, 'a'));
    for (const auto& x : Entries('R', std::string(78, 'b'))) two.push_back(x);
    EXPECT_EQ(RenderTrace(two, true), "Transmit: \n" + std::string(78, 'a') + "\n\nReceive: \n" +
                                          std::string(78, 'b') + "\n");
}

TEST(LogRecorder, DumpHasTimeAndTextInOrder) {
    TempDir dir;
    TLogRecorder log(kMaxLogEntries);
    log.SetFileName(dir.File("port.log"));
    log.Record(1, "before");
    log.SetState(tlOn, true);
    log.Record(1005, "Tx, 41 54 0D");
    log.Record(12345, "ERROR 5, abc");
    log.Record(7, "");
    log.SetState(tlDump, true);
    EXPECT_EQ(ReadFile(dir.File("port.log")), "1.005 Tx, 41 54 0D\n12.345 ERROR 5, abc\n0.007 \n");

    log.SetState(tlOn, true);
    log.Record(2000, "later");
    log.SetState(tlAppend, true);
    EXPECT_EQ(ReadFile(dir.File("port.log")),
              "1.005 Tx, 41 54 0D\n12.345 ERROR 5, abc\n0.007 \n2.000 later\n");
}

} // namespace
} // namespace volmar
