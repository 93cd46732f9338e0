#include "lib/timeseries.hpp"

#include "lib/dateutil.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"

std::string monitoring_folder(const std::string& session_path, const std::string& name) {
    return session_path + "/system_monitoring/" + name;
}

bool csv_append(const char* module, int line, const std::string& file_path,
                const std::string& header, const std::string& row) {
    return csv_append(module, line, file_path, header, [&row] { return row; });
}

bool csv_append(const char* module, int line, const std::string& file_path,
                const std::string& header, const std::function<std::string()>& make_row) {
    bool existed = is_file(file_path);
    File file = file_open(file_path, "a");
    if (!file) {
        log_errno_msg(LOG_ERR, module, line, "Could not open file '%s'", file_path.c_str());
        return false;
    }
    if (!existed) {
        std::fputs(header.c_str(), file.get());
    }
    std::fputs(make_row().c_str(), file.get());
    return true;
}

std::string csv_timestamp() {
    return date_format_now("%Y-%m-%d,%H:%M:%S", 40);
}
