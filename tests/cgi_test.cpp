#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "lib/device.hpp"
#include "lib/fileutil.hpp"
#include "lib/httputil.hpp"
#include "lib/sysutil.hpp"
#include "support/transcript.hpp"
#include "web/cgi_page.hpp"
#include "web/cgi_routes.hpp"
#include "web/cgi_token.hpp"

namespace {

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";

// "{x*N}" stands for N times x, "$TOKEN" for the device's token.
std::string expand(std::string text) {
    for (size_t at; (at = text.find("$TOKEN")) != std::string::npos;) {
        text.replace(at, 6, kToken);
    }
    for (size_t at; (at = text.find("{")) != std::string::npos;) {
        size_t star = text.find('*', at);
        size_t end = text.find('}', star);
        std::string times(std::stoul(text.substr(star + 1, end - star - 1)), text[at + 1]);
        text.replace(at, end - at + 1, times);
    }
    return text;
}

// One line per answer: the action of an accepted request, or the refusal with its extra
// headers. A refusal's headers must be the bad-request answer's with its own status.
std::string outcome(const CgiReply& reply) {
    if (reply.action.route != nullptr) {
        return "run " + cgi_action_text(reply.action);
    }
    const CgiAnswer& answer = reply.answer;
    std::string want = printed([] { http_print_bad_request(""); });
    want.replace(8, 15, std::to_string(answer.status) + " " + cgi_status_text(answer.status));
    want.resize(want.size() - 2);
    EXPECT_EQ(cgi_answer_head(answer).substr(0, want.size()), want) << answer.body;
    std::string text = std::to_string(answer.status) + " " + answer.body;
    for (const auto& [name, value] : answer.headers) {
        text += " | " + name + ": " + value;
    }
    return text;
}

}  // namespace

// tests/data/web/requests.txt: blocks of "key: value" lines (method, path, query, uri, length,
// body), each ended by "expect: " and the outcome; '#' lines are comments.
TEST(Cgi, AnswersEveryRequestOfTheTable) {
    std::istringstream table(test_data("web/requests.txt"));
    CgiRequest request;
    bool uri_given = false;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        size_t colon = line.find(": ");
        std::string key = line.substr(0, colon);
        std::string value = line.substr(colon + 2);
        std::map<std::string, std::string*> fields = {
            {"method", &request.method}, {"path", &request.path},
            {"query", &request.query},   {"uri", &request.uri},
            {"body", &request.body},     {"length", &request.content_length}};
        if (key != "expect") {
            *fields.at(key) = expand(value);
            uri_given = uri_given || key == "uri";
            continue;
        }
        request.script_name = "/cgi-bin/kelvane.cgi";
        if (!uri_given) {
            request.uri = request.script_name + request.path + "?" + request.query;
        }
        if (request.content_length.empty() && !request.body.empty()) {
            request.content_length = std::to_string(request.body.size());
        }
        std::string where = request.method + " " + request.path.substr(0, 80);
        EXPECT_EQ(outcome(cgi_handle(request, kToken, cgi_routes())), value) << where;
        request = CgiRequest{};
        uri_given = false;
    }
}

// Every value from the device or a storage's name is escaped; a refusal shows on the page.
TEST(Cgi, PagesAsSaved) {
    CgiPage page;
    page.token = kToken;
    page.base = "/cgi-bin/kelvane.cgi";
    page.status.active = true;
    page.status.name = "20240307_14_05_09";
    page.status.storage = "SD_DISK";
    page.status.start_time = "Thu Mar  7 14:05:09 CET 2024";
    page.status.duration = "0 Days 1 hours 5 minutes";
    page.status.data_points = 33;
    page.status.bytes = 123456;
    page.status.use_percent = 41;
    page.capture = CaptureStatus{true, 4242, 5000, false, false};
    EXPECT_EQ(cgi_page_render(page), test_data("web/page_active.html"));

    page.status = SessionStatus{};
    page.status.problem = "The state file names a folder outside every storage: /etc/<x>";
    page.refusal = "Storage <SD_DISK> is read-only & \"full\"";
    StorageInfo card;
    card.disk_id = "SD_DISK", card.friendly_name = "SD card", card.status = "OK";
    card.available = true;
    StorageInfo share = card;
    share.disk_id = "NAS'1", share.friendly_name = "<b>NAS</b>", share.full = true;
    page.storages = StorageList{card, share};
    SessionEntry packing{"20240308_09_00_00", "SD_DISK", "", 2048, false, true, std::nullopt};
    SessionEntry done{"20240307_14_05_09", "internal", "", 999, false, false, 40960};
    page.sessions = std::vector<SessionEntry>{packing, done};
    page.capture = CaptureStatus{false, 4242, kCaptureMaxBytes, true, false};
    EXPECT_EQ(cgi_page_render(page), test_data("web/page_idle.html"));
}

// Made once with mode 0600 and kept; a damaged token file is replaced.
TEST(Cgi, TokenIsKeptOnTheDevice) {
    DeviceRoot device;
    std::string file = device.path(std::string(device::kWebTokenFile));
    std::string token = cgi_token_get();
    EXPECT_TRUE(cgi_token_valid(token)) << token;
    EXPECT_EQ(cgi_token_get(), token);
    EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms(0600));
    write_file(file, token.substr(1));
    EXPECT_NE(cgi_token_get(), token);
    EXPECT_EQ(read_file(file), cgi_token_get());
}

// The program itself, once: the request from the web server's environment, a body read no
// further than the limit and without waiting for more than was sent, the answer's bytes.
TEST(Cgi, RunsUnderTheWebServersEnvironment) {
    std::string answers;
    for (const char* run :
         {"printf list=1 | env -i REQUEST_METHOD=GET PATH_INFO=/nowhere",
          "head -c 70000 /dev/zero | env -i REQUEST_METHOD=GET CONTENT_LENGTH=70000",
          "printf abc | env -i REQUEST_METHOD=GET CONTENT_LENGTH=10"}) {
        std::string cmd = std::string(run) + " SCRIPT_NAME=/cgi-bin/kelvane.cgi " +
                          KELVANE_EXEC_PREFIX " " KELVANE_CGI_PATH " 2>&1";
        Pipe out = pipe_open(cmd);
        ASSERT_TRUE(out) << cmd;
        file_read_all(out.get(), answers);
        answers += "\n";
    }
    EXPECT_EQ(answers, test_data("web/cgi_runs.expected"));
}
