#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "lib/fileutil.hpp"
#include "lib/sysutil.hpp"
#include "report/csv.hpp"
#include "support/transcript.hpp"

namespace fs = std::filesystem;

namespace {

std::string q(const std::string& s) {
    return "'" + shell_escape_single_quoted(s) + "'";
}

// Output (stdout and stderr) and exit status of a shell command.
std::pair<std::string, int> run(const std::string& command) {
    Pipe pipe = pipe_open(command + " 2>&1");
    std::string text;
    file_read_all(pipe.get(), text);
    int status = pipe_close(pipe);
    return {text, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

}  // namespace

// Each line of runs.txt: the arguments of one run. The transcript and every page written must
// match the files beside it; a page's diff is read, then the program itself writes the new one.
// No page may hold a script or reach out for anything.
TEST(ReportRuns, TranscriptAndPages) {
    DeviceRoot out;
    const std::string data = KELVANE_TEST_DATA "report/", written = out.path("/pages/");
    make_dirs(written);
    std::istringstream runs(test_data("report/runs.txt"));
    std::string transcript;
    for (std::string args; std::getline(runs, args);) {
        std::string command = std::regex_replace(args, std::regex("@DATA@"), q(data));
        command = std::regex_replace(command, std::regex("@OUT@"), q(written));
        auto [output, status] = run(q(KELVANE_REPORT_PATH) + " " + command);
        transcript += "$ " + args + "\n" + output + "status " + std::to_string(status) + "\n";
    }
    transcript = std::regex_replace(transcript, std::regex(data), "@DATA@");
    EXPECT_EQ(std::regex_replace(transcript, std::regex(written), "@OUT@"),
              test_data("report/runs.expected"));
    for (const auto& page : fs::directory_iterator(written)) {
        std::string html = read_file(page.path()).value_or("");
        EXPECT_EQ(html, test_data("report/" + page.path().filename().string()));
        EXPECT_FALSE(std::regex_search(html, std::regex("<script|(src|href)=\"[a-z]+:")));
    }
}

// Each file of report/csv/ as the reader takes it: the header, every kept row (line, time
// stamp, cells and the number read from each) and what it left out, and why.
TEST(Csv, CapturedFilesReadAsExpected) {
    std::set<fs::path> files(fs::directory_iterator(KELVANE_TEST_DATA "report/csv"), {});
    std::ostringstream dump;
    for (const fs::path& file : files) {
        std::ostringstream rows;
        CsvTable t = csv_parse(read_file(file).value_or(""), [&](const CsvRow& row) {
            rows << "\n" << row.line << ": " << csv_time_text(row.t);
            for (const std::string& cell : row.cells) {
                auto number = csv_number(cell);
                rows << " [" << cell << (number ? "]=" + std::to_string(*number) : "]");
            }
        });
        dump << "== " << file.filename().string();
        for (const std::string& cell : t.header) {
            dump << " [" << cell << "]";
        }
        dump << rows.str() << "\nuntimed " << t.untimed_rows << ", repeated " << t.repeated_headers
             << ", broken " << t.broken_rows << " " << t.first_problem << "; " << t.error << "\n";
    }
    EXPECT_EQ(dump.str(), test_data("report/csv.expected"));
}
