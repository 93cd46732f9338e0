#include "web/cgi_answer.hpp"

#include <cstdio>

#include "lib/httputil.hpp"

namespace {

struct StatusText {
    int status;
    const char* text;
};

constexpr StatusText kStatusTexts[] = {
    {200, "OK"},
    {303, "See Other"},
    {400, "Bad Request"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {409, "Conflict"},
    {429, "Too Many Requests"},
    {500, "Internal Server Error"},
    {503, "Service Unavailable"},
};

}  // namespace

const char* cgi_status_text(int status) {
    for (const auto& known : kStatusTexts) {
        if (known.status == status) {
            return known.text;
        }
    }
    return "Unknown";
}

CgiAnswer cgi_refusal(int status, std::string message) {
    return cgi_text(status, kCgiText, std::move(message));
}

CgiAnswer cgi_redirect(std::string location) {
    CgiAnswer answer = cgi_text(303, kCgiText, "");
    answer.headers.emplace_back("Location", std::move(location));
    return answer;
}

CgiAnswer cgi_text(int status, std::string content_type, std::string body) {
    CgiAnswer answer;
    answer.status = status;
    answer.content_type = std::move(content_type);
    answer.body = std::move(body);
    return answer;
}

CgiAnswer cgi_stream(std::string content_type, std::function<void()> write) {
    CgiAnswer answer = cgi_text(200, std::move(content_type), "");
    answer.stream = std::move(write);
    return answer;
}

std::string cgi_answer_head(const CgiAnswer& answer) {
    std::string head = "Status: " + std::to_string(answer.status) + " " +
                       cgi_status_text(answer.status) +
                       "\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nExpires: -1\r\n"
                       "Content-Type: " +
                       answer.content_type + "\r\n";
    for (const auto& [name, value] : answer.headers) {
        head += name + ": " + value + "\r\n";
    }
    return head + "\r\n";
}

void cgi_answer_print(const CgiAnswer& answer) {
    if (answer.status == 400 && answer.content_type == kCgiText && answer.headers.empty() &&
        answer.file.empty() && !answer.stream) {
        http_print_bad_request(answer.body.c_str());
    } else {
        std::fputs(cgi_answer_head(answer).c_str(), stdout);
        std::fwrite(answer.body.data(), 1, answer.body.size(), stdout);
        if (!answer.file.empty()) {
            http_print_file(answer.file.c_str());
        }
        if (answer.stream) {
            std::fflush(stdout);
            answer.stream();
        }
    }
    std::fflush(stdout);
}
