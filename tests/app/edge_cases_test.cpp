// Corners of the window's start-up: settings that cannot be used.
#include "app/window_fixture.h"

namespace volmar::testing {
namespace {

TEST_F(WindowTest, OutOfRangeSettingsAreNotedNonNumbersStaySilent) {
    WriteSettings("[Comms]\nPort=70000\n[Dataport]\nSpeed Mode=3\n");
    TfrmVolmar& w = Start();
    EXPECT_EQ(w.Alert().toStdString(), "VolmarSim.Ini: Port=70000 is not usable, None is used; "
                                       "Speed Mode=3 is not usable, 9600 Baud is used");
    EXPECT_FALSE(w.ComPortPlus().Open());
    EXPECT_EQ(w.SpeedMode(), sm9600);
    EXPECT_TRUE(errors.empty()) << "no box";
    Close();
    const std::string ini = ReadFile(kSettingsFileName);
    EXPECT_NE(ini.find("Port=0\n"), std::string::npos);
    EXPECT_NE(ini.find("Speed Mode=2\n"), std::string::npos);

    WriteSettings("[Comms]\nPort=x\n[Dataport]\nSpeed Mode=fast\n");
    EXPECT_TRUE(Start().Alert().isEmpty()) << "not a number at all reads as missing";
}

} // namespace
} // namespace volmar::testing
