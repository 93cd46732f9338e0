#include "lib/fremo.hpp"

#include <gtest/gtest.h>

#include "lib/fileutil.hpp"
#include "support/device_root.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"

namespace {

const std::string kReport = "/norv-cgi/serverreport.cgi";
const std::string kParams = "/norv-cgi/param.cgi?action=list&group=root.TemperatureControl.Sensor";

std::string read_all(Pipe pipe) {
    std::string body;
    if (pipe) {
        file_read_all(pipe.get(), body);
    }
    return body;
}

}  // namespace

// curl against the loopback server: HTTP errors are answers, a server down is curl's status 7.
TEST(Fremo, HttpErrorsStillSucceedAServerDownIsACurlExitStatus) {
    DeviceRoot dev;
    LogCapture log;
    dev.link("/usr/bin/curl", "/usr/bin/curl");
    std::string dest = dev.root() + "/report.txt";
    HttpServer server("root", "pass");
    write_file(dest, "old contents that are longer\n");
    server.serve("serverreport.cgi", "report body\n");
    for (auto [password, path, body] :
         {std::tuple{"pass", kReport, "report body\n"},
          {"wrong", kReport, "401 Unauthorized\n"},
          {"pass", std::string("/norv-cgi/none.cgi"), "404 Not Found\n"}}) {
        EXPECT_TRUE(fremo_download("root", password, path, dest));
        EXPECT_EQ(read_file(dest), body);
    }
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

TEST(Fremo, ShellMetacharactersReachTheServerUnchangedAndLongValuesRun) {
    DeviceRoot dev;
    dev.link("/usr/bin/curl", "/usr/bin/curl");
    const std::string user = "op\"er`id`";
    const std::string password =
        "p\"a$HOME`touch $PWNED`'$(touch $PWNED)\\" + std::string(400, 'x');
    HttpServer server(user, password);
    server.serve("serverreport.cgi", "report\n");
    server.serve("param.cgi", "params\n");
    std::string dest = dev.root() + "/dir with \"quotes\" $x/report.txt";
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
