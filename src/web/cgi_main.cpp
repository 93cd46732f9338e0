// kelvane.cgi: the package's web tool, run by the device's web server once per request. The
// I/O around the request handling: the request from the environment and a bounded body in, the
// route's work run, the answer out.
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <new>

#include "lib/log.hpp"
#include "web/cgi_routes.hpp"
#include "web/cgi_token.hpp"

#define LOG_MODULE "web/cgi_main"

namespace {

// A client that announces a body and then stalls doesn't hold the process for long.
constexpr auto kBodyDeadline = std::chrono::seconds(10);

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// At most the announced length, and never more than one byte over the limit: enough to tell
// a body that is too large from one that fits.
std::string read_body(const std::string& content_length) {
    size_t want = 0;
    if (!content_length.empty() && content_length.size() <= 9 &&
        content_length.find_first_not_of("0123456789") == std::string::npos) {
        want = std::min<size_t>(std::stoul(content_length), kCgiMaxBody + 1);
    }
    std::string body(want, '\0');
    size_t got = 0;
    auto deadline = std::chrono::steady_clock::now() + kBodyDeadline;
    while (got < want) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (left.count() <= 0 || poll(&in, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        ssize_t n = read(STDIN_FILENO, body.data() + got, want - got);
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    body.resize(got);
    return body;
}

CgiRequest request_from_env() {
    CgiRequest request;
    request.method = env("REQUEST_METHOD");
    request.path = env("PATH_INFO");
    request.query = env("QUERY_STRING");
    request.uri = env("REQUEST_URI");
    request.content_length = env("CONTENT_LENGTH");
    request.script_name = env("SCRIPT_NAME");
    request.body = read_body(request.content_length);
    return request;
}

}  // namespace

int main() {
    std::set_new_handler(log_out_of_memory);
    log_open();
    CgiRequest request = request_from_env();
    // Only a state change is checked against the token; pages and JSON fetch it themselves.
    std::string token = request.method == "POST" ? cgi_token_get() : "";
    CgiReply reply = cgi_handle(request, token, cgi_routes());
    if (reply.action.route != nullptr) {
        reply.answer = reply.action.route->run(reply.action);
    } else {
        log_msg(LOG_INFO, "Refused a request: %s", reply.answer.body.c_str());
    }
    cgi_answer_print(reply.answer);
    return 0;
}
