#include "support/archive.hpp"

#include <cstdio>
#include <sstream>

#include "lib/fileutil.hpp"
#include "lib/sysutil.hpp"

#define LOG_MODULE "tests/archive"

std::set<std::string> unzip_list(const std::string& archive) {
    // "  Length      Date    Time    Name", a rule, one line per entry, a rule, the totals.
    Pipe pipe = PIPE_OPEN("unzip -l \"" + shell_escape_double_quoted(archive) + "\" 2>/dev/null");
    std::set<std::string> entries;
    std::string line;
    int rules = 0;
    while (file_read_line(pipe.get(), line)) {
        if (line.rfind("---------", 0) == 0) {
            ++rules;
            continue;
        }
        if (rules != 1) {
            continue;
        }
        std::istringstream fields(line);
        std::string length, date, time;
        fields >> length >> date >> time;
        std::string name;
        std::getline(fields >> std::ws, name);
        entries.insert(name);
    }
    return entries;
}
