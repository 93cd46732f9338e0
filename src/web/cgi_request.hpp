// A CGI request as the web server hands it over, and the strict decoding of its values. Nothing
// here trusts the client: every limit below is checked before a value is looked at.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

inline constexpr size_t kCgiMaxBody = 64 * 1024;
inline constexpr size_t kCgiMaxQuery = 2048;
inline constexpr size_t kCgiMaxPath = 256;
inline constexpr size_t kCgiMaxFields = 16;
inline constexpr size_t kCgiMaxValue = 1024;

struct CgiRequest {
    std::string method;          // REQUEST_METHOD
    std::string path;            // PATH_INFO, decoded by the server; empty for the page
    std::string query;           // QUERY_STRING, still encoded
    std::string uri;             // REQUEST_URI, as the client sent it
    std::string content_length;  // CONTENT_LENGTH as given; empty when there was none
    std::string body;            // standard input, at most kCgiMaxBody + 1 bytes of it
    std::string script_name;     // SCRIPT_NAME: where the page lives
};

using CgiFields = std::map<std::string, std::string, std::less<>>;

// `text` with %XX (and, in forms, '+') decoded; nothing for a broken escape or when the result
// holds a control character (NUL, newline, ...).
std::optional<std::string> cgi_decode(std::string_view text, bool plus_is_space);

// The fields of a query or form body ("a=1&b=x%20y"); nothing, and the reason in `why`, for a
// broken pair, a field given twice, too many fields or too long a value.
std::optional<CgiFields> cgi_parse_fields(std::string_view text, std::string& why);

// Why the request's path, query or body can't be looked at; empty when they can.
std::string cgi_request_problem(const CgiRequest& request);

// The value of a field, or nothing.
std::optional<std::string_view> cgi_field(const CgiFields& fields, std::string_view name);
