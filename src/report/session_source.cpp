#include "report/session_source.hpp"

#include <zip.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace {

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

void read_zip(const std::string& path, SessionFiles& out) {
    int code = 0;
    std::unique_ptr<zip_t, ZipCloser> archive(zip_open(path.c_str(), ZIP_RDONLY, &code));
    if (!archive) {
        out.problems.push_back(fs::path(path).filename().string() + ": " + zip_error_text(code));
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
        if (name.empty() || name.back() == '/') {
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
        if (!it->is_regular_file(ec)) {
            continue;
        }
        std::ifstream in(it->path(), std::ios::binary);
        std::ostringstream contents;
        contents << in.rdbuf();
        std::string rel = fs::relative(it->path(), path, ec).generic_string();
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
