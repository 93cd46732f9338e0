#include "lib/strutil.hpp"

#include <algorithm>
#include <cstdio>
#include <memory>

std::optional<std::string> str_terminate_at(std::string& str, char term) {
    auto pos = str.find(term);
    if (pos == std::string::npos) {
        return std::nullopt;
    }
    std::string rest = str.substr(pos + 1);
    str.resize(pos);
    return rest;
}

std::string::size_type str_replace_next_char(std::string& str, char find, char replacement) {
    auto pos = str.find(find);
    if (pos != std::string::npos) {
        str[pos] = replacement;
    }
    return pos;
}

void str_replace_char(std::string& str, char find, char replacement) {
    if (find != replacement) {
        std::replace(str.begin(), str.end(), find, replacement);
    }
}

std::string str_join(std::string_view s1, std::string_view s2, std::optional<std::string_view> s3) {
    std::string joined;
    joined.reserve(s1.size() + s2.size() + (s3 ? s3->size() : 0));
    joined += s1;
    joined += s2;
    if (s3) {
        joined += *s3;
    }
    return joined;
}

std::string gchar_take(gchar* str) {
    std::unique_ptr<gchar, decltype(&g_free)> owned(str, &g_free);
    return owned ? std::string(owned.get()) : std::string();
}

bool str_vprintf(std::string& out, const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (needed < 0) {
        return false;
    }
    out.assign(static_cast<size_t>(needed), '\0');
    return std::vsnprintf(out.data(), out.size() + 1, fmt, args) == needed;
}

std::string str_printf(const char* fmt, ...) {
    std::string out;
    va_list args;
    va_start(args, fmt);
    str_vprintf(out, fmt, args);
    va_end(args);
    return out;
}

std::vector<std::string> str_lines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        lines.emplace_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}
