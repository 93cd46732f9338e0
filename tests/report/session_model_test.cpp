#include <gtest/gtest.h>

#include <cmath>

#include "report/csv.hpp"
#include "report/session_model.hpp"

TEST(SessionModel, FindingsAndCounterRates) {
    SessionFiles files{"s", {}, {}};
    files.files["Session_Information.txt"] =
        "Duration: 0 Days 0 hours 30 minutes\r\n"
        "Stop Time of the session: Thu Mar  7 15:00:00 CET 2024\r\n";
    files.files["system_monitoring/monitoring_load/load.csv"] =
        "Date,Time,Load average (1 min)\r\n2024-03-07,14:00:00,0.5\r\n2024-03-07,14:02:00,3.5\r\n";
    files.files["system_monitoring/monitoring_network/eth0.csv"] =
        "Date, Time, Receive: bytes, Transmit: bytes, errs, Failed packages total (receive)\n"
        "2024-03-07,14:00:00,1000,5,0,0\n2024-03-07,14:02:00,7000,5,0,0\n"
        "2024-03-07,14:04:00,500,5,0,0\n2024-03-07,14:30:00,900,5,0,0\n";
    files.files["system_monitoring/monitoring_environment/Fan_0.csv"] =
        "Date, Time, Fan status\n2024-03-07,14:00:00,running\n2024-03-07,14:02:00,failed\n";
    SessionModel m = session_model_build(files);
    std::vector<std::string> findings;
    for (const Finding& f : m.findings) {
        findings.push_back((f.t >= 0 ? csv_time_text(f.t) + " " : "") + f.text);
    }
    EXPECT_EQ(findings, (std::vector<std::string>{
                            "2024-03-07 14:02:00 Fan_0 reported \"failed\"",
                            "2024-03-07 14:02:00 Highest load average (1 min): 3.5",
                            "2024-03-07 14:04:00 No data for 26 minutes, until 2024-03-07 14:30:00 "
                            "(collection stopped: storage lost or daemon not running)",
                            "The daemon ended the session at Thu Mar  7 15:00:00 CET 2024: its "
                            "storage was 90 % full, or its usage could not be read"}));
    // Charts follow the collection order: load before network before environment.
    ASSERT_EQ(m.charts.size(), 3u);
    const Chart& eth0 = m.charts[1];
    ASSERT_EQ(eth0.lines.size(), 4u);
    EXPECT_EQ(eth0.lines[0].label, "Receive: bytes per minute");
    EXPECT_EQ(eth0.lines[2].label, "Transmit: errs per minute");
    EXPECT_EQ(eth0.lines[3].label, "Failed packages total (receive) per minute");
    const auto& p = eth0.lines[0].points;
    ASSERT_EQ(p.size(), 4u);
    // Nothing before the first sample, across the counter's reset, or across the pause.
    EXPECT_TRUE(std::isnan(p[0].v) && std::isnan(p[2].v) && std::isnan(p[3].v));
    EXPECT_EQ(p[1].v, 3000);
    EXPECT_EQ(m.problems, std::vector<std::string>{});
}
