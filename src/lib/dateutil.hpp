// Time stamps in the device's local time.
#pragma once

#include <cstddef>
#include <string>

// `format` (strftime syntax) applied to the current local time, limited to `buffer_size` bytes
// including the terminator; an empty string, after a log message, when the time can't be
// read or the text doesn't fit or is empty.
std::string date_format_now(const char* format, size_t buffer_size)
    __attribute__((format(strftime, 1, 0)));
