#include "lib/fileutil.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "lib/device.hpp"
#include "lib/log.hpp"
#include "lib/sysutil.hpp"

#define LOG_MODULE "lib/fileutil"

namespace {

struct ObjectUnref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
using GFilePtr = std::unique_ptr<GFile, ObjectUnref>;
using GOutputStreamPtr = std::unique_ptr<GOutputStream, ObjectUnref>;

bool stat_mode_is(const std::string& path, mode_t type) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == type;
}

// Read before any thread exists: setting the umask to read it would give the files that
// another thread creates meanwhile the mode 0666.
const mode_t process_umask = [] {
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}();

// The mode fopen(path, "w") would have given a new file.
mode_t default_file_mode() {
    return 0666 & ~process_umask;
}

}  // namespace

bool is_directory(const std::string& path) {
    return stat_mode_is(path, S_IFDIR);
}

bool is_file(const std::string& path) {
    return stat_mode_is(path, S_IFREG);
}

bool is_readable(const std::string& filename) {
    return access(filename.c_str(), R_OK) == 0;
}

bool is_writable(const std::string& filename) {
    return access(filename.c_str(), W_OK) == 0;
}

bool is_executable(const std::string& filename) {
    return access(filename.c_str(), X_OK) == 0;
}

long long filesize(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        LOG_ERRNO(LOG_ERR, "Failed getting filesize of %s", path.c_str());
        return -1;
    }
    return static_cast<long long>(st.st_size);
}

std::string suffix_bytes(long long n) {
    static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB"};
    if (n <= 1024) {
        return std::to_string(n) + " B";
    }
    for (int i = 0; i < 3; ++i) {
        long long value = n >> (10 * (i + 1));
        if (value <= 1024) {
            return std::to_string(value) + " " + kUnits[i];
        }
    }
    return std::to_string(n >> 40) + " TiB";
}

std::string filesize_human_readable(const std::string& path) {
    return suffix_bytes(filesize(path));
}

bool empty_file_if_possible(const std::string& path) {
    return file_open(path, "w") != nullptr;
}

namespace {

// The result of a copy, after logging and clearing its error.
bool copy_result(bool copied, const std::string& src, const std::string& dest, GError* error) {
    if (copied) {
        return true;
    }
    if (error != nullptr) {
        log_msg(LOG_WARNING, "Could not copy '%s' to '%s': %s", src.c_str(), dest.c_str(),
                error->message);
        g_clear_error(&error);
    } else {
        log_msg(LOG_WARNING, "Could not copy '%s' to '%s', but no error code was set.", src.c_str(),
                dest.c_str());
    }
    return false;
}

// Copies what is left to read of `in` into `out`, which it closes.
bool copy_stream(int in, GOutputStream* out, GError** error) {
    char chunk[8192];
    ssize_t n;
    while ((n = read(in, chunk, sizeof chunk)) > 0) {
        if (!g_output_stream_write_all(out, chunk, static_cast<size_t>(n), nullptr, nullptr,
                                       error)) {
            g_output_stream_close(out, nullptr, nullptr);
            return false;
        }
    }
    if (n < 0) {
        int saved = errno;
        g_set_error(error, G_IO_ERROR, g_io_error_from_errno(saved), "Error reading file: %s",
                    g_strerror(saved));
        g_output_stream_close(out, nullptr, nullptr);
        return false;
    }
    return g_output_stream_close(out, nullptr, error);
}

}  // namespace

bool file_copy(const std::string& src, const std::string& dest) {
    GError* error = nullptr;
    gboolean copied;
    {
        GFilePtr source(g_file_new_for_path(src.c_str()));
        GFilePtr destination(g_file_new_for_path(dest.c_str()));
        copied = g_file_copy(source.get(), destination.get(), G_FILE_COPY_TARGET_DEFAULT_PERMS,
                             nullptr, nullptr, nullptr, &error);
    }
    return copy_result(copied, src, dest, error);
}

bool file_copy_nofollow(const std::string& src, const std::string& dest) {
    GError* error = nullptr;
    FileDescriptor in(open(src.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (in.get() < 0) {
        int saved = errno;
        g_set_error(&error, G_IO_ERROR, g_io_error_from_errno(saved), "Error opening file “%s”: %s",
                    src.c_str(), g_strerror(saved));
        errno = 0;
        return copy_result(false, src, dest, error);
    }
    GFilePtr destination(g_file_new_for_path(dest.c_str()));
    GOutputStreamPtr out(
        G_OUTPUT_STREAM(g_file_create(destination.get(), G_FILE_CREATE_NONE, nullptr, &error)));
    bool copied = out && copy_stream(in.get(), out.get(), &error);
    if (out && !copied) {
        g_file_delete(destination.get(), nullptr, nullptr);  // no half copy is left behind
    }
    return copy_result(copied, src, dest, error);
}

namespace {

// Logs a failed whole-file `verb` ("read", "put") and clears its error.
void log_contents_failure(const char* verb, const std::string& path, GError* error) {
    if (error != nullptr) {
        log_msg(LOG_WARNING, "Could not %s contents of '%s': %s", verb, path.c_str(),
                error->message);
        g_clear_error(&error);
    } else {
        log_msg(LOG_WARNING, "Could %s contents of '%s', but no error code was set.", verb,
                path.c_str());
    }
}

}  // namespace

std::optional<std::string> file_get_contents(const std::string& path) {
    GError* error = nullptr;
    gchar* raw = nullptr;
    gsize length = 0;
    if (g_file_get_contents(path.c_str(), &raw, &length, &error)) {
        std::unique_ptr<gchar, decltype(&g_free)> contents(raw, &g_free);
        return std::string(contents.get(), length);
    }
    log_contents_failure("read", path, error);
    return std::nullopt;
}

bool file_put_string(const std::string& path, const std::string& contents) {
    GError* error = nullptr;
    if (g_file_set_contents(path.c_str(), contents.c_str(), -1, &error)) {
        return true;
    }
    log_contents_failure("put", path, error);
    return false;
}

bool file_remove(const std::string& path) {
    if (std::remove(path.c_str()) == 0) {
        return true;
    }
    log_msg(LOG_DEBUG, "Could not remove '%s': %s", path.c_str(), log_errno_text());
    errno = 0;
    return false;
}

bool file_rename(const std::string& oldname, const std::string& newname) {
    if (std::rename(oldname.c_str(), newname.c_str()) == 0) {
        return true;
    }
    log_msg(LOG_DEBUG, "Could not rename '%s'->'%s': %s", oldname.c_str(), newname.c_str(),
            log_errno_text());
    errno = 0;
    return false;
}

TempFile file_temp_open(const std::string& path, const std::string& tmp_path) {
    TempFile tmp{nullptr, tmp_path.empty() ? path + ".tmpXXXXXX" : tmp_path};
    int fd;
    if (tmp_path.empty()) {
        fd = mkostemp(tmp.path.data(), O_CLOEXEC);
        if (fd >= 0 && fchmod(fd, default_file_mode()) != 0) {
            int saved = errno;
            close(fd);
            unlink(tmp.path.c_str());
            errno = saved;
            return tmp;
        }
    } else {
        if (unlink(tmp_path.c_str()) != 0) {
            errno = 0;
        }
        fd = open(tmp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    }
    if (fd < 0) {
        return tmp;
    }
    tmp.file.reset(fdopen(fd, "w"));
    if (!tmp.file) {
        int saved = errno;
        close(fd);
        unlink(tmp.path.c_str());
        errno = saved;
    }
    return tmp;
}

bool file_temp_close(TempFile& tmp) {
    std::FILE* f = tmp.file.release();
    bool written = std::fflush(f) == 0 && std::ferror(f) == 0 && fsync(fileno(f)) == 0;
    int saved = errno;
    bool closed = std::fclose(f) == 0;
    if (written && closed) {
        return true;
    }
    saved = written ? errno : saved;
    unlink(tmp.path.c_str());
    errno = saved;
    return false;
}

bool file_temp_commit(TempFile tmp, const std::string& path) {
    if (!file_temp_close(tmp)) {
        return false;
    }
    if (std::rename(tmp.path.c_str(), path.c_str()) == 0) {
        return true;
    }
    int saved = errno;
    unlink(tmp.path.c_str());
    errno = saved;
    return false;
}

bool file_replace_contents(const std::string& path, const std::string& contents) {
    TempFile tmp = file_temp_open(path);
    if (!tmp.file) {
        return false;
    }
    std::fwrite(contents.data(), 1, contents.size(), tmp.file.get());
    return file_temp_commit(std::move(tmp), path);
}

unsigned dir_remove_recursive(const std::string& dir_path) {
    // A link given as the tree itself is removed as a link too, never followed.
    struct stat top;
    if (lstat(dir_path.c_str(), &top) == 0 && S_ISLNK(top.st_mode)) {
        return file_remove(dir_path) ? 1 : 0;
    }
    int fd = open(dir_path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    Dir dir(fd >= 0 ? fdopendir(fd) : nullptr);
    if (!dir) {
        if (fd >= 0) {
            close(fd);
        }
        log_msg(LOG_WARNING, "Could not open dir for removal: %s", dir_path.c_str());
        return 0;
    }
    unsigned count = 0;
    while (const dirent* entry = readdir(dir.get())) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        std::string child = dir_path + "/" + name;
        // lstat, not stat: a link to a directory is removed as a link, never followed out of
        // the tree.
        struct stat st;
        if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            count += dir_remove_recursive(child);
        } else if (file_remove(child)) {
            ++count;
        }
    }
    dir.reset();
    if (file_remove(dir_path)) {
        ++count;
    }
    return count;
}

bool dir_make_recursive(const std::string& dir_path) {
    if (dir_path.empty() || dir_path[0] != '/') {
        LOG_FAULT(LOG_ERR, "dir_make_recursive: Path must be absolute");
        return false;
    }
    // Every prefix that ends before a '/', then the whole path unless it ends in '/'.
    for (size_t pos = dir_path.find('/', 1);; pos = dir_path.find('/', pos + 1)) {
        std::string dir = dir_path.substr(0, pos);
        if (!dir.empty() && dir.back() != '/' && !is_directory(dir) &&
            mkdir(dir.c_str(), 0755) != 0) {
            LOG_ERRNO(LOG_ERR, "Could not create directory '%s'", dir.c_str());
            return false;
        }
        if (pos == std::string::npos) {
            return true;
        }
    }
}

// Partition usage

int get_storage_use_pcent(const char* storage_path) {
    if (storage_path == nullptr || storage_path[0] != '/') {
        LOG_FAULT(LOG_ERR, "Expected an absolute path, got '%s'",
                  storage_path != nullptr ? storage_path : "[NULL]");
        return -1;
    }
    std::string cmd = shell_escape_unquoted(device::path(device::kDf)) + " -k -P '" +
                      shell_escape_single_quoted(storage_path) + "'";
    // A df that can't be started is a storage of unknown usage, not a reason to stop.
    Pipe pipe = pipe_open(cmd);
    if (!pipe) {
        LOG_ERRNO(LOG_ERR, "Could not popen: %s", cmd.c_str());
        return -1;
    }
    std::string output;
    file_read_all(pipe.get(), output);
    pipe.reset();
    std::optional<std::string> no_percent_line;
    int use = df_parse_use_pcent(output, no_percent_line);
    if (no_percent_line) {
        LOG_FAULT(LOG_ERR, "Could not find percent char in '%s'", no_percent_line->c_str());
    }
    return use;
}

int df_parse_use_pcent(std::string_view output, std::optional<std::string>& no_percent_line) {
    size_t data = output.find('\n');
    if (output.empty()) {
        return -1;
    }
    if (data == std::string_view::npos || data + 1 == output.size()) {
        return 0;
    }
    std::string_view line = output.substr(data + 1);
    if (size_t end = line.find('\n'); end != std::string_view::npos) {
        line = line.substr(0, end + 1);
    }
    size_t percent = line.find('%');
    if (percent == std::string_view::npos) {
        no_percent_line = std::string(line);
        return 0;
    }
    // The capacity column ends in "%": read its digits backwards, at most three, and never the
    // line's first character.
    int result = 0;
    for (int place = 1; percent > 1 && place <= 999; place *= 10) {
        char c = line[--percent];
        if (c < '0' || c > '9') {
            break;
        }
        result += (c - '0') * place;
    }
    return result;
}

bool check_partition_usage(const char* storage_path) {
    int use = get_storage_use_pcent(storage_path);
    if (use < 0) {
        log_msg(LOG_WARNING, "Could not get usage of partition for path '%s'.",
                storage_path != nullptr ? storage_path : "[NULL]");
        return false;
    }
    return use <= 89;
}
