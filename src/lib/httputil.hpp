// Answers of the web tools, which run as CGI programs and answer on standard output.
#pragma once

// The whole bad-request answer: CGI status and no-cache headers, then `message` as a plain-text
// body with no line end added.
void http_print_bad_request(const char* message);

// Copies the file's bytes unchanged to standard output, below the headers the caller wrote.
void http_print_file(const char* path);
