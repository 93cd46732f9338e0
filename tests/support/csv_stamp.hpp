// Comparing CSV files whose rows carry the time of the run.
#pragma once

#include <optional>
#include <regex>
#include <string>

// The file's text with every date and time column pair replaced by STAMP ("<missing>" when
// there is no file).
inline std::string unstamped(const std::optional<std::string>& text) {
    return std::regex_replace(text.value_or("<missing>"),
                              std::regex(R"(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d)"), "STAMP");
}
