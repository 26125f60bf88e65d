// The figures for Prometheus beside the engine, as the page reads them.
#include <QTcpServer>

#include "lab/lab_fixture.h"
#include "lab/metrics.h"

namespace volmar::testing {
namespace {

class MetricsTest : public LabTest {
protected:
    std::string Page() { return lab->Metrics()->Text().toStdString(); }
};

TEST_F(MetricsTest, AnAnswerIsCountedByKindWithItsLatencyAndTheCopysName) {
    StartOnCom1("[Metrics]\nListen=127.0.0.1:0\nName=bench \"7\"\n");
    EXPECT_TRUE(lab->Metrics()->Failed()) << "port 0 is refused";
    Close();

    QTcpServer free;
    ASSERT_TRUE(free.listen(QHostAddress::LocalHost));
    const std::string port = std::to_string(free.serverPort());
    free.close();
    StartOnCom1("[Metrics]\nListen=" + port + "\nName=bench \"7\"\n");
    ASSERT_FALSE(lab->Metrics()->Failed());
    EXPECT_EQ(lab->Metrics()->Address().Address, QHostAddress(QHostAddress::LocalHost));
    EXPECT_EQ(Exchange(0x20), kAck);
    const std::string page = Page();
    for (const char* series :
         {"volmarsim_answers_total{machine=\"bench \\\"7\\\"\",kind=\"ack\",cause=\"answer\"} 1\n",
          "volmarsim_reply_latency_seconds_count{machine=\"bench \\\"7\\\"\"} 1\n",
          "volmarsim_messages_total{machine=\"bench \\\"7\\\"\",code=\"20\",",
          "volmarsim_meter{machine=\"bench \\\"7\\\"\",total=\"in\"} 1\n",
          "volmarsim_port_open{machine=\"bench \\\"7\\\"\"} 1\n",
          "volmarsim_rule_judged_total{machine=\"bench \\\"7\\\"\",rule=\"whole-frames\"} 1\n",
          "volmarsim_rule_broken_total{machine=\"bench \\\"7\\\"\",rule=\"whole-frames\"} 0\n"})
        EXPECT_NE(page.find(series), std::string::npos) << series << "\n" << page;
    Close();
    EXPECT_NE(ReadFile(kSettingsFileName).find("[Metrics]\nListen=" + port), std::string::npos)
        << "the section stays as the operator wrote it";
}

} // namespace
} // namespace volmar::testing
