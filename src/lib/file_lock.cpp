#include "lib/file_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#define LOG_MODULE "lib/file_lock"

FileDescriptor file_lock_take(const std::string& path) {
    // Read-only is enough for flock, and lets a program of another user of the package share
    // a lock file that the first one made.
    int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        return FileDescriptor(-1);
    }
    int rc;
    do {
        rc = flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return FileDescriptor(-1);
    }
    return FileDescriptor(fd);
}
