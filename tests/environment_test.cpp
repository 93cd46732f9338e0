#include "lib/environment.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/bus.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

namespace {

const std::string kS = "root.TemperatureControl.Sensor.S";

class EnvironmentTest : public ::testing::Test {
  protected:
    EnvironmentTest() {
        dev.link("/usr/bin/curl", "/usr/bin/curl");
        make_dirs(dev.root() + "/s");
    }
    // Start-up with the parameter list `params` (or a refused password) and the controller.
    void init(const std::string& params, const std::string& controller, bool refused = false) {
        HttpServer server("root", refused ? "other" : "pass");
        server.serve("param.cgi", params);
        bus.start("norv_temperature", controller);
        init_environment_monitor_settings("root", "pass");
    }
    std::string file(const std::string& name) const { return read_stamped(folder + "/" + name); }

    DeviceRoot dev;
    LogCapture log;
    PrivateBus bus;
    std::string folder = dev.root() + "/s/monitoring_environment";
};

}  // namespace

// Sensor names come from the HTTP API, counts and values from the controller on the bus.
TEST_F(EnvironmentTest, RowsPerSensorHeaterAndFan) {
    init(kS + "0.Name=Main\n" + kS + "1.Name=../../x\n" + kS + "1.Name=../../y\n" + kS +
             "2.Name=Off\n" + kS + "4.Name=Far\n",
         R"({"temperatures": [[12, 50.0], [1, 41.5], [2, 20], [4, 1], [0, 30.25]],
             "heaters": ["stopped", "running"], "heater_count": 3,
             "fans": [[10, "ten"], [1, "one"], [0, "zero"]], "fan_count": 2})");
    EXPECT_TRUE(log.has(
        LOG_DEBUG, "Number of fans: 2, number of heaters: 3, number of temperature sensors: 4"));
    make_dirs(folder + "/Off.csv");  // can't be opened: costs no query
    for (int run = 0; run < 2; ++run) {
        store_temperatures_celsius(folder);
    }
    store_heater_status(folder);
    store_fan_status(folder);
    std::string header = "Date, Time, Temperature (Celsius)\n";
    EXPECT_EQ(file("Main.csv"), header + "T,30.25\nT,30.25\n");
    EXPECT_EQ(file(".._.._y.csv"), header + "T,41.5\nT,41.5\n");
    EXPECT_EQ(file("Far.csv"), "<missing>");  // beyond the count of sensors
    EXPECT_EQ(log.count("Temperature for sensor 2"), 0u);
    EXPECT_EQ(file("Heater_1.csv"), "Date, Time, Heater status\nT,running\n");
    EXPECT_EQ(file("Heater_2.csv"), "Date, Time, Heater status\n");
    EXPECT_EQ(file("Heater_3.csv"), "<missing>");
    EXPECT_EQ(file("Fan_0.csv"), "Date, Time, Fan status\nT,zero\n");
    EXPECT_EQ(file("Fan_2.csv"), "<missing>");
    // Without the controller a new file still gets its header.
    bus.stop("norv_temperature");
    fs::remove(folder + "/Main.csv");
    store_temperatures_celsius(folder);
    EXPECT_EQ(file("Main.csv"), header);
    // A refused API password: no sensors, and the counts of a reply without "int" are kept.
    init(kS + "0.Name=Main\n", R"j({"signatures": {"GetNbrOfFans": "s"},
                                    "replies": {"GetNbrOfFans": "7"}})j",
         true);
    EXPECT_TRUE(log.has(
        LOG_DEBUG, "Number of fans: 2, number of heaters: 0, number of temperature sensors: 0"));
}

TEST_F(EnvironmentTest, SelfMonitoringRowFromTop) {
    BusyBoxPath busybox;
    std::string self = dev.root() + "/s/monitoring_self", pid = std::to_string(getpid());
    // The real top runs in the tick test; here what it never prints: our id in a long summary
    // line before our row, and no row of ours.
    write_file(busybox.dir() + "/top", "#!/bin/sh\necho 'Mem: 1K " + std::string(600, ' ') + pid +
                                           " 9% 9%'\necho '" + pid + " 1 root S 1 1.5% 7% k'\n");
    fs::permissions(busybox.dir() + "/top", fs::perms::owner_all);
    store_self_monitoring(self);
    EXPECT_EQ(read_stamped(self + "/Kelvane_summary.csv"), "Date,Time,%Vsz,%Cpu\nT,5,7\n");
    write_file(busybox.dir() + "/top", "#!/bin/sh\necho ' 1 root 0% 0% init'\n");
    fs::remove_all(self);
    store_self_monitoring(self);
    EXPECT_EQ(read_stamped(self + "/Kelvane_summary.csv"), "<missing>");
    EXPECT_TRUE(log.has(LOG_DEBUG, "Did not find the correct pid.. " + pid));
    EXPECT_TRUE(log.has(LOG_ERR, ") Failed to get top for Kelvane"));
}
