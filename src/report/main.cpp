// kelvane_report SESSION.zip|SESSION_FOLDER [-o REPORT.html]: one page that shows a session.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "report/report_html.hpp"
#include "report/session_model.hpp"
#include "report/session_source.hpp"

namespace fs = std::filesystem;

namespace {

const char* const kUsage = "usage: kelvane_report SESSION.zip|SESSION_FOLDER [-o REPORT.html]\n";

const char* const kHelp =
    "Turns a monitoring session of the Kelvane daemon into one self-contained HTML page: the\n"
    "session facts, what stands out (extremes, failures, every missed collection round, how the\n"
    "session ended), what could not be read, the snapshots, and a chart of every CSV file.\n"
    "\n"
    "  SESSION.zip|SESSION_FOLDER  the session's ZIP archive (a damaged or cut-off one too) or\n"
    "                              its folder\n"
    "  -o REPORT.html              where to write the page; SESSION.html beside the input\n"
    "                              when not given\n"
    "  -h, --help                  this text\n"
    "\n"
    "Exit status: 0 when the page was written, 1 when there was no session to read or the page\n"
    "could not be written, 2 for wrong arguments.\n";

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::string default_output(const std::string& input) {
    fs::path in = fs::path(input).lexically_normal();
    if (in.filename().empty()) {
        in = in.parent_path();
    }
    std::error_code ec;
    std::string name = fs::is_directory(in, ec) ? in.filename().string() : in.stem().string();
    return (in.parent_path() / name).string() + ".html";
}

// The system's reason when the page could not be written, empty when it was.
std::string write_page(const std::string& path, const std::string& html) {
    errno = 0;
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f || std::fwrite(html.data(), 1, html.size(), f.get()) != html.size() ||
        std::fflush(f.get()) != 0) {
        return std::strerror(errno ? errno : EIO);
    }
    std::FILE* raw = f.release();
    return std::fclose(raw) == 0 ? "" : std::strerror(errno);
}

// The input and the output, or an exit status: 0 after the help, 2 for wrong arguments.
int arguments_read(int argc, char** argv, std::string& input, std::string& output) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == "-o" && i + 1 < argc) {
            output = argv[++i];
        } else if (input.empty() && !arg.empty() && arg[0] != '-') {
            input = arg;
        } else {
            input.clear();
            break;
        }
    }
    if (input.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string input, output;
    if (int status = arguments_read(argc, argv, input, output); status >= 0) {
        return status;
    }
    SessionBuilder builder;
    SessionRead read = session_source_read(input, session_model_wants,
                                           [&](const std::string& path, std::string& contents) {
                                               session_model_add(builder, path, contents);
                                           });
    SessionModel model = session_model_finish(builder);
    model.name = read.name;
    model.problems.insert(model.problems.begin(), read.problems.begin(), read.problems.end());
    if (!model.has_session) {
        std::fprintf(stderr, "kelvane_report: no session in %s\n", input.c_str());
        for (const std::string& p : model.problems) {
            std::fprintf(stderr, "  %s\n", p.c_str());
        }
        return 1;
    }
    output = output.empty() ? default_output(input) : output;
    if (std::string why = write_page(output, report_html_render(model)); !why.empty()) {
        std::fprintf(stderr, "kelvane_report: could not write %s: %s\n", output.c_str(),
                     why.c_str());
        return 1;
    }
    std::printf("%s: %zu charts", output.c_str(), model.charts.size());
    if (!model.problems.empty()) {
        std::printf(", %zu thing(s) could not be read (listed in the report)",
                    model.problems.size());
    }
    std::printf("\n");
    return 0;
}
