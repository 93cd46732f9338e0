// Replies as `dbus-send --print-reply` prints them, read by their structure. The tool prints a
// string raw: a line break inside it goes on at column 0 and a double quote inside it is printed
// as is, so a reply can't be read by line position.
#pragma once

#include <string>
#include <vector>

#include "lib/log.hpp"

// One printed member: a value, an opening "array [" or "struct {", or a closing "]" or "}".
struct DbusMember {
    size_t indent = 0;  // blanks before the type word
    std::string type;   // "string", "int32", "array", "struct", "]", "}", ...; empty when unusable
    std::string value;  // a string's text, line breaks included; else the rest of the line
    std::string text;   // the member as printed, one line feed after each of its lines
};

// The members of a reply given as lines without their line feeds. A line that doesn't start
// with the reply's indentation and a type word continues the string before it; a string ends
// at the last double quote of its last line. Lines before the first member (the header) are
// left out; any other stray line is a member without a type.
std::vector<DbusMember> dbus_reply_members(const std::vector<std::string>& lines);

// The members of one "struct {" ... "}" of a reply.
struct DbusStruct {
    std::vector<DbusMember> members;
    bool closed = false;  // its closing line was seen
};
// The structures of a reply in reply order; a member outside any structure is left out.
std::vector<DbusStruct> dbus_reply_structs(const std::vector<DbusMember>& members);

// True when there are `expected` members; else notes "Too few fields" or "Too many fields" with
// both counts.
bool dbus_fields_counted(const std::vector<DbusMember>& members, size_t expected, LogNotes& notes);
