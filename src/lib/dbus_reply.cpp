#include "lib/dbus_reply.hpp"

#include <array>
#include <optional>
#include <string_view>

#include "lib/strutil.hpp"

namespace {

// Type words with the text that follows them on a member line.
constexpr std::array<std::string_view, 17> kTypeWords = {
    "string \"", "object path \"",   "signature \"", "int16 ",   "int32 ",     "int64 ",
    "uint16 ",   "uint32 ",          "uint64 ",      "byte ",    "double ",    "boolean ",
    "variant ",  "file descriptor ", "array [",      "struct {", "dict entry("};
constexpr std::array<std::string_view, 3> kClosers = {"]", "}", ")"};

bool is_string_type(std::string_view type) {
    return type == "string" || type == "object path" || type == "signature";
}

// The member a line starts, or nothing when the line continues a string. The tool indents by
// three blanks per level, never less than one level.
std::optional<DbusMember> member_line(const std::string& line) {
    size_t indent = line.find_first_not_of(' ');
    if (indent == std::string::npos || indent == 0 || indent % 3 != 0) {
        return std::nullopt;
    }
    std::string_view rest = std::string_view(line).substr(indent);
    for (std::string_view closer : kClosers) {
        if (rest == closer) {
            return DbusMember{indent, std::string(closer), "", line + "\n"};
        }
    }
    for (std::string_view opener : kTypeWords) {
        if (rest.starts_with(opener)) {
            std::string_view word = opener.substr(0, opener.find_last_not_of(" \"{[(") + 1);
            return DbusMember{indent, std::string(word), std::string(rest.substr(opener.size())),
                              line + "\n"};
        }
    }
    return std::nullopt;
}

// A string's text ends at its last double quote; without one the member is unusable.
void close_string(DbusMember& member) {
    size_t end = member.value.rfind('"');
    if (end == std::string::npos) {
        member.type.clear();
        return;
    }
    member.value.resize(end);
}

}  // namespace

std::vector<DbusMember> dbus_reply_members(const std::vector<std::string>& lines) {
    std::vector<DbusMember> members;
    bool open_string = false;  // the last member is a string that may go on
    for (const std::string& line : lines) {
        if (std::optional<DbusMember> member = member_line(line)) {
            if (open_string) {
                close_string(members.back());
            }
            open_string = is_string_type(member->type);
            members.push_back(std::move(*member));
        } else if (open_string) {
            members.back().value += "\n" + line;
            members.back().text += line + "\n";
        } else if (!members.empty()) {
            members.push_back(DbusMember{0, "", line, line + "\n"});
        }
    }
    if (open_string) {
        close_string(members.back());
    }
    return members;
}

std::vector<DbusStruct> dbus_reply_structs(const std::vector<DbusMember>& members) {
    std::vector<DbusStruct> structs;
    size_t indent = 0;  // of the open structure's "struct {"
    bool open = false;
    for (const DbusMember& member : members) {
        if (open && member.type == "}" && member.indent == indent) {
            structs.back().closed = true;
            open = false;
        } else if (member.type == "struct" && (!open || member.indent <= indent)) {
            // A structure opened at its parent's level means the one before was cut short.
            structs.emplace_back();
            indent = member.indent;
            open = true;
        } else if (open) {
            structs.back().members.push_back(member);
        }
    }
    return structs;
}

bool dbus_fields_counted(const std::vector<DbusMember>& members, size_t expected, LogNotes& notes) {
    if (members.size() == expected) {
        return true;
    }
    int found = static_cast<int>(members.size());
    int wanted = static_cast<int>(expected);
    notes.push_back(
        {LOG_ERR, members.size() < expected
                      ? str_printf("Too few fields, found %d, expected %d.", found, wanted)
                      : str_printf("Too many fields, found %d, expected %d.", found, wanted)});
    return false;
}
