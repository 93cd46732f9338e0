#include "support/archive.hpp"

#include "lib/sysutil.hpp"

#define LOG_MODULE "tests/archive"

std::set<std::string> unzip_list(const std::string& archive) {
    std::vector<std::string> names = pipe_read_lines(
        PIPE_OPEN("zipinfo -1 \"" + shell_escape_double_quoted(archive) + "\" 2>/dev/null"));
    return std::set<std::string>(names.begin(), names.end());
}
