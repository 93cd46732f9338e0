// The JSON texts of the session tool's status and list.
#include <nlohmann/json.hpp>

#include "web/session_tool.hpp"

#define LOG_MODULE "web/session_json"

namespace {

using Json = nlohmann::ordered_json;

// Bytes that are no UTF-8 (a name is checked, a start time is the device's text) become U+FFFD
// instead of an exception.
std::string dump(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json text_or_null(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

}  // namespace

std::string session_status_json(const SessionStatus& status, const std::string& extra_token) {
    Json json = {{"active", status.active},
                 {"name", text_or_null(status.name)},
                 {"storage", text_or_null(status.storage)},
                 {"path", text_or_null(status.path)},
                 {"start_time", text_or_null(status.start_time)},
                 {"duration", text_or_null(status.duration)},
                 {"data_points", status.active ? Json(status.data_points) : Json(nullptr)},
                 {"bytes", status.active ? Json(status.bytes) : Json(nullptr)},
                 {"use_percent", status.use_percent ? Json(*status.use_percent) : Json(nullptr)},
                 {"problem", text_or_null(status.problem)}};
    if (!extra_token.empty()) {
        json["token"] = extra_token;
    }
    return dump(json);
}

std::string session_list_json(const std::vector<SessionEntry>& sessions) {
    Json list = Json::array();
    for (const SessionEntry& s : sessions) {
        list.push_back({{"name", s.name},
                        {"storage", s.storage},
                        {"path", s.path},
                        {"bytes", s.bytes},
                        {"active", s.active},
                        {"packing", s.packing},
                        {"zip_bytes", s.zip_bytes ? Json(*s.zip_bytes) : Json(nullptr)}});
    }
    return dump(Json{{"sessions", list}});
}
