// A temporary folder laid out like a device, which the code under test sees as "/".
#pragma once

#include <optional>
#include <string>

class LogCapture;

// The whole file; nothing when it can't be read.
std::optional<std::string> read_file(const std::string& path);
// The whole file with every row time stamp ("2024-03-07,14:05:09") replaced by "T";
// "<missing>" when it can't be read.
std::string read_stamped(const std::string& path);
// Writes a whole file, making its folders; a symbolic link there is replaced, not followed.
void write_file(const std::string& path, const std::string& contents);
void make_dirs(const std::string& path);

class DeviceRoot {
  public:
    DeviceRoot();
    ~DeviceRoot();
    DeviceRoot(const DeviceRoot&) = delete;
    DeviceRoot& operator=(const DeviceRoot&) = delete;
    const std::string& root() const { return root_; }
    // The absolute device path `fixed` below the root.
    std::string path(const std::string& fixed) const { return root_ + fixed; }
    void write(const std::string& fixed, const std::string& contents) const {
        write_file(path(fixed), contents);
    }
    // Makes the device path `fixed` a symbolic link to `target` (a real tool of this machine).
    void link(const std::string& fixed, const std::string& target) const;

  private:
    std::string root_;
};

struct LaidSession {
    std::string storage_root, folder, session_path;  // the last the first two joined
};

// Lays down a session as the package's session start does: the session folder with
// Session_Information.txt, .signature and every monitoring folder, then the state file (below
// the root that `device` has set). `storage_id` empty means internal storage.
LaidSession lay_down_session(const DeviceRoot& device, const std::string& storage_root,
                             const std::optional<std::string>& storage_id,
                             const std::string& folder = "20240307_14_05_09");

// What `log` holds, one "level text" a line, with the root of `device` as ROOT and source lines
// as N: compared whole with a file under tests/data/.
std::string log_lines(const LogCapture& log, const DeviceRoot& device);
