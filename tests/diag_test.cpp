#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "lib/device.hpp"
#include "support/busybox_path.hpp"
#include "support/process.hpp"
#include "support/transcript.hpp"
#include "web/capture.hpp"
#include "web/cgi_routes.hpp"
#include "web/cgi_token.hpp"
#include "web/diag.hpp"

namespace fs = std::filesystem;

namespace {

// The web tool's whole answer to one request, as the web server gets it.
std::string ask(const std::string& method, const std::string& path, const std::string& fields) {
    CgiRequest request;
    request.method = method;
    request.path = path;
    request.script_name = "/cgi-bin/kelvane.cgi";
    (method == "POST" ? request.body : request.query) = fields;
    request.content_length = method == "POST" ? std::to_string(fields.size()) : "";
    CgiReply reply = cgi_handle(request, cgi_token_get(), cgi_routes());
    if (reply.action.route != nullptr) {
        reply.answer = reply.action.route->run(reply.action);
    }
    return printed([&] { cgi_answer_print(reply.answer); });
}

// The status line and, for a refusal shown on the page, its text.
std::string outcome(const std::string& answer) {
    std::smatch refusal;
    std::regex_search(answer, refusal, std::regex("id=\"refusal\"[^>]*>([^<]*)<"));
    return answer.substr(0, answer.find('\r')) + (refusal.empty() ? "" : " " + refusal.str(1));
}

}  // namespace

// A ping and a traceroute of 127.0.0.1 through the tool (the camera's simple ping, BusyBox
// traceroute), an unanswered ping, and a second check while one runs.
TEST(Diag, NetChecksThroughTheTool) {
    DeviceRoot dev;
    BusyBoxPath tools;
    fs::create_symlink(KELVANE_SOURCE_DIR "/tests/support/ping", tools.dir() + "/ping");
    fs::create_symlink("/bin/busybox", tools.dir() + "/traceroute");
    std::string answers = ask("GET", "/ping", "address=127.0.0.1") +
                          ask("GET", "/traceroute", "address=127.0.0.1") +
                          ask("GET", "/ping", "address=10.255.0.9") + ask("GET", "/dns", "");
    bool busy = false;
    std::string reason;
    FileDescriptor held = diag_netcheck_lock(busy, reason);
    answers += ask("GET", "/traceroute", "address=127.0.0.1");
    EXPECT_EQ(std::regex_replace(answers, std::regex(R"(\d+\.\d+ ms)"), "T ms"),
              test_data("web/netchecks.expected"));
}

// A reader that has gone away ends the command, even one that would never stop by itself.
TEST(Diag, ReaderGoneEndsTheCommand) {
    DeviceRoot dev;
    BusyBoxPath tools;
    write_file(tools.dir() + "/traceroute",
               "#!/bin/sh\ntrap '' PIPE\nwhile :; do echo hop; done\n");
    fs::permissions(tools.dir() + "/traceroute", fs::perms::owner_all);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    diag_netcheck_run(NetCheck::kTraceroute, "127.0.0.1");
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::clearerr(stdout);
}

// Start, stop and resume through the tool with a real tail; a stale id is never signalled; the
// capture stops itself at its size limit; a link in place of its files is refused.
TEST(Diag, CaptureThroughTheTool) {
    DeviceRoot dev;
    LogCapture log;
    dev.link("/usr/bin/tail", "/usr/bin/tail");
    dev.link(std::string(device::kProcDir), "/proc");
    fs::copy(KELVANE_TEST_DATA "ovra_cont_syslog/device", dev.root(), fs::copy_options::recursive);
    const std::string capture = dev.path(std::string(device::kSyslogCapture));
    const std::string token = "token=" + cgi_token_get();
    std::string steps;
    auto post = [&](const char* what) {
        steps += std::string(what) + ": " +
                 outcome(ask("POST", "/syslog/" + std::string(what), token)) + "\n";
    };
    auto log_line = [&](const std::string& line) {
        std::ofstream(dev.path("/var/log/info.log"), std::ios::app) << line;
    };
    // tail reads each log from its end once its watch is set up.
    auto following = [](pid_t pid) {
        std::string watching = "ls -l /proc/" + std::to_string(pid) + "/fd | grep -q inotify";
        return wait_until([&] { return std::system(watching.c_str()) == 0; });
    };
    post("stop");
    post("start");
    post("start");
    ASSERT_TRUE(following(capture_status().pid));
    log_line("alpha\n");
    EXPECT_TRUE(wait_until([&] { return read_file(capture) == "alpha\n"; }));
    steps += outcome(ask("GET", "/syslog", "")) + " " + read_file(capture).value_or("");
    post("stop");
    log_line("bravo\n");
    post("resume");
    ASSERT_TRUE(following(capture_status().pid));
    log_line("charlie\n");
    EXPECT_TRUE(wait_until([&] { return read_file(capture).value_or("").ends_with("charlie\n"); }));
    steps += read_file(capture).value_or("");
    post("stop");

    // An id that is no longer the capture's tail: here this very test.
    write_file(dev.path(std::string(device::kSyslogCapturePid)), std::to_string(getpid()) + "\n");
    post("stop");

    ASSERT_TRUE(capture_start(64).ok);
    ASSERT_TRUE(following(capture_status().pid));
    log_line(std::string(100, 'x') + "\n");
    EXPECT_TRUE(wait_until([&] { return !capture_status(64).running; }));
    CaptureStatus full = capture_status(64);
    steps += "full " + std::to_string(full.full) + " " + std::to_string(full.bytes) + ": " +
             capture_resume(64).text + "\n";

    fs::remove(capture);
    fs::create_symlink(dev.path("/elsewhere"), capture);
    post("start");
    post("resume");
    steps += outcome(ask("GET", "/syslog", "")) + "\n";
    EXPECT_FALSE(fs::exists(dev.path("/elsewhere")));
    steps = std::regex_replace(steps, std::regex(R"(process \d+)"), "process N");
    EXPECT_EQ(steps, test_data("web/capture.expected"));
}
