#include "report/session_source.hpp"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// A week of samples is far below this; anything larger is no file of a session.
constexpr std::uint64_t kMaxFileSize = 64u << 20;

// One file of the session where it lies: an archive entry's index or local header offset, or a
// file of the folder.
struct Entry {
    std::string name;
    std::uint64_t size = 0;
    std::uint64_t at = 0;
    fs::path file;
};

// Each name once, the last one listed winning, in name order.
void entries_settle(std::vector<Entry>& entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.name < b.name; });
    std::vector<Entry> kept;
    for (Entry& e : entries) {
        if (!kept.empty() && kept.back().name == e.name) {
            kept.back() = std::move(e);
        } else {
            kept.push_back(std::move(e));
        }
    }
    entries = std::move(kept);
}

// A single top folder is taken off every path; it names the session.
std::string entries_top_folder(const std::vector<Entry>& entries) {
    std::string top;
    for (const Entry& e : entries) {
        auto slash = e.name.find('/');
        std::string first = slash == std::string::npos ? "" : e.name.substr(0, slash + 1);
        if (first.empty() || first == "system_monitoring/" || (!top.empty() && first != top)) {
            return "";
        }
        top = first;
    }
    return top;
}

// Reads an entry's contents into `out`; false with a problem noted when it could not be read.
using EntryReadFn = std::function<bool(const Entry&, std::string& out)>;

void entries_visit(std::vector<Entry>& entries, const EntryReadFn& read, SessionRead& out,
                   const SessionWantsFn& wants, const SessionFileFn& file) {
    entries_settle(entries);
    std::string top = entries_top_folder(entries);
    if (!top.empty()) {
        out.name = top.substr(0, top.size() - 1);
    }
    for (const Entry& e : entries) {
        std::string path = e.name.substr(top.size()), contents;
        if (wants(path)) {
            if (e.size > kMaxFileSize) {
                out.problems.push_back(path + ": " + std::to_string(e.size >> 20) +
                                       " MB, too large for a file of a session");
                continue;
            }
            if (!read(e, contents)) {
                continue;
            }
        }
        file(path, contents);
    }
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
void salvage_zip(const std::string& path, const std::string& why, SessionRead& out,
                 const SessionWantsFn& wants, const SessionFileFn& file) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream whole;
    whole << in.rdbuf();
    const std::string d = whole.str();
    std::vector<Entry> entries;
    for (std::size_t at = d.find("PK\x03\x04"); at != std::string::npos && at + 30 <= d.size();
         at = d.find("PK\x03\x04", at + 4)) {
        std::uint32_t method = le(d, at + 8, 2);
        std::size_t name_len = le(d, at + 26, 2), start = at + 30 + name_len + le(d, at + 28, 2);
        std::string name = d.substr(at + 30, name_len);
        if (start > d.size() || (method != 0 && method != 8) || name.empty() ||
            name.back() == '/') {
            continue;
        }
        entries.push_back({name, le(d, at + 22, 4), at, {}});
    }
    std::size_t found = 0;
    auto read = [&](const Entry& e, std::string& contents) {
        std::size_t at = e.at, start = at + 30 + le(d, at + 26, 2) + le(d, at + 28, 2);
        std::uint32_t method = le(d, at + 8, 2), size = le(d, at + 18, 4);
        std::string data = d.substr(start, size);
        bool whole_entry = method == 0 ? data.size() == size : inflate_raw(data, contents);
        if (method == 0) {
            contents = std::move(data);
        }
        if (!whole_entry) {
            out.problems.push_back(e.name + ": cut off, shown as far as it could be read");
        }
        return true;
    };
    auto counted = [&](const std::string& p, std::string& contents) {
        ++found;
        file(p, contents);
    };
    entries_visit(entries, read, out, wants, counted);
    out.problems.push_back(
        fs::path(path).filename().string() + ": " + why +
        (found > 0 ? "; " + std::to_string(found) + " entries read from what is left of it" : ""));
}

void read_zip(const std::string& path, SessionRead& out, const SessionWantsFn& wants,
              const SessionFileFn& file) {
    int code = 0;
    std::unique_ptr<zip_t, ZipCloser> archive(zip_open(path.c_str(), ZIP_RDONLY, &code));
    if (!archive) {
        salvage_zip(path, zip_error_text(code), out, wants, file);
        return;
    }
    std::vector<Entry> entries;
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
        if (!name.empty() && name.back() != '/') {
            entries.push_back({name,
                               (st.valid & ZIP_STAT_SIZE) ? st.size : 0,
                               static_cast<std::uint64_t>(i),
                               {}});
        }
    }
    auto read = [&](const Entry& e, std::string& contents) {
        std::unique_ptr<zip_file_t, ZipFileCloser> f(zip_fopen_index(archive.get(), e.at, 0));
        if (!f) {
            out.problems.push_back(e.name + ": " + zip_strerror(archive.get()));
            return false;
        }
        char buffer[65536];
        zip_int64_t got;
        while ((got = zip_fread(f.get(), buffer, sizeof buffer)) > 0) {
            contents.append(buffer, static_cast<std::size_t>(got));
        }
        if (got < 0) {
            // A damaged entry still gives what came before the damage.
            out.problems.push_back(e.name + ": " + zip_file_strerror(f.get()) +
                                   " (shown as far as it could be read; values may be damaged)");
        }
        return true;
    };
    entries_visit(entries, read, out, wants, file);
}

void read_folder(const std::string& path, SessionRead& out, const SessionWantsFn& wants,
                 const SessionFileFn& file) {
    std::error_code ec;
    std::vector<Entry> entries;
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        // A file that vanishes or a dangling link must not end the walk.
        std::error_code file_ec;
        if (it->is_regular_file(file_ec)) {
            std::string rel = fs::relative(it->path(), path, file_ec).generic_string();
            entries.push_back({rel, it->file_size(file_ec), 0, it->path()});
        }
    }
    if (ec) {
        out.problems.push_back(fs::path(path).filename().string() + ": " + ec.message());
    }
    auto read = [&](const Entry& e, std::string& contents) {
        std::ifstream in(e.file, std::ios::binary);
        contents.resize(e.size);
        in.read(contents.data(), static_cast<std::streamsize>(e.size));
        if (!in) {
            out.problems.push_back(e.name + ": could not be read");
            return false;
        }
        return true;
    };
    entries_visit(entries, read, out, wants, file);
}

}  // namespace

SessionRead session_source_read(const std::string& path, const SessionWantsFn& wants,
                                const SessionFileFn& file) {
    SessionRead out;
    fs::path p(path);
    std::error_code ec;
    out.name = p.filename().string();
    if (fs::is_directory(p, ec)) {
        if (out.name.empty()) {
            out.name = p.parent_path().filename().string();
        }
        read_folder(path, out, wants, file);
    } else if (!fs::exists(p, ec)) {
        out.problems.push_back(out.name + ": no such file or folder");
    } else {
        out.name = p.stem().string();
        read_zip(path, out, wants, file);
    }
    return out;
}
