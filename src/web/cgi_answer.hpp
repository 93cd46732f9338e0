// What the web tool answers: a CGI status, the no-cache headers every answer carries, and a
// body that is text, a file's bytes or output streamed while a command runs.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

inline constexpr const char* kCgiText = "text/plain; charset=utf-8";
inline constexpr const char* kCgiHtml = "text/html; charset=utf-8";
inline constexpr const char* kCgiJson = "application/json";

struct CgiAnswer {
    int status = 200;
    std::string content_type = kCgiText;
    std::vector<std::pair<std::string, std::string>> headers;  // after the common ones
    std::string body;
    std::string file;              // when set, the body is this file's bytes
    std::function<void()> stream;  // when set, writes the body to standard output as it comes
};

// "404 Not Found", ...
const char* cgi_status_text(int status);

// A plain-text refusal (400, 403, 404, 405, 429, ...) with the bad-request answer's headers.
CgiAnswer cgi_refusal(int status, std::string message);
// 303 See Other to `location`.
CgiAnswer cgi_redirect(std::string location);
CgiAnswer cgi_text(int status, std::string content_type, std::string body);
// 200 with a body that `write` puts on standard output while it runs (a command's output line
// by line); the headers go out, and are flushed, before it starts.
CgiAnswer cgi_stream(std::string content_type, std::function<void()> write);

// The header block of `answer`, up to and including the empty line.
std::string cgi_answer_head(const CgiAnswer& answer);

// Writes `answer` to standard output; a 400 through http_print_bad_request.
void cgi_answer_print(const CgiAnswer& answer);
