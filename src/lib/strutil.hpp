// Cutting and patching strings in place, and joining strings.
#pragma once

#include <glib.h>

#include <cstdarg>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Cuts `str` at the first `term` and returns the text that followed it (the value of a
// "key=value" line); without `term` the string is left alone and nothing is returned.
std::optional<std::string> str_terminate_at(std::string& str, char term);

// Replaces the first `find`; returns its position, or npos when there is none.
std::string::size_type str_replace_next_char(std::string& str, char find, char replacement);

// Replaces every `find`.
void str_replace_char(std::string& str, char find, char replacement);

// `s1`, `s2` and, when given, `s3`, one after the other with nothing between them.
std::string str_join(std::string_view s1, std::string_view s2,
                     std::optional<std::string_view> s3 = std::nullopt);

// printf into a std::string of whatever length the values need; false (and `out` untouched)
// when the format can't be applied.
bool str_vprintf(std::string& out, const char* fmt, va_list args)
    __attribute__((format(printf, 2, 0)));
std::string str_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The lines of `text` without their '\n'; a last line without one counts too.
std::vector<std::string> str_lines(std::string_view text);

// The text of a GLib-allocated string, which is freed.
std::string gchar_take(gchar* str);
