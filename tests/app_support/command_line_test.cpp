// The program's options: none is the designed program, each is read as
// documented, and every mistake is an error rather than a guess.
#include <gtest/gtest.h>

#include "app/command_line.h"

namespace volmar {
namespace {

TCommandLine Parse(QStringList Arguments) {
    Arguments.prepend(QStringLiteral("volmarsim"));
    return ParseCommandLine(Arguments);
}

TEST(CommandLineTest, NoOptionsIsTheWindowWithItsStoredChoices) {
    const TCommandLine line = Parse({});
    EXPECT_TRUE(line.Error.isEmpty());
    EXPECT_FALSE(line.Headless);
    EXPECT_TRUE(line.Folder.isEmpty());
    EXPECT_FALSE(line.Monitor.Port || line.Monitor.Speed || line.Duration);
    EXPECT_TRUE(line.Monitor.Device.empty() && line.Lab.ControlPath.isEmpty());
}

TEST(CommandLineTest, EveryOptionIsTaken) {
    const TCommandLine line =
        Parse({"--headless", "--quiet", "--folder", "/tmp/m1", "--port", "2", "--device",
               "/dev/ttyUSB0", "--speed", "auto", "--duration", "1.5", "--control", "/tmp/c",
               "--metrics", "[::1]:9101"});
    ASSERT_TRUE(line.Error.isEmpty()) << line.Error.toStdString();
    EXPECT_TRUE(line.Headless && line.Quiet);
    EXPECT_EQ(line.Folder, QStringLiteral("/tmp/m1"));
    EXPECT_EQ(line.Monitor.Port, std::optional<std::uint16_t>(2));
    EXPECT_EQ(line.Monitor.Device, "/dev/ttyUSB0");
    EXPECT_EQ(line.Monitor.Speed, std::optional<TSpeedMode>(smAuto));
    EXPECT_EQ(line.Duration, std::optional<double>(1.5));
    EXPECT_EQ(line.Lab.ControlPath, QStringLiteral("/tmp/c"));
    EXPECT_EQ(line.Lab.MetricsAddress, QStringLiteral("[::1]:9101"));
    EXPECT_TRUE(Parse({"--help-all"}).Help);
}

TEST(CommandLineTest, MistakesAreErrors) {
    for (const QStringList& wrong :
         {QStringList{"--bogus"}, QStringList{"extra"}, QStringList{"--speed", "4800"},
          QStringList{"--port", "x"}, QStringList{"--port", "70000"},
          QStringList{"--duration", "-1"}, QStringList{"--duration", "nan"},
          QStringList{"--quiet"}, QStringList{"--folder"}, QStringList{"--folder", ""},
          QStringList{"--folder="}, QStringList{"--metrics", "0"},
          QStringList{"--metrics", "localhost:9101"}, QStringList{"--metrics", "1.2.3.4:"}})
        EXPECT_FALSE(Parse(wrong).Error.isEmpty()) << wrong.join(' ').toStdString();
}

} // namespace
} // namespace volmar
