#include "lib/storage_investigator.hpp"

#include <sys/wait.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iterator>
#include <string_view>

#include "lib/dbus_reply.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/strutil.hpp"
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

// Whether the next loss of the storage is still to be reported.
bool warn = true;

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

namespace {

// One structure's members into `s`; false when one of them is not the storage's member of its
// type (noted; what can be read is kept even so: a storage found by its id reads as not ok).
bool storage_fill(StorageInfo& s, const std::vector<DbusMember>& members, LogNotes& notes) {
    bool sound = true;
    for (size_t i = 0; i < members.size() && i < size_t{kStorageDataFields}; ++i) {
        const DbusMember& m = members[i];
        if (i <= STATUS) {
            if (m.type == "string") {
                s.*kStrings[i] = m.value;
                continue;
            }
            notes.push_back({LOG_ERR, str_printf("Failed to parse string: %s", m.text.c_str())});
        } else if (i == DISK_TYPE) {
            std::optional<int32_t> value;
            if (m.type == "int32" && (value = dbus_parse_int32(m.text))) {
                s.disk_type = *value;
                continue;
            }
            notes.push_back({LOG_ERR, str_printf("Failed to parse int32: %s", m.text.c_str())});
        } else {
            std::optional<bool> value;
            if (m.type == "boolean" && (value = dbus_parse_boolean(m.text))) {
                s.*kFlags[i - DISRUPTION] = *value;
                continue;
            }
            notes.push_back({LOG_ERR, str_printf("Failed to parse boolean: %s", m.text.c_str())});
        }
        sound = false;
    }
    return sound;
}

}  // namespace

StorageReply storage_reply_parse(const std::vector<std::string>& lines) {
    StorageReply reply;
    std::vector<DbusStruct> structs = dbus_reply_structs(dbus_reply_members(lines));
    for (const DbusStruct& st : structs) {
        StorageInfo s;
        if (!st.closed) {
            // Its members are read as they came, then the reply is not trusted for any storage.
            storage_fill(s, st.members, reply.notes);
            reply.cut.push_back(
                {LOG_ERR, str_printf("Too few fields, found %d, expected %d.",
                                     static_cast<int>(st.members.size()), kStorageDataFields)});
            reply.cut_at_end = &st == &structs.back();
            break;
        }
        // A storage whose structure is off stays listed, so that it is found and not ok, while
        // the others are read as usual.
        bool counted = dbus_fields_counted(st.members, kStorageDataFields, reply.notes);
        s.malformed = !storage_fill(s, st.members, reply.notes) || !counted;
        reply.storages.push_back(std::move(s));
    }
    return reply;
}

StorageList get_storages() {
    Pipe pipe = PIPE_OPEN(kGetAllStoragesInfo);
    StorageReply reply = storage_reply_parse(pipe_read_lines(pipe));
    int status = pipe_close(pipe);
    LOG_NOTES(reply.notes);
    // A structure cut short before the next one is a malformed reply, whatever the exit status;
    // one cut by the end of the output may be the command's failure.
    if (!reply.cut.empty() && !reply.cut_at_end) {
        LOG_NOTES(reply.cut);
        return {};
    }
    if (!WIFEXITED(status)) {
        LOG_FAULT(LOG_ERR, "Command exited abnormally: %s", kGetAllStoragesInfo.c_str());
        return {};
    }
    if (WEXITSTATUS(status) != 0) {
        LOG_FAULT(LOG_ERR, "Command exited with status %d: %s", WEXITSTATUS(status),
                  kGetAllStoragesInfo.c_str());
        return {};
    }
    if (!reply.cut.empty()) {
        LOG_NOTES(reply.cut);
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
    return !storage.malformed && storage.status && *storage.status == "OK" && storage.available &&
           !storage.read_only && !storage.full;
}

void storage_investigator_state_reset() {
    warn = true;
}

bool determine_if_this_storage_is_ok(const std::string& disk_id) {
    StorageList storages = get_storages();
    const StorageInfo* storage = storage_find(storages, disk_id);
    if (storage == nullptr) {
        LOG_FAULT(LOG_ERR, "Failed to find storage: %s", disk_id.c_str());
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
        LOG_FAULT(LOG_ERR, "Lost connection to storage location: %s, no data can be saved.",
                  disk_id.c_str());
        warn = false;
    }
    return false;
}
