// The device's storage list as the storage service reports it over the device bus, and whether
// the storage that holds the session is usable right now.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lib/log.hpp"

// The members of one storage structure in the service's reply, in reply order.
enum storage_data_info_t {
    DISK_ID = 0,
    FRIENDLY_NAME = 1,
    MOUNT_POINT = 2,
    STATUS = 3,
    DISK_TYPE = 4,
    DISRUPTION = 5,
    AVAILABLE = 6,
    REMOVED = 7,
    LOCKED = 8,
    FULL = 9,
    READ_ONLY = 10,
    EXITING = 11,
    RECORDING = 12,
    RECIPIENT = 13,
    READ_WRITE_FAILURE = 14,
    ENCRYPTIONENABLED = 15,
    DISKENCRYPTED = 16,
};
inline constexpr int kStorageDataFields = 17;

// One storage. A member whose reply line did not parse keeps its zero value (an absent string).
struct StorageInfo {
    std::optional<std::string> disk_id;
    std::optional<std::string> friendly_name;
    std::optional<std::string> mount_point;
    std::optional<std::string> status;
    int32_t disk_type = 0;
    bool disruption = false;
    bool available = false;
    bool removed = false;
    bool locked = false;
    bool full = false;
    bool read_only = false;
    bool exiting = false;
    bool recording = false;
    bool recipient = false;
    bool read_write_failure = false;
    bool encryptionenabled = false;
    bool diskencrypted = false;
    // The reply's structure for it did not hold the members above with their types.
    bool malformed = false;
};

// The storages in list order: the last structure of the reply first.
using StorageList = std::vector<StorageInfo>;

// Asks the storage service for every storage; empty when the call failed, the reply was
// malformed or it listed no storage.
StorageList get_storages();

// The first storage in list order whose disk_id is `disk_id`, or nullptr.
const StorageInfo* storage_find(const StorageList& storages, const std::string& disk_id);

// Status exactly "OK", available, writable and not full.
bool is_storage_ok(const StorageInfo& storage);

// Reports the next loss of a storage again, as after start (for tests).
void storage_investigator_state_reset();

// True when the storage `disk_id` is listed and ok. Its loss is logged once, and again only
// after it has been ok in between.
bool determine_if_this_storage_is_ok(const std::string& disk_id);

// What a reply of the storage service holds.
struct StorageReply {
    StorageList storages;  // in reply order
    LogNotes notes;        // members and structures that are off, in reply order
    // "Too few fields" of a structure cut short, which leaves the reply untrusted (empty when
    // none was), and whether it was cut by the end of the output rather than by the next one.
    LogNotes cut;
    bool cut_at_end = false;
};
// The storages of a reply (its lines without line feeds), read up to a structure cut short. A
// structure without the members above, in that order and with their types, gives a malformed
// storage.
StorageReply storage_reply_parse(const std::vector<std::string>& lines);

// Member parsers: the value of a reply line, nothing when it doesn't parse.
std::optional<int32_t> dbus_parse_int32(const std::string& input);
std::optional<bool> dbus_parse_boolean(const std::string& input);
