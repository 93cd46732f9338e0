#include "lib/storage_investigator.hpp"

#include <sys/wait.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iterator>
#include <string_view>

#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/sysutil.hpp"

#define LOG_MODULE "lib/storage_investigator"

namespace {

const std::string kGetAllStoragesInfo =
    "dbus-send --system --print-reply --reply-timeout=6000 --dest=com.norv.Storage "
    "--type=method_call /com/norv/Storage com.norv.Storage.GetAllStoragesInfo";

// The members in storage_data_info_t order.
constexpr std::optional<std::string> StorageInfo::*kStrings[] = {
    &StorageInfo::disk_id, &StorageInfo::friendly_name, &StorageInfo::mount_point,
    &StorageInfo::status};
constexpr bool StorageInfo::*kFlags[] = {&StorageInfo::disruption,
                                         &StorageInfo::available,
                                         &StorageInfo::removed,
                                         &StorageInfo::locked,
                                         &StorageInfo::full,
                                         &StorageInfo::read_only,
                                         &StorageInfo::exiting,
                                         &StorageInfo::recording,
                                         &StorageInfo::recipient,
                                         &StorageInfo::read_write_failure,
                                         &StorageInfo::encryptionenabled,
                                         &StorageInfo::diskencrypted};
static_assert(std::size(kStrings) == DISK_TYPE && std::size(kFlags) == DISKENCRYPTED - DISK_TYPE);

bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Skips white space as a blank in a scanf format does.
size_t skip_space(std::string_view text, size_t pos) {
    while (pos < text.size() && is_space(text[pos])) {
        ++pos;
    }
    return pos;
}

// Matches leading white space, `word` and the white space after it; npos when `word` isn't there.
size_t after_word(std::string_view text, std::string_view word) {
    size_t pos = skip_space(text, 0);
    if (text.substr(pos, word.size()) != word) {
        return std::string_view::npos;
    }
    return skip_space(text, pos + word.size());
}

// The text a C scan of the line sees: up to the first NUL byte.
std::string_view scanned(const std::string& input) {
    return std::string_view(input.c_str());
}

}  // namespace

std::optional<std::string> dbus_parse_string(const std::string& input) {
    std::string_view text = scanned(input);
    if (text.find(" string \"\"") != std::string_view::npos) {
        return std::string();
    }
    size_t pos = after_word(text, "string");
    if (pos != std::string_view::npos && pos < text.size() && text[pos] == '"') {
        // The value ends at the next double quote, or at the end of the line.
        size_t end = text.find_first_of("\"\n", pos + 1);
        std::string_view value = text.substr(
            pos + 1, end == std::string_view::npos ? std::string_view::npos : end - pos - 1);
        if (!value.empty()) {
            return std::string(value);
        }
    }
    return std::nullopt;
}

std::optional<int32_t> dbus_parse_int32(const std::string& input) {
    std::string_view text = scanned(input);
    size_t pos = after_word(text, "int32");
    if (pos != std::string_view::npos) {
        // A sign as %d takes it; from_chars alone knows only '-'.
        if (pos + 1 < text.size() && text[pos] == '+' && text[pos + 1] != '-') {
            ++pos;
        }
        int32_t value = 0;
        if (std::from_chars(text.data() + pos, text.data() + text.size(), value).ec ==
            std::errc()) {
            return value;
        }
    }
    return std::nullopt;
}

std::optional<bool> dbus_parse_boolean(const std::string& input) {
    std::string_view text = scanned(input);
    if (text.find("boolean true") != std::string_view::npos) {
        return true;
    }
    if (text.find("boolean false") != std::string_view::npos) {
        return false;
    }
    return std::nullopt;
}

bool storage_reply_add_line(StorageReply& reply, const std::string& input) {
    // Past the closing line only "long enough" matters, so the count stops there.
    if (reply.line <= kStorageDataFields) {
        ++reply.line;
    }
    if (input.find("struct {") != std::string::npos) {
        if (reply.line < kStorageDataFields) {
            LOG_ERRNO(LOG_ERR, "Too few fields, found %d, expected %d.", reply.line,
                      kStorageDataFields);
            return false;
        }
        reply.storages.emplace_back();
        reply.line = -1;
        return true;
    }
    // Header and array lines before the first structure, and closing lines after one.
    if (reply.storages.empty() || reply.line < DISK_ID || reply.line > DISKENCRYPTED) {
        return true;
    }
    StorageInfo& s = reply.storages.back();
    // A member whose line doesn't parse keeps its zero value.
    if (reply.line <= STATUS) {
        if (std::optional<std::string> value = dbus_parse_string(input)) {
            s.*kStrings[reply.line] = std::move(value);
        } else {
            LOG_ERRNO(LOG_ERR, "Failed to parse string: %s", input.c_str());
        }
    } else if (reply.line == DISK_TYPE) {
        if (std::optional<int32_t> value = dbus_parse_int32(input)) {
            s.disk_type = *value;
        } else {
            LOG_ERRNO(LOG_ERR, "Failed to parse int32: %s", input.c_str());
        }
    } else if (std::optional<bool> value = dbus_parse_boolean(input)) {
        s.*kFlags[reply.line - DISRUPTION] = *value;
    } else {
        LOG_ERRNO(LOG_ERR, "Failed to parse boolean: %s", input.c_str());
    }
    return true;
}

bool storage_reply_complete(const StorageReply& reply) {
    if (!reply.storages.empty() && reply.line < kStorageDataFields) {
        LOG_ERRNO(LOG_ERR, "Too few fields, found %d, expected %d.", reply.line,
                  kStorageDataFields);
        return false;
    }
    return true;
}

StorageList get_storages() {
    Pipe pipe = PIPE_OPEN(kGetAllStoragesInfo);
    StorageReply reply;
    std::string input;
    while (file_read_line(pipe.get(), input)) {
        if (!std::feof(pipe.get())) {
            input += '\n';
        }
        if (!storage_reply_add_line(reply, input)) {
            return {};
        }
    }
    int status = pipe_close(pipe);
    if (!WIFEXITED(status)) {
        LOG_ERRNO(LOG_ERR, "Command exited abnormally: %s", kGetAllStoragesInfo.c_str());
        return {};
    }
    if (WEXITSTATUS(status) != 0) {
        LOG_ERRNO(LOG_ERR, "Command exited with status %d: %s", WEXITSTATUS(status),
                  kGetAllStoragesInfo.c_str());
        return {};
    }
    if (!storage_reply_complete(reply)) {
        return {};
    }
    std::reverse(reply.storages.begin(), reply.storages.end());
    return std::move(reply.storages);
}

const StorageInfo* storage_find(const StorageList& storages, const std::string& disk_id) {
    for (const StorageInfo& s : storages) {
        if (s.disk_id && *s.disk_id == disk_id) {
            return &s;
        }
    }
    return nullptr;
}

bool is_storage_ok(const StorageInfo& storage) {
    return storage.status && *storage.status == "OK" && storage.available && !storage.read_only &&
           !storage.full;
}

bool determine_if_this_storage_is_ok(const std::string& disk_id) {
    // Whether the next loss of the storage is still to be reported.
    static bool warn = true;

    StorageList storages = get_storages();
    const StorageInfo* storage = storage_find(storages, disk_id);
    if (storage == nullptr) {
        LOG_ERRNO(LOG_ERR, "Failed to find storage: %s", disk_id.c_str());
        return false;
    }
    log_msg(LOG_DEBUG, "%s [%s] STATUS: %s, AVAILABLE: %d, READ_ONLY: %d, FULL: %d", __func__,
            storage->disk_id->c_str(), storage->status ? storage->status->c_str() : "[NULL]",
            storage->available ? 1 : 0, storage->read_only ? 1 : 0, storage->full ? 1 : 0);
    if (is_storage_ok(*storage)) {
        warn = true;
        return true;
    }
    if (warn) {
        LOG_ERRNO(LOG_ERR, "Lost connection to storage location: %s, no data can be saved.",
                  disk_id.c_str());
        warn = false;
    }
    return false;
}
