#include "dataport/serial_buffer.h"

#include <gtest/gtest.h>

namespace volmar {
namespace {

TEST(SerialBuffer, NewAndResetBuffersAreEmpty) {
    TSerialBuffer buffer(256);
    std::uint8_t b = 0x77;
    EXPECT_EQ(buffer.Count(), 0);
    EXPECT_FALSE(buffer.Get(b));
    EXPECT_EQ(b, 0x77) << "a failed Get leaves the byte untouched";

    buffer.Put(1);
    buffer.Put(2);
    buffer.Reset();
    EXPECT_EQ(buffer.Count(), 0);
    EXPECT_FALSE(buffer.Get(b));
    buffer.Put(9);
    EXPECT_EQ(buffer.Head(), 1);
    ASSERT_TRUE(buffer.Get(b));
    EXPECT_EQ(b, 9);
    EXPECT_EQ(buffer.Tail(), 1);
}

TEST(SerialBuffer, FirstInFirstOut) {
    TSerialBuffer buffer(256);
    buffer.Put(1);
    buffer.Put(2);
    buffer.Put(3);
    std::uint8_t b = 0;
    for (std::uint8_t expected : {1, 2, 3}) {
        ASSERT_TRUE(buffer.Get(b));
        EXPECT_EQ(b, expected);
    }
    EXPECT_FALSE(buffer.Get(b));
}

TEST(SerialBuffer, FullBufferDropsSilently) {
    TSerialBuffer buffer(256);
    for (int i = 0; i < 255; ++i) buffer.Put(static_cast<std::uint8_t>(i));
    EXPECT_EQ(buffer.Count(), 255);
    buffer.Put(0xEE);
    EXPECT_EQ(buffer.Count(), 255);
    std::uint8_t b = 0;
    for (int i = 0; i < 255; ++i) {
        ASSERT_TRUE(buffer.Get(b));
        EXPECT_EQ(b, i);
    }
    EXPECT_FALSE(buffer.Get(b));
}

TEST(SerialBuffer, WrapsAcrossTheEndOfStorage) {
    TSerialBuffer buffer(256);
    std::uint8_t b = 0;
    for (int i = 0; i < 254; ++i) {
        buffer.Put(0);
        buffer.Get(b);
    }
    ASSERT_EQ(buffer.Head(), 254);
    ASSERT_EQ(buffer.Tail(), 254);
    buffer.Put(10);
    buffer.Put(11);
    buffer.Put(12);
    EXPECT_EQ(buffer.Head(), 1);
    EXPECT_EQ(buffer.Count(), 3);
    for (std::uint8_t expected : {10, 11, 12}) {
        ASSERT_TRUE(buffer.Get(b));
        EXPECT_EQ(b, expected);
    }
    EXPECT_EQ(buffer.Count(), 0);
}

TEST(SerialBuffer, SmallestCapacityHoldsOneByte) {
    TSerialBuffer buffer(0);
    EXPECT_EQ(buffer.Size(), 2);
    buffer.Put(4);
    buffer.Put(5);
    EXPECT_EQ(buffer.Count(), 1);
    std::uint8_t b = 0;
    ASSERT_TRUE(buffer.Get(b));
    EXPECT_EQ(b, 4);
}

} // namespace
} // namespace volmar
