#include "lib/fremo.hpp"

#include <gtest/gtest.h>

#include "lib/device.hpp"
#include "support/device_root.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"

namespace {

const char* kReport = "/norv-cgi/serverreport.cgi";
const char* kParams = "/norv-cgi/param.cgi?action=list&group=root.TemperatureControl.Sensor";

class FremoTest : public ::testing::Test {
  protected:
    FremoTest() { dev.link("/usr/bin/curl", "/usr/bin/curl"); }
    DeviceRoot dev;
    LogCapture log;

    static std::string read_all(Pipe& pipe) {
        std::string body;
        char buffer[256];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0) {
            body.append(buffer, n);
        }
        return body;
    }
};

}  // namespace

TEST_F(FremoTest, GetReadsTheBodyWithTheCredentials) {
    HttpServer server("root", "pass");
    server.serve("param.cgi", "root.TemperatureControl.Sensor.S0.Name=Main\n");
    Pipe pipe = fremo_get("root", "pass", kParams);
    ASSERT_TRUE(pipe);
    EXPECT_EQ(read_all(pipe), "root.TemperatureControl.Sensor.S0.Name=Main\n");
    pipe.reset();
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].path, kParams);
}

TEST_F(FremoTest, DownloadReplacesTheDestinationAndHttpErrorsStillSucceed) {
    HttpServer server("root", "pass");
    std::string dest = dev.root() + "/report.txt";
    write_file(dest, "old contents that are longer\n");
    server.serve("serverreport.cgi", "report body\n");
    EXPECT_TRUE(fremo_download("root", "pass", kReport, dest));
    EXPECT_EQ(read_file(dest), "report body\n");

    EXPECT_TRUE(fremo_download("root", "wrong", kReport, dest));
    EXPECT_EQ(read_file(dest), "401 Unauthorized\n");
    EXPECT_TRUE(fremo_download("root", "pass", "/norv-cgi/none.cgi", dest));
    EXPECT_EQ(read_file(dest), "404 Not Found\n");
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(FremoTest, ServerDownIsACurlExitStatusAndNoFile) {
    HttpServer server("root", "pass");
    std::string address = server.address();
    server.shut_down();
    device::set_http_address(address);
    std::string dest = dev.root() + "/report.txt";
    EXPECT_FALSE(fremo_download("root", "pass", kReport, dest));
    EXPECT_TRUE(log.has(LOG_WARNING, "Exit status '7' for command: " + dev.root() +
                                         "/usr/bin/curl -sS -u \"root\":\"pass\" -o \"" + dest +
                                         "\" 'http://" + address + kReport + "'"));
    EXPECT_FALSE(read_file(dest).has_value());

    Pipe pipe = fremo_get("root", "pass", kParams);
    ASSERT_TRUE(pipe);
    EXPECT_EQ(read_all(pipe), "");
}

TEST_F(FremoTest, ShellMetacharactersReachTheServerUnchangedAndLongValuesRun) {
    const std::string user = "op\"er`id`";
    const std::string password = "p\"a$HOME`touch pwned`'$(touch pwned)\\" + std::string(400, 'x');
    HttpServer server(user, password);
    server.serve("serverreport.cgi", "report\n");
    server.serve("param.cgi", "params\n");
    std::string dest = dev.root() + "/dir with \"quotes\" $x/report.txt";
    make_dirs(dev.root() + "/dir with \"quotes\" $x");

    EXPECT_TRUE(fremo_download(user, password, kReport, dest));
    EXPECT_EQ(read_file(dest), "report\n");
    Pipe pipe = fremo_get(user, password, std::string(kParams) + "&x='y'");
    ASSERT_TRUE(pipe);
    EXPECT_EQ(read_all(pipe), "params\n");
    pipe.reset();

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& r : requests) {
        EXPECT_EQ(r.user, user);
        EXPECT_EQ(r.password, password);
    }
    EXPECT_EQ(requests[1].path, std::string(kParams) + "&x='y'");
    EXPECT_FALSE(read_file(dev.root() + "/pwned").has_value());
    EXPECT_FALSE(read_file("pwned").has_value());
}
