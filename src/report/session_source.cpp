#include "report/session_source.hpp"

#include <zip.h>
#include <zlib.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// A week of samples is far below this; anything larger is no CSV of a session.
constexpr std::uint64_t kMaxFileSize = 64u << 20;

// Only tables and the session's own text files are read; snapshots (server reports can be
// large) are only listed, so memory stays small.
bool wanted(const std::string& name) {
    std::string base = name.substr(name.rfind('/') + 1);
    std::string tail = base.size() >= 4 ? base.substr(base.size() - 4) : "";
    for (char& c : tail) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return tail == ".csv" || base == "Session_Information.txt" || base == ".signature";
}

// Keeps the name of a file that is not read, or says why a wanted one is not.
bool skip(const std::string& name, std::uint64_t size, SessionFiles& out) {
    if (!wanted(name)) {
        out.files[name];
        return true;
    }
    if (size > kMaxFileSize) {
        out.problems.push_back(name + ": " + std::to_string(size >> 20) +
                               " MB, too large for a file of a session");
        return true;
    }
    return false;
}

struct ZipCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipFileCloser {
    void operator()(zip_file_t* f) const { zip_fclose(f); }
};

std::string zip_error_text(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

std::uint32_t le(const std::string& d, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = v << 8 | static_cast<unsigned char>(d[at + static_cast<std::size_t>(i)]);
    }
    return v;
}

// Inflates raw deflate data as far as it goes; false when it stops short of its end. A full
// buffer may hold back output even when all input is taken, so only inflate says when to stop.
bool inflate_raw(const std::string& in, std::string& out) {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
        return false;
    }
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, &inflateEnd);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    char buffer[65536];
    int rc;
    do {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
    } while (rc == Z_OK);
    return rc == Z_STREAM_END;
}

// An archive cut off in transfer has lost its central directory, but the entries before the
// cut still stand behind their local headers.
void salvage_zip(const std::string& path, const std::string& why, SessionFiles& out) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream whole;
    whole << in.rdbuf();
    std::string d = whole.str();
    std::size_t found = 0;
    for (std::size_t at = d.find("PK\x03\x04"); at != std::string::npos && at + 30 <= d.size();
         at = d.find("PK\x03\x04", at + 4)) {
        std::uint32_t method = le(d, at + 8, 2), size = le(d, at + 18, 4);
        std::size_t name_len = le(d, at + 26, 2), start = at + 30 + name_len + le(d, at + 28, 2);
        if (start > d.size() || (method != 0 && method != 8)) {
            continue;
        }
        std::string name = d.substr(at + 30, name_len);
        if (name.empty() || name.back() == '/' || skip(name, le(d, at + 22, 4), out)) {
            continue;
        }
        std::string data = d.substr(start, size), contents;
        bool whole_entry = method == 0 ? data.size() == size : inflate_raw(data, contents);
        out.files[name] = method == 0 ? data : contents;
        ++found;
        if (!whole_entry) {
            out.problems.push_back(name + ": cut off, shown as far as it could be read");
        }
    }
    out.problems.push_back(
        fs::path(path).filename().string() + ": " + why +
        (found > 0 ? "; " + std::to_string(found) + " entries read from what is left of it" : ""));
}

void read_zip(const std::string& path, SessionFiles& out) {
    int code = 0;
    std::unique_ptr<zip_t, ZipCloser> archive(zip_open(path.c_str(), ZIP_RDONLY, &code));
    if (!archive) {
        salvage_zip(path, zip_error_text(code), out);
        return;
    }
    zip_int64_t n = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(i), 0, &st) != 0 ||
            !(st.valid & ZIP_STAT_NAME)) {
            out.problems.push_back("entry " + std::to_string(i) + ": " +
                                   zip_strerror(archive.get()));
            continue;
        }
        std::string name = st.name;
        if (name.empty() || name.back() == '/' ||
            skip(name, (st.valid & ZIP_STAT_SIZE) ? st.size : 0, out)) {
            continue;
        }
        std::unique_ptr<zip_file_t, ZipFileCloser> file(
            zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(i), 0));
        if (!file) {
            out.problems.push_back(name + ": " + zip_strerror(archive.get()));
            continue;
        }
        std::string contents;
        char buffer[65536];
        zip_int64_t got;
        while ((got = zip_fread(file.get(), buffer, sizeof buffer)) > 0) {
            contents.append(buffer, static_cast<std::size_t>(got));
        }
        if (got < 0) {
            // A damaged entry still gives what came before the damage.
            out.problems.push_back(name + ": " + zip_file_strerror(file.get()) +
                                   " (shown as far as it could be read; values may be damaged)");
        }
        out.files[name] = std::move(contents);
    }
}

void read_folder(const std::string& path, SessionFiles& out) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        // A file that vanishes or a dangling link must not end the walk.
        std::error_code file_ec;
        if (!it->is_regular_file(file_ec)) {
            continue;
        }
        std::string rel = fs::relative(it->path(), path, file_ec).generic_string();
        if (skip(rel, it->file_size(file_ec), out)) {
            continue;
        }
        std::ifstream in(it->path(), std::ios::binary);
        std::ostringstream contents;
        contents << in.rdbuf();
        if (!in) {
            out.problems.push_back(rel + ": could not be read");
            continue;
        }
        out.files[rel] = contents.str();
    }
    if (ec) {
        out.problems.push_back(fs::path(path).filename().string() + ": " + ec.message());
    }
}

// Takes a single top folder off every path; it names the session.
void strip_top_folder(SessionFiles& out) {
    std::string top;
    for (const auto& [name, contents] : out.files) {
        auto slash = name.find('/');
        std::string first = slash == std::string::npos ? "" : name.substr(0, slash + 1);
        if (first.empty() || first == "system_monitoring/" || (!top.empty() && first != top)) {
            return;
        }
        top = first;
    }
    if (top.empty()) {
        return;
    }
    std::map<std::string, std::string> files;
    for (auto& [name, contents] : out.files) {
        files[name.substr(top.size())] = std::move(contents);
    }
    out.files = std::move(files);
    out.name = top.substr(0, top.size() - 1);
}

}  // namespace

SessionFiles session_source_read(const std::string& path) {
    SessionFiles out;
    fs::path p(path);
    std::error_code ec;
    out.name = p.filename().string();
    if (fs::is_directory(p, ec)) {
        if (out.name.empty()) {
            out.name = p.parent_path().filename().string();
        }
        read_folder(path, out);
    } else if (!fs::exists(p, ec)) {
        out.problems.push_back(out.name + ": no such file or folder");
        return out;
    } else {
        out.name = p.stem().string();
        read_zip(path, out);
    }
    strip_top_folder(out);
    return out;
}
