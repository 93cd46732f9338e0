// The handles every module reads and writes files through, and whole-line reading: the lowest
// layer, below both the file utilities and the command runner.
#pragma once

#include <dirent.h>

#include <cstdio>
#include <memory>
#include <string>

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
