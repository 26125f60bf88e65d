// Conformance runs end to end: the simulator's standard run against the
// stand-in machine, well behaved and breaking one rule at a time. Each
// breach fails exactly the steps of its own rule; the JUnit report is read
// with an XML parser, as a CI server reads it.
#include <gtest/gtest.h>

#include <QFile>
#include <QXmlStreamReader>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/machine_session.h"
#include "support/program_process.h"

namespace volmar {
namespace {

using namespace volmar::testing;

// The standard run's steps that expect a resend, the ESC step, and the watch.
const std::set<int> kResendSteps = {1, 2, 3, 5};
constexpr int kEscStep = 6;
constexpr int kWatchStep = 9;
constexpr int kStandardSteps = 9;

struct JUnitCase {
    std::string Name;
    std::string Outcome; // "passed", "failure", "error" or "skipped"
    std::string Message;
};

// The test cases of a JUnit file; a parse error fails the test.
std::vector<JUnitCase> ReadJUnit(const fs::path& File) {
    QFile file(QString::fromStdString(File.string()));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << File;
    QXmlStreamReader xml(&file);
    std::vector<JUnitCase> cases;
    bool suites = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        const QString name = xml.name().toString();
        if (name == QLatin1String("testsuites")) suites = true;
        if (name == QLatin1String("testcase")) {
            cases.push_back({xml.attributes().value(QLatin1String("name")).toString().toStdString(),
                             "passed", {}});
            EXPECT_FALSE(xml.attributes().value(QLatin1String("time")).isEmpty());
        }
        if ((name == QLatin1String("failure") || name == QLatin1String("error") ||
             name == QLatin1String("skipped")) &&
            !cases.empty()) {
            cases.back().Outcome = name.toStdString();
            cases.back().Message =
                xml.attributes().value(QLatin1String("message")).toString().toStdString();
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_TRUE(suites) << "the root is <testsuites>";
    return cases;
}

// A script of data messages at a brisk pace, long enough for any run.
std::string DataMessages(int Count) {
    std::string script = kSettleLines;
    for (int i = 0; i < Count; ++i)
        script += i % 2 ? "send \"Win Report\" 200\npause 120\n" : "send 69h 100\npause 120\n";
    return script;
}

struct RunResult {
    std::optional<int> Status;
    std::vector<JUnitCase> Cases;
    std::string Errors;
    std::string Transcript;
};

class ConformanceEndToEnd : public ::testing::Test {
protected:
    void SetUp() override { folder = std::make_unique<ProgramFolder>(VOLMARSIM_PATH, "volmarconf"); }

    // The machine runs Script with Breaks; the simulator runs Run to its end.
    RunResult Run(const std::string& Script, const std::vector<std::string>& Breaks,
                  const std::string& Run = "standard") {
        RunResult r;
        MachineRun machine;
        std::vector<std::string> args{"--reply-timeout", "1000"};
        for (const std::string& b : Breaks) args.insert(args.end(), {"--break", b});
        const fs::path report = folder->Dir / "report.xml";
        if (machine.Start(VOLMAR_MACHINE_PATH, folder->Dir, Script + kHoldLines, args)) {
            folder->WriteSettings(machine.Device);
            pid_t program = folder->Launch(
                {}, {"--headless", "--quiet", "--conformance", Run, "--junit", report.string()});
            // Bounded by the run's own bounds, generously.
            r.Status = WaitForExit(program, 240000);
            KillAndReap(program);
            machine.Stop();
            machine.Finish(15000);
        }
        r.Transcript = machine.Transcript();
        r.Errors = folder->Errors();
        if (fs::exists(report)) r.Cases = ReadJUnit(report);
        EXPECT_TRUE(fs::exists(fs::path(report).replace_extension(".txt"))) << "the text report";
        return r;
    }

    // The steps (numbered from 1) that did not pass.
    static std::set<int> Failed(const RunResult& R) {
        std::set<int> failed;
        for (std::size_t i = 0; i < R.Cases.size(); ++i)
            if (R.Cases[i].Outcome != "passed") failed.insert(static_cast<int>(i) + 1);
        return failed;
    }

    std::unique_ptr<ProgramFolder> folder;
};

class StandardRunAgainst : public ConformanceEndToEnd,
                           public ::testing::WithParamInterface<const char*> {};

TEST_P(StandardRunAgainst, FailsExactlyTheStepsOfTheRuleBroken) {
    const std::string breach = GetParam();
    const std::map<std::string, std::set<int>> expected = {
        {"none", {}},
        {"no-repeat-bit", kResendSteps},
        {"other-data", kResendSteps},
        {"give-up", kResendSteps},
        {"resend-after-esc", {kEscStep}},
        {"resend-acked", {kWatchStep}},
        {"gap", {kWatchStep}},
        {"bad-checksum", {kWatchStep}},
    };
    const RunResult r = Run(DataMessages(400), breach == "none" ? std::vector<std::string>{}
                                                                : std::vector<std::string>{breach});
    ASSERT_EQ(r.Cases.size(), static_cast<std::size_t>(kStandardSteps)) << r.Errors << r.Transcript;
    EXPECT_EQ(Failed(r), expected.at(breach)) << r.Errors;
    for (int step : expected.at(breach))
        EXPECT_EQ(r.Cases[static_cast<std::size_t>(step) - 1].Outcome, "failure")
            << "a breach is a failure, not an error: " << r.Cases[step - 1].Message;
    EXPECT_EQ(r.Status, expected.at(breach).empty() ? 0 : 4) << r.Errors;
}

INSTANTIATE_TEST_SUITE_P(Breaches, StandardRunAgainst,
                         ::testing::Values("none", "no-repeat-bit", "other-data", "give-up",
                                           "resend-after-esc", "resend-acked", "gap",
                                           "bad-checksum"),
                         [](const auto& Info) {
                             std::string name = Info.param;
                             std::erase(name, '-');
                             return name;
                         });

TEST_F(ConformanceEndToEnd, TheBooksCatchOneCoinTooFewAndAMissedChanceIsAnError) {
    std::string script = kSettleLines;
    for (int i = 0; i < 4; ++i) script += "send \"100Ft In\"\n";
    const fs::path run = folder->Dir / "books.jsonl";
    std::ofstream(run) << "# four coins played, five expected\n"
                          "{\"wait\": {\"messages\": 4}, \"within_s\": 30}\n"
                          "{\"name\": \"five coins\", \"totals\": {\"in\": 500}}\n"
                          "{\"name\": \"four coins\", \"totals\": {\"in\": 400}}\n"
                          "{\"fault\": {\"kind\": \"nak\", \"codes\": \"70\"}, \"within_s\": 2}\n";
    const RunResult r = Run(script, {}, run.string());
    ASSERT_EQ(r.Cases.size(), 4u) << r.Errors << r.Transcript;
    EXPECT_EQ(r.Cases[0].Outcome, "passed") << r.Cases[0].Message;
    EXPECT_EQ(r.Cases[1].Outcome, "failure");
    EXPECT_EQ(r.Cases[1].Message, "in=400 counted, expected in=500");
    EXPECT_EQ(r.Cases[2].Outcome, "passed") << r.Cases[2].Message;
    EXPECT_EQ(r.Cases[3].Outcome, "error") << "no Power on came: never a pass";
    EXPECT_EQ(r.Status, 4);
}

} // namespace
} // namespace volmar
