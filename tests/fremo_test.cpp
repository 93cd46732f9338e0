#include "lib/fremo.hpp"

#include <gtest/gtest.h>

#include "support/device_root.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"

const std::string kReport = "/norv-cgi/serverreport.cgi";
const std::string kParams = "/norv-cgi/param.cgi?action=list&group=root.TemperatureControl.Sensor";

static std::string read_all(Pipe pipe) {
    std::string body(1 << 16, '\0');
    body.resize(pipe ? std::fread(body.data(), 1, body.size(), pipe.get()) : 0);
    return body;
}

class FremoTest : public ::testing::Test {
  protected:
    FremoTest() { dev.link("/usr/bin/curl", "/usr/bin/curl"); }
    DeviceRoot dev;
    LogCapture log;
    std::string dest = dev.root() + "/report.txt";
};

TEST_F(FremoTest, HttpErrorsStillSucceedAServerDownIsACurlExitStatus) {
    HttpServer server("root", "pass");
    write_file(dest, "old contents that are longer\n");
    server.serve("serverreport.cgi", "report body\n");
    EXPECT_TRUE(fremo_download("root", "pass", kReport, dest));
    EXPECT_EQ(read_file(dest), "report body\n");
    EXPECT_TRUE(fremo_download("root", "wrong", kReport, dest));
    EXPECT_EQ(read_file(dest), "401 Unauthorized\n");
    EXPECT_TRUE(fremo_download("root", "pass", "/norv-cgi/none.cgi", dest));
    EXPECT_EQ(read_file(dest), "404 Not Found\n");
    EXPECT_TRUE(log.entries().empty());
    server.shut_down();
    std::remove(dest.c_str());
    EXPECT_FALSE(fremo_download("root", "pass", kReport, dest));
    EXPECT_TRUE(log.has(LOG_WARNING, "Exit status '7' for command: " + dev.root() +
                                         "/usr/bin/curl -sS -u \"root\":\"pass\" -o \"" + dest +
                                         "\" 'http://" + server.address() + kReport + "'"));
    EXPECT_FALSE(read_file(dest).has_value());
    EXPECT_EQ(read_all(fremo_get("root", "pass", kParams)), "");
}

TEST_F(FremoTest, ShellMetacharactersReachTheServerUnchangedAndLongValuesRun) {
    const std::string user = "op\"er`id`";
    const std::string password =
        "p\"a$HOME`touch $PWNED`'$(touch $PWNED)\\" + std::string(400, 'x');
    HttpServer server(user, password);
    server.serve("serverreport.cgi", "report\n");
    server.serve("param.cgi", "params\n");
    dest = dev.root() + "/dir with \"quotes\" $x/report.txt";
    make_dirs(dev.root() + "/dir with \"quotes\" $x");
    EXPECT_TRUE(fremo_download(user, password, kReport, dest));
    EXPECT_EQ(read_file(dest), "report\n");
    EXPECT_EQ(read_all(fremo_get(user, password, kParams + "&x='y'")), "params\n");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& r : requests) {
        EXPECT_EQ(r.user + ":" + r.password, user + ":" + password);
    }
    EXPECT_EQ(requests[1].path, kParams + "&x='y'");
    EXPECT_FALSE(read_file(dev.root() + "/pwned").has_value());
}
