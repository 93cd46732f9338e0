// Reads what a ZIP archive holds through the real `zipinfo`.
#pragma once

#include <set>
#include <string>

// The entry names of `archive` (folders end in '/'); empty when it can't be listed.
std::set<std::string> unzip_list(const std::string& archive);
