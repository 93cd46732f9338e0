#include "lib/fremo.hpp"

#include <gtest/gtest.h>

#include "support/device_root.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"

// curl against the loopback server: HTTP errors are answers, a server down is curl's status 7;
// shell metacharacters and long values reach the server unchanged (it answers 401 otherwise).
TEST(Fremo, CredentialsAndPathsReachTheServerUnchangedOnlyCurlFailuresFail) {
    DeviceRoot dev;
    LogCapture log;
    dev.link("/usr/bin/curl", "/usr/bin/curl");
    const std::string path = "/norv-cgi/param.cgi?action=list&group=root.Sensor&x='y'";
    const std::string user = "op\"er`id`";
    const std::string password =
        "p\"a$HOME`touch $PWNED`'$(touch $PWNED)\\" + std::string(400, 'x');
    HttpServer server(user, password);
    server.serve("param.cgi", "params\n");
    std::string dest = dev.root() + "/dir with \"quotes\" $x/report.txt";
    write_file(dest, "old contents that are longer\n");
    for (auto [pass, body] : {std::pair{password, "params\n"}, {"wrong", "401 Unauthorized\n"}}) {
        EXPECT_TRUE(fremo_download(user, pass, path, dest));
        EXPECT_EQ(read_file(dest), body);
    }
    EXPECT_EQ(server.requests().back().path, path);
    server.shut_down();
    EXPECT_FALSE(fremo_download("root", "pass", path, dest));
    EXPECT_EQ(log_lines(log, dev),
              "4 Exit status '7' for command: ROOT/usr/bin/curl -sS -u \"root\":\"pass\" -o "
              "\"ROOT/dir with \\\"quotes\\\" \\$x/report.txt\" 'http://" +
                  server.address() +
                  "/norv-cgi/param.cgi?action=list&group=root.Sensor&x='\\''y'\\'''\n");
}
