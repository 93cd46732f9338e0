#include "web/session_place.hpp"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cctype>
#include <filesystem>
#include <system_error>

#include "lib/device.hpp"
#include "lib/filehandler.hpp"
#include "lib/fileutil.hpp"
#include "lib/strutil.hpp"

#define LOG_MODULE "web/session_place"

namespace {

constexpr std::string_view kNameForm = "dddddddd_dd_dd_dd";
constexpr size_t kPrintableMax = 256;

// The value of a "<field>: value" line without its line end; nothing for another line.
std::optional<std::string> field_value(const std::string& line, std::string_view field) {
    if (!line.starts_with(field) || line.compare(field.size(), 2, ": ") != 0) {
        return std::nullopt;
    }
    std::string value = line.substr(field.size() + 2);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) {
        value.pop_back();
    }
    return value;
}

}  // namespace

bool session_name_valid(std::string_view name) {
    if (name.size() != kNameForm.size()) {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        bool digit = std::isdigit(static_cast<unsigned char>(name[i])) != 0;
        if (kNameForm[i] == 'd' ? !digit : name[i] != '_') {
            return false;
        }
    }
    return true;
}

std::string session_printable(std::string_view value) {
    std::string out(value.substr(0, kPrintableMax));
    for (char& c : out) {
        if (std::iscntrl(static_cast<unsigned char>(c))) {
            c = '?';
        }
    }
    return value.size() > kPrintableMax ? out + "..." : out;
}

std::optional<std::string> session_place_root(const std::string& storage,
                                              const StorageList& storages, std::string& reason) {
    if (storage == kInternalStorage) {
        return device::path(device::kLocalDataDir) + "/";
    }
    const StorageInfo* info = storage.empty() ? nullptr : storage_find(storages, storage);
    if (info == nullptr) {
        reason = "unknown storage '" + session_printable(storage) + "'";
        return std::nullopt;
    }
    std::string mount = info->mount_point.value_or("");
    while (mount.size() > 1 && mount.back() == '/') {
        mount.pop_back();
    }
    // The daemon's own checks accept sessions only below the device's storage folder.
    if (!mount.starts_with(device::kStorageDir) || mount.find("/..") != std::string::npos) {
        reason = "storage '" + session_printable(storage) + "' is mounted at '" +
                 session_printable(mount) + "', outside " + std::string(device::kStorageDir);
        return std::nullopt;
    }
    return device::path(mount) + "/" + kSessionRootName;
}

bool session_place_is_session(const std::string& root, const std::string& name) {
    std::string path = root + name;
    struct stat st;
    return session_name_valid(name) && lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           is_monitory_dir(path.c_str());
}

std::optional<std::string> session_place_folder(const std::string& name, const std::string& storage,
                                                const StorageList& storages, std::string& reason) {
    if (!session_name_valid(name)) {
        reason = "bad session name '" + session_printable(name) + "'";
        return std::nullopt;
    }
    std::optional<std::string> root = session_place_root(storage, storages, reason);
    if (!root) {
        return std::nullopt;
    }
    std::string folder = *root + name;
    if (!session_place_is_session(*root, name)) {
        reason = "no session " + name + " on " + session_printable(storage);
        return std::nullopt;
    }
    return folder;
}

std::string session_folder_problem(const std::string& path) {
    if (is_monitory_dir(path.c_str())) {
        return "";
    }
    std::string shown = "'" + session_printable(path) + "'";
    if (!is_directory(path)) {
        return "the session folder " + shown + " can't be reached (is its storage gone?)";
    }
    return "the state file names " + shown + ", which is no session folder of this package";
}

SessionInfoFields session_info_fields(std::string_view text) {
    SessionInfoFields fields;
    for (const std::string& line : str_lines(text)) {
        if (auto start = field_value(line, "Start Time of the session")) {
            fields.start_time = *start;
        } else if (auto duration = field_value(line, "Duration")) {
            fields.duration = *duration;
        } else if (auto points = field_value(line, "Collected Data Points")) {
            fields.data_points = std::strtoul(points->c_str(), nullptr, 10);
        }
    }
    return fields;
}

unsigned long long session_walk_bytes(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    unsigned long long bytes = 0;
    fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code size_ec;
        if (it->is_regular_file(size_ec) && !it->is_symlink(size_ec)) {
            std::uintmax_t size = it->file_size(size_ec);
            bytes += size_ec ? 0 : size;
        }
    }
    return bytes;
}

std::optional<int> session_use_percent(const std::string& path) {
    struct statvfs fs;
    if (statvfs(path.c_str(), &fs) != 0) {
        return std::nullopt;
    }
    unsigned long long used = fs.f_blocks - fs.f_bfree;
    unsigned long long total = used + fs.f_bavail;
    if (total == 0) {
        return std::nullopt;
    }
    return static_cast<int>((used * 100 + total - 1) / total);
}

std::optional<unsigned long long> session_regular_file_bytes(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return static_cast<unsigned long long>(st.st_size);
}

bool session_same_folder(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && S_ISDIR(sa.st_mode) &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
