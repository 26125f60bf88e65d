#include <gtest/gtest.h>

#include <thread>

#include "serial/port_errors.h"
#include "serial/posix_device_layer.h"
#include "serial/virtual_line.h"

namespace volmar {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

std::int32_t OpenCode(IDeviceLayer& Layer, const std::string& Path) {
    try {
        Layer.Open(Path);
    } catch (const EPortException& e) {
        return e.Code();
    }
    return 0;
}

TEST(VirtualLineRegistry, OpensByNameOnlyWhileTheLineLivesAndIsFree) {
    auto layer = CreateDeviceLayerFor("virtual:reg-a");
    auto other = CreateVirtualDeviceLayer();
    EXPECT_EQ(OpenCode(*layer, "virtual:reg-a"), -2001);
    {
        auto line = TVirtualLine::Create("reg-a");
        EXPECT_EQ(OpenCode(*layer, "reg-a"), -2001) << "no virtual: prefix";
        EXPECT_EQ(OpenCode(*layer, line->DevicePath()), 0);
        EXPECT_TRUE(line->IsOpen());
        EXPECT_EQ(OpenCode(*other, line->DevicePath()), -2008);
        layer->Close();
        EXPECT_FALSE(line->IsOpen());
        EXPECT_EQ(OpenCode(*other, line->DevicePath()), 0);
        other->Close();
        line->Vanish();
        EXPECT_EQ(OpenCode(*layer, line->DevicePath()), -2001);

        auto fresh = TVirtualLine::Create("reg-a");
        EXPECT_EQ(TVirtualLine::Find("reg-a"), fresh);
        line.reset();
        EXPECT_EQ(TVirtualLine::Find("reg-a"), fresh) << "the old line's end leaves the new one";
        EXPECT_EQ(OpenCode(*layer, "virtual:reg-a"), 0);
        layer->Close();
    }
    EXPECT_EQ(TVirtualLine::Find("reg-a"), nullptr);
    EXPECT_EQ(OpenCode(*layer, "virtual:reg-a"), -2001);
    EXPECT_NE(dynamic_cast<TPosixDeviceLayer*>(CreateDeviceLayerFor("/dev/ttyS0").get()), nullptr);
}

class VirtualLayer : public ::testing::Test {
protected:
    void SetUp() override { FLayer->Open(FLine->DevicePath()); }
    Bytes ReadSome(std::size_t Max, std::uint8_t& Errors) {
        Bytes buf(Max);
        buf.resize(FLayer->Read(buf.data(), Max, Errors));
        return buf;
    }
    // Runs WaitEvent on another thread while Act runs here.
    unsigned WaitWhile(const std::function<void()>& Act) {
        unsigned seen = 0;
        std::thread waiter([&] { seen = FLayer->WaitEvent(10000); });
        std::this_thread::sleep_for(20ms);
        Act();
        waiter.join();
        return seen;
    }

    std::shared_ptr<TVirtualLine> FLine = TVirtualLine::Create("layer-test");
    std::unique_ptr<IDeviceLayer> FLayer = CreateVirtualDeviceLayer();
};

TEST_F(VirtualLayer, ErrorItemsStayInOrderBetweenBytes) {
    EXPECT_EQ(WaitWhile([&] { FLine->Send({1, 2}); }), kEventInput);
    FLine->InjectError(kErrParity);
    FLine->Send({3});
    FLine->InjectError(kErrBreak);
    FLine->Send({4});
    std::uint8_t errors = 0;
    EXPECT_EQ(ReadSome(2, errors), (Bytes{1, 2}));
    EXPECT_EQ(errors, 0) << "the error comes after the second byte";
    EXPECT_EQ(ReadSome(16, errors), (Bytes{3, 4}));
    EXPECT_EQ(errors, kErrParity | kErrBreak);

    errors = 0;
    FLine->InjectError(kErrFraming | kErrOverrun);
    EXPECT_EQ(FLayer->WaitEvent(0), kEventInput) << "an error alone is input to read";
    EXPECT_TRUE(ReadSome(16, errors).empty());
    EXPECT_EQ(errors, kErrFraming | kErrOverrun);
    EXPECT_EQ(FLayer->WaitEvent(0), 0u);
}

TEST_F(VirtualLayer, ModemChangesWakeTheWaitOnce) {
    EXPECT_EQ(WaitWhile([&] { FLine->SetModemLines(kModemCTS | kModemDCD | 0x03); }), kEventModem);
    EXPECT_EQ(FLayer->ModemLevels(), kModemCTS | kModemDCD) << "only line bits";
    EXPECT_EQ(FLayer->WaitEvent(10), 0u);
    FLine->SetModemLines(kModemCTS | kModemDCD);
    EXPECT_EQ(FLayer->WaitEvent(10), 0u) << "same levels: no change";
}

TEST_F(VirtualLayer, VanishIsReportedOnceAndEndsTheLine) {
    FLine->SetModemLines(kModemDSR);
    EXPECT_EQ(FLayer->WaitEvent(0), kEventModem);
    EXPECT_EQ(WaitWhile([&] { FLine->Vanish(); }), kEventVanished);
    EXPECT_TRUE(FLayer->Vanished());
    FLine->Send({4});
    FLine->SetModemLines(kModemCTS);
    std::uint8_t errors = 0;
    EXPECT_TRUE(ReadSome(16, errors).empty());
    const std::uint8_t byte = 1;
    EXPECT_EQ(FLayer->Write(&byte, 1), 0u);
    EXPECT_EQ(FLayer->ModemLevels(), 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(FLayer->WaitEvent(10), 0u);
    EXPECT_FALSE(FLayer->WaitWritable(10));
}

TEST_F(VirtualLayer, AFarEndThatStopsReadingLeavesOnlyTheDeviceQueueForOutput) {
    FLine->SetFarEndReading(false);
    const Bytes block(TVirtualLine::kDeviceOutputQueue + 10, 0x55);
    EXPECT_EQ(FLayer->Write(block.data(), block.size()), TVirtualLine::kDeviceOutputQueue);
    EXPECT_FALSE(FLayer->WaitWritable(20)) << "full: the writer must wait, not spin";
    std::thread reader([&] {
        std::this_thread::sleep_for(20ms);
        FLine->SetFarEndReading(true);
    });
    EXPECT_TRUE(FLayer->WaitWritable(10000)) << "reading again makes room";
    reader.join();
    EXPECT_EQ(FLine->TakeSent().size(), TVirtualLine::kDeviceOutputQueue);

    FLine->SetFarEndReading(false);
    EXPECT_EQ(FLayer->Write(block.data(), 3), 3u);
    FLayer->PurgeOutput();
    FLine->SetFarEndReading(true);
    EXPECT_TRUE(FLine->TakeSent().empty()) << "a purge discards what the device held";
}

TEST_F(VirtualLayer, WakeEndsAWaitOpenOrClosed) {
    EXPECT_EQ(WaitWhile([&] { FLayer->Wake(); }), kEventWoken);
    EXPECT_EQ(FLayer->WaitEvent(10), 0u);
    FLayer->Close();
    EXPECT_EQ(WaitWhile([&] { FLayer->Wake(); }), kEventWoken);
}

TEST_F(VirtualLayer, RecordsWhatThePortDid) {
    EXPECT_EQ(FLayer->LineSettings(), (TLineSettings{9600, pNone, 8, 1}));
    FLayer->SetLineSettings({115200, pMark, 7, 2});
    EXPECT_EQ(FLine->Settings(), (TLineSettings{115200, pMark, 7, 2}));
    EXPECT_THROW(FLayer->SetLineSettings({9600, pNone, 4, 1}), EInOutError);
    EXPECT_EQ(FLine->SettingsWrites(), 1);
    FLayer->SetDTR(true);
    FLayer->SetRTS(false);
    EXPECT_TRUE(FLine->DTR());
    EXPECT_FALSE(FLine->RTS());

    FLine->Send({1, 2, 3});
    FLayer->PurgeInput();
    FLayer->PurgeOutput();
    FLayer->PurgeOutput();
    EXPECT_EQ(FLine->InputPurges(), 1);
    EXPECT_EQ(FLine->OutputPurges(), 2);
    EXPECT_EQ(FLayer->WaitEvent(0), 0u) << "purged input is gone";

    EXPECT_TRUE(FLayer->WaitWritable(0));
    std::thread writer([&] {
        const Bytes first{'a', 'b'}, second{'c'};
        std::this_thread::sleep_for(20ms);
        FLayer->Write(first.data(), first.size());
        FLayer->Write(second.data(), second.size());
    });
    EXPECT_TRUE(FLine->WaitSent(3, 10s));
    writer.join();
    EXPECT_EQ(FLine->TakeSent(), (Bytes{'a', 'b', 'c'}));
    EXPECT_FALSE(FLine->WaitSent(1, 10ms)) << "taken bytes are gone";
}

} // namespace
} // namespace volmar
