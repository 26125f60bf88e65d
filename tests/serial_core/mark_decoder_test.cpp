#include <gtest/gtest.h>

#include <vector>

#include "serial/posix_device_layer.h"

namespace volmar {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(MarkDecoder, StripsMarksWhereverTheReadsSplitThem) {
    const Bytes raw{0x41, 0xFF, 0xFF, 0x42, 0xFF, 0x00, 0x00, 0x43,
                    0xFF, 0x00, 0x55, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    for (std::size_t piece = 1; piece <= raw.size(); ++piece) {
        TMarkDecoder decoder;
        TMarkDecoder::TMarks marks;
        Bytes data;
        for (std::size_t at = 0; at < raw.size(); at += piece) {
            Bytes chunk(raw.begin() + at, raw.begin() + std::min(raw.size(), at + piece));
            const std::size_t n = decoder.Decode(chunk.data(), chunk.size(), chunk.data(), marks);
            data.insert(data.end(), chunk.begin(), chunk.begin() + n);
        }
        EXPECT_EQ(data, (Bytes{0x41, 0xFF, 0x42, 0x43, 0xFF, 0xFF, 0x00})) << "pieces of " << piece;
        EXPECT_EQ(marks.NulMarks, 1u) << "pieces of " << piece;
        EXPECT_EQ(marks.ByteMarks, 1u) << "pieces of " << piece;
        EXPECT_FALSE(decoder.InsideMark());
    }
}

TMarkDecoder::TMarks Marks(unsigned Nul, unsigned Byte) {
    TMarkDecoder::TMarks m;
    m.NulMarks = Nul;
    m.ByteMarks = Byte;
    return m;
}

TEST(ErrorTally, WithoutCountersGuessesFromTheParitySetting) {
    TErrorTally tally;
    tally.Start(nullptr);
    EXPECT_EQ(tally.Take(Marks(0, 1), nullptr, false), kErrFraming);
    EXPECT_EQ(tally.Take(Marks(0, 1), nullptr, true), kErrParity);
    EXPECT_EQ(tally.Take(Marks(1, 0), nullptr, true), kErrBreak);
}

TEST(ErrorTally, CountersSortMarksSeenInLaterReadsAndAddOverruns) {
    TErrorTally tally;
    TLineCounts c;
    c.Parity = 7;
    tally.Start(&c);

    c.Frame = 1;  // counted before its mark could be read
    EXPECT_EQ(tally.Take(Marks(0, 0), &c, true), 0);
    EXPECT_EQ(tally.Take(Marks(0, 1), &c, true), kErrFraming) << "not the parity guess";
    EXPECT_EQ(tally.Take(Marks(0, 1), &c, false), kErrFraming) << "nothing left: the guess";

    c.Parity = 8;
    EXPECT_EQ(tally.Take(Marks(1, 0), &c, true), kErrParity) << "a NUL with a parity error";
    c.Brk = 1;
    c.Parity = 9;
    EXPECT_EQ(tally.Take(Marks(2, 0), &c, true), kErrBreak | kErrParity)
        << "one break, then a NUL with a parity error";

    c.Overrun = 2;
    EXPECT_EQ(tally.Take(Marks(0, 0), &c, false), kErrOverrun);
    EXPECT_EQ(tally.Take(Marks(0, 0), &c, false), 0) << "reported once";
    c.BufOverrun = 1;
    EXPECT_EQ(tally.Take(Marks(0, 0), &c, false), kErrOverflow);
}

} // namespace
} // namespace volmar
