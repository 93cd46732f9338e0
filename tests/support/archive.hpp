// The entry names of a ZIP archive (folders end in '/') through the real `zipinfo`; empty when it
// can't be listed.
#pragma once

#include <set>
#include <string>

#include "lib/sysutil.hpp"

inline std::set<std::string> unzip_list(const std::string& archive) {
    std::vector<std::string> names = pipe_read_lines(
        pipe_open_or_die("tests/archive", __LINE__,
                         "zipinfo -1 \"" + shell_escape_double_quoted(archive) + "\" 2>/dev/null"));
    return std::set<std::string>(names.begin(), names.end());
}
