// File-system chores: path tests, sizes, whole-file copy/read/write, removal and renaming,
// directory trees, and the RAII file handle every module uses.
#pragma once

#include <dirent.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
// A stdio stream closed when it goes out of scope.
using File = std::unique_ptr<std::FILE, FileCloser>;

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
// A directory stream closed when it goes out of scope.
using Dir = std::unique_ptr<DIR, DirCloser>;

// A file descriptor closed when it goes out of scope; -1 when none.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    int get() const { return fd_; }

  private:
    int fd_;
};

// fopen() wrapped in a File.
File file_open(const std::string& path, const char* mode);

// Reads one whole line of any length without its '\n'; false at end of input.
bool file_read_line(std::FILE* f, std::string& line);

// Appends the rest of the stream to `text`; false on a read error.
bool file_read_all(std::FILE* f, std::string& text);

bool is_directory(const std::string& path);
bool is_file(const std::string& path);
bool is_readable(const std::string& filename);
bool is_writable(const std::string& filename);
bool is_executable(const std::string& filename);

// Size in bytes, or -1 after logging.
long long filesize(const std::string& path);

// "1024 B", "1 KiB", ... truncated, never rounded.
std::string suffix_bytes(long long file_size);
std::string filesize_human_readable(const std::string& path);

bool empty_file_if_possible(const std::string& path);
bool file_copy(const std::string& src, const std::string& dest);
std::optional<std::string> file_get_contents(const std::string& path);
bool file_put_string(const std::string& path, const std::string& contents);
bool file_remove(const std::string& path);
bool file_rename(const std::string& oldname, const std::string& newname);

// A new temporary file that takes `path`'s place only through file_temp_commit.
struct TempFile {
    File file;
    std::string path;
};
// Opens `tmp_path` as a new regular file (whatever had that name is removed first, so a link
// planted there is never written through) or, when `tmp_path` is empty, a unique name beside
// `path`. No file on failure, errno tells why.
TempFile file_temp_open(const std::string& path, const std::string& tmp_path = "");
// Flushes, syncs and closes `tmp`, and renames it over `path` only when all of it succeeded;
// otherwise removes it, leaves `path` as it was, errno tells why and the result is false.
bool file_temp_commit(TempFile tmp, const std::string& path);

// Writes `contents` to a temporary file beside `path` and renames it over `path` only when
// every byte was written and flushed; otherwise `path` is left as it was, the temporary file
// is removed, errno tells why and the result is false.
bool file_replace_contents(const std::string& path, const std::string& contents);

unsigned dir_remove_recursive(const std::string& dir_path);
bool dir_make_recursive(const std::string& dir_path);

// Partition usage

// Used share of the file system holding the absolute path `storage_path`, as `df` reports it:
// 0 to 999 percent, 0 when `df` gives no usable data line, -1 when it gives nothing at all.
int get_storage_use_pcent(const char* storage_path);

// The same from the text `df -k -P` printed; a data line without a percent sign gives 0 and is
// handed out in `no_percent_line` (with its line end when more followed).
int df_parse_use_pcent(std::string_view output, std::optional<std::string>& no_percent_line);

// True while that file system is below 90 percent; false from 90 upwards or when unknown.
bool check_partition_usage(const char* storage_path);
