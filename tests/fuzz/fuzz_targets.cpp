// libFuzzer targets, named by KELVANE_FUZZ_TARGET (scripts/fuzz lists them with their starting
// inputs): "parsers" feeds every parser of what the device's files, tools and bus services give;
// "session_files" goes through the files of the session and the local data folder; "requests"
// hands the web tool's request handling a request of five lines (method, path, query, address,
// length) and the body after them.
#include <glib.h>

#include <cstdlib>
#include <filesystem>

#include "kelvane_daemon.hpp"
#include "lib/device.hpp"
#include "lib/environment.hpp"
#include "lib/eventlistener.hpp"
#include "lib/filehandler.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/ptz.hpp"
#include "lib/ptz_test.hpp"
#include "lib/session_globals.hpp"
#include "lib/storage_investigator.hpp"
#include "lib/strutil.hpp"
#include "web/cgi_page.hpp"
#include "web/cgi_routes.hpp"

namespace {

std::string scratch;  // stands for the device root and a session folder

void parsers(const std::string& text, const std::vector<std::string>& lines) {
    LogNotes notes;
    hashtable_key_ordering_t net{
        0, {}, "", g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free)};
    parse_proc_net_dev(text, &net, notes);
    g_hash_table_destroy(net.map);
    parse_buddyinfo(text);
    std::optional<std::string> bad;
    df_parse_use_pcent(text, bad);
    du_parse_bytes(text);
    lines_include(text, "Kelvane");
    ptz_parse_name_table(text);
    // The reply must outlive the node that storage_find points to.
    StorageReply reply = storage_reply_parse(lines);
    if (const StorageInfo* s = storage_find(reply.storages, "SD_DISK")) {
        is_storage_ok(*s);
    }
    for (int i : {0, 1}) {
        temperature_reply_value(lines, i, notes);
        fan_reply_value(lines, i, notes);
    }
    heater_reply_value(lines, notes);
    parse_count_reply(lines);
    stream_history_cells(lines);
    std::string name;
    for (std::string line : lines) {
        parse_meminfo_line(line);
        vmstat_parse_line(line, 20);
        top_line_first_number(line);
        top_line_percentages(line);
        parse_load_average(line);
        parse_sensor_name_line(line, name);
        ptz_parse_signal_line(line);
        parse_eventlistener_line(line.data());
    }
}

void session_files(const std::string& text, const std::vector<std::string>&) {
    LogNotes notes;
    monitoring_session_parse(text, notes);
    for (std::string_view file : {device::kPtzTestIntervalFile, device::kPtzTestTimesFile}) {
        file_replace_contents(device::path(file), text);
    }
    ptz_test_interval_get();
    ptz_test_given_times_get();
    file_replace_contents(scratch + "/Session_Information.txt", text);
    update_number_of_collected_data_points(scratch);
    update_session_duration(scratch);
}

void requests(const std::string& text, const std::vector<std::string>& lines) {
    CgiRequest r;
    std::string* parts[] = {&r.method, &r.path, &r.query, &r.uri, &r.content_length};
    size_t at = 0;
    for (size_t i = 0; i < std::size(parts) && i < lines.size(); ++i) {
        *parts[i] = lines[i];
        at = std::min(text.size(), at + lines[i].size() + 1);
    }
    r.body = text.substr(at);
    CgiReply reply = cgi_handle(r, "0123456789abcdef0123456789abcdef", cgi_routes());
    cgi_answer_head(reply.answer);
    cgi_action_text(reply.action);
    html_escape(text);
    url_encode(text);
}

void (*target)(const std::string& text, const std::vector<std::string>& lines) = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* env = std::getenv("KELVANE_FUZZ_TARGET");
    std::string_view name = env != nullptr ? env : "";
    target = name == "parsers"         ? parsers
             : name == "session_files" ? session_files
             : name == "requests"      ? requests
                                       : nullptr;
    // Millions of inputs must not reach the system log. The files are replaced the durable way
    // (fsync), which costs little in memory.
    log_set_sink([](int, const std::string&) {});
    scratch = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    scratch += "/kelvane-fuzz-XXXXXX";
    if (target == nullptr || mkdtemp(scratch.data()) == nullptr) {
        std::exit(2);
    }
    std::atexit([] { std::filesystem::remove_all(scratch); });
    device::set_root(scratch);
    std::filesystem::create_directories(device::path(device::kLocalDataDir));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    target(text, str_lines(text));
    return 0;
}
