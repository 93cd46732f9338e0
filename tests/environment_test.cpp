#include "lib/environment.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

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
        make_dirs(dev.root() + "/a/b");
        number_of_temperature_sensors = number_of_heaters = number_of_fans = 0;
        temperature_sensor_names.fill(std::nullopt);
    }
    // Start-up with the parameter list `params` and the controller mock's `controller`.
    void init(const std::string& params, const std::string& controller) {
        HttpServer server("root", "pass");
        server.serve("param.cgi", params);
        bus.start("norv_temperature", controller);
        init_environment_monitor_settings("root", "pass");
    }
    std::string file(const std::string& name) const { return read_stamped(folder + "/" + name); }

    DeviceRoot dev;
    LogCapture log;
    PrivateBus bus;
    std::string folder = dev.root() + "/a/b/monitoring_environment";
};

}  // namespace

TEST_F(EnvironmentTest, InitTakesNumberedNamesAndCountsThenHeaterAndFanRows) {
    init(kS + "0.Location=In\n" + kS + "0.Name=Main\n" + kS + "20.Name=T\n" + kS + "-1.Name=N\nx" +
             kS + "2.Name=X\n" + kS + "19.Name=Last\n" + kS + "1.Name=\n" + kS +
             "1.Name=" + std::string(300, 'n'),
         R"({"heaters": ["stopped", "running"], "heater_count": 3,
             "fans": [[10, "ten"], [1, "one"], [0, "zero"]], "fan_count": 2})");
    // S0, S1 (counted once, named by its later line) and S19.
    EXPECT_EQ(number_of_temperature_sensors, 3);
    EXPECT_EQ(temperature_sensor_names[0], "Main");
    EXPECT_EQ(temperature_sensor_names[1], std::string(300, 'n'));
    EXPECT_EQ(temperature_sensor_names[2], std::nullopt);
    EXPECT_EQ(temperature_sensor_names[19], "Last");
    EXPECT_TRUE(log.has(
        LOG_DEBUG, "Number of fans: 2, number of heaters: 3, number of temperature sensors: 3"));
    store_heater_status(folder);
    store_fan_status(folder);
    EXPECT_EQ(file("Heater_1.csv"), "Date, Time, Heater status\nT,running\n");
    EXPECT_EQ(file("Heater_2.csv"), "Date, Time, Heater status\n");
    EXPECT_EQ(file("Fan_0.csv"), "Date, Time, Fan status\nT,zero\n");
    EXPECT_EQ(file("Fan_1.csv"), "Date, Time, Fan status\nT,one\n");
    EXPECT_EQ(file("Fan_2.csv"), "<missing>");

    // A count reply without "int" keeps the count; a fan status that is no string gives no row.
    init("",
         R"j({"signatures": {"GetNbrOfFans": "s", "GetAllFanStatus": "a(ii)"},
              "replies": {"GetNbrOfFans": "7", "GetAllFanStatus": [[0, 5]]}})j");
    EXPECT_EQ(number_of_fans, 2);
    fs::remove_all(folder);
    store_fan_status(folder);
    EXPECT_TRUE(log.has(LOG_ERR, "Expected string value, got          int32 5"));
    EXPECT_EQ(file("Fan_0.csv"), "Date, Time, Fan status\n");
}

TEST_F(EnvironmentTest, InitWithoutApiOrControllerStartsWithoutSensors) {
    number_of_heaters = 4;
    HttpServer server("root", "other");
    server.serve("param.cgi", kS + "0.Name=Main\n");
    init_environment_monitor_settings("root", "pass");  // 401
    server.shut_down();
    init_environment_monitor_settings("root", "pass");  // refused
    EXPECT_EQ(
        log.count("Number of fans: 0, number of heaters: 4, number of temperature sensors: 0"), 2u);
}

TEST_F(EnvironmentTest, TemperaturesMatchWholeSensorNumbersAndStayInTheFolder) {
    // Positions 0 to 3: position 3 has no name, sensor 4 lies beyond.
    init(kS + "0.Name=Main\n" + kS + "1.Name=../../x\n" + kS + "2.Name=Off\n" + kS + "4.Name=Far\n",
         R"({"temperatures": [[12, 50.0], [1, 41.5], [2, 20], [4, 1], [0, 30.25]]})");
    make_dirs(folder + "/Off.csv");
    store_temperatures_celsius(folder);
    store_temperatures_celsius(folder);
    std::string header = "Date, Time, Temperature (Celsius)\n";
    EXPECT_EQ(file("Main.csv"), header + "T,30.25\nT,30.25\n");
    EXPECT_EQ(file(".._.._x.csv"), header + "T,41.5\nT,41.5\n");
    EXPECT_EQ(file("Far.csv"), "<missing>");
    EXPECT_FALSE(fs::exists(dev.root() + "/a/x.csv"));
    // The file that can't be opened costs no query.
    EXPECT_EQ(log.count("Could not open file '" + folder + "/Off.csv'"), 2u);
    EXPECT_EQ(log.count("Temperature for sensor 2"), 0u);
    // A new file gets its header even when the controller is gone.
    bus.stop("norv_temperature");
    fs::remove(folder + "/Main.csv");
    store_temperatures_celsius(folder);
    EXPECT_EQ(file("Main.csv"), header);
}

TEST_F(EnvironmentTest, SelfMonitoringRowFromBusyBoxTop) {
    BusyBoxPath busybox;
    std::string self = dev.root() + "/a/b/monitoring_self", pid = std::to_string(getpid());
    store_self_monitoring(self);
    std::string text = read_stamped(self + "/Kelvane_summary.csv");
    EXPECT_TRUE(std::regex_match(text, std::regex("Date,Time,%Vsz,%Cpu\nT,\\d+,\\d+\n"))) << text;
    auto top = [&](const std::string& output) {  // what BusyBox never prints
        write_file(busybox.dir() + "/top", "#!/bin/sh\ncat <<'EOF'\n" + output + "EOF\n");
        fs::permissions(busybox.dir() + "/top", fs::perms::owner_all);
        fs::remove_all(self);
        store_self_monitoring(self);
        return read_stamped(self + "/Kelvane_summary.csv");
    };
    // A long summary line with our id past byte 512, then our row.
    EXPECT_EQ(top("Mem: 1K " + std::string(600, ' ') + pid + " 9% 9%\n" + pid +
                  " 1 root S 100 1.5% 7% kelvane\n"),
              "Date,Time,%Vsz,%Cpu\nT,5,7\n");
    EXPECT_EQ(top("  PID USER\n 1 root 0% 0% init\n"), "<missing>");
    EXPECT_TRUE(log.has(LOG_DEBUG, "Did not find the correct pid.. " + pid));
    EXPECT_TRUE(log.has(LOG_ERR, ") Failed to get top for Kelvane"));
    // A top without percent signs in its rows gives nothing and says nothing.
    log.clear();
    EXPECT_EQ(top(pid + " 1 root S 100 kelvane\n"), "<missing>");
    EXPECT_FALSE(log.has(LOG_ERR, ""));
}
