#include "web/session_tool.hpp"

#define LOG_MODULE "web/session_tool"

std::optional<std::string> session_tool_root(const std::string&, const StorageList&,
                                             std::string& reason) {
    reason = "not yet built";
    return std::nullopt;
}

ToolResult session_tool_check_storage(const std::string&, const StorageList&) {
    return {false, "not yet built"};
}

ToolResult session_tool_start(const std::string&, const StorageList&) {
    return {false, "not yet built"};
}

ToolResult session_tool_stop() {
    return {false, "not yet built"};
}

ToolResult session_tool_delete(const std::string&, const std::string&, const StorageList&) {
    return {false, "not yet built"};
}

SessionStatus session_tool_status() {
    return {};
}

std::vector<SessionEntry> session_tool_list(const StorageList&) {
    return {};
}

std::optional<std::string> session_tool_zip_path(const std::string&, const std::string&,
                                                 const StorageList&, std::string& reason) {
    reason = "not yet built";
    return std::nullopt;
}

std::string session_status_json(const SessionStatus&, const std::string&) {
    return "{\"active\": false, \"name\": null, \"storage\": null}";
}

std::string session_list_json(const std::vector<SessionEntry>&) {
    return "{\"sessions\": []}";
}
