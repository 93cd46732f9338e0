// kelvane_report SESSION.zip|SESSION_FOLDER [-o REPORT.html]: one page that shows a session.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "report/report_html.hpp"
#include "report/session_model.hpp"
#include "report/session_source.hpp"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::string input, output;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
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
        std::fprintf(stderr, "usage: kelvane_report SESSION.zip|SESSION_FOLDER [-o REPORT.html]\n");
        return 2;
    }
    SessionFiles files = session_source_read(input);
    if (files.files.empty()) {
        std::fprintf(stderr, "kelvane_report: nothing could be read from %s\n", input.c_str());
        for (const std::string& p : files.problems) {
            std::fprintf(stderr, "  %s\n", p.c_str());
        }
        return 1;
    }
    if (output.empty()) {
        fs::path in = fs::path(input).lexically_normal();
        if (in.filename().empty()) {
            in = in.parent_path();
        }
        std::error_code ec;
        std::string name = fs::is_directory(in, ec) ? in.filename().string() : in.stem().string();
        output = (in.parent_path() / name).string() + ".html";
    }
    SessionModel model = session_model_build(std::move(files));
    std::string html = report_html_render(model);
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << html;
    out.close();
    if (!out) {
        std::fprintf(stderr, "kelvane_report: could not write %s\n", output.c_str());
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
