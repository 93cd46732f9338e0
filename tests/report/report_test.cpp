#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "kelvane_daemon.hpp"
#include "lib/environment.hpp"
#include "lib/fileutil.hpp"
#include "lib/sysutil.hpp"
#include "report/csv.hpp"
#include "support/bus.hpp"
#include "support/busybox_path.hpp"
#include "support/http_server.hpp"
#include "support/process.hpp"
#include "support/transcript.hpp"

namespace fs = std::filesystem;

namespace {

std::string q(const std::string& s) {
    return "'" + std::regex_replace(s, std::regex("'"), "'\\''") + "'";
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

// A session that the daemon's own tick wrote on a device with a sensor, a heater, a fan and a
// stream, packed as the daemon packs it: one chart per CSV file, the facts and what stands out,
// nothing unreadable, nothing that reaches out; and Chromium draws content in every chart.
TEST(SessionReport, ATickWrittenSessionShownWhole) {
    DeviceRoot dev;
    LaidSession session;
    {
        PrivateBus bus;
        HttpServer http{"root", "pass"};
        BusyBoxPath busybox;
        LogCapture log;
        for (const char* proc : {"/proc/net/dev", "/proc/meminfo", "/proc/vmstat",
                                 "/proc/buddyinfo", "/proc/interrupts"}) {
            dev.write(proc, read_file(proc).value_or(""));
        }
        dev.write("/etc/ws/onvif/media/media.conf", "<media/>\n");
        dev.write("/bin/df",
                  "#!/bin/sh\necho 'Filesystem 1024-blocks Used Available "
                  "Capacity Mounted on'\necho '/dev/sd 1000 500 500 17% /'\n");
        fs::permissions(dev.path("/bin/df"), fs::perms::owner_all, fs::perm_options::add);
        dev.link("/usr/bin/curl", "/usr/bin/curl");
        dev.link("/usr/local/packages/Kelvane/shell", KELVANE_SOURCE_DIR "/shell");
        http.serve("serverreport.cgi", "Server report\n");
        http.serve("param.cgi", "root.TemperatureControl.Sensor.S0.Name=Main\n");
        bus.start("norv_storage", R"({"storages": [["SD_DISK", "SD card",
            "/var/spool/storage/SD_DISK", "OK", 1, false, true, false, false, false, false,
            false, false, false, false, false, false]]})");
        bus.start("norv_temperature", R"({"temperatures": [[0, 41.5]], "heaters":
            ["stopped"], "fans": [[0, "running"]]})");
        bus.start("norv_streamer", R"({"streams": ["stream_a:mjpeg:640x480"]})");
        init_environment_monitor_settings("root", "pass");
        session = lay_down_session(dev, dev.path("/var/spool/storage/SD_DISK/Kelvane/"), "SD_DISK");
        arg_fremo_user = "root";
        arg_fremo_pass = "pass";
        for (unsigned long tick : {0ul, 2ul}) {
            timer_count = tick;
            timer_callback(nullptr);
        }
        arg_fremo_user = nullptr;
        while (g_source_remove_by_user_data(nullptr)) {
        }
        // The helper scripts run in the background; pack only what they finished.
        // The bracket keeps the pattern from matching the shell that runs pgrep.
        std::string busy = "pgrep -f " + q("[/]" + session.session_path.substr(1));
        wait_until([&] { return run(busy).second == 1; });
    }
    std::string zip = session.session_path + ".zip", page = session.session_path + ".html";
    run("cd " + q(session.storage_root) + " && zip -qr " + q(zip) + " " + q(session.folder));
    auto [out, status] = run(q(KELVANE_REPORT_PATH) + " " + q(zip));
    ASSERT_EQ(status, 0) << out;
    std::string html = read_file(page).value_or("");
    std::set<std::string> csv, charts;
    for (auto& entry : fs::recursive_directory_iterator(session.session_path)) {
        if (entry.path().extension() == ".csv") {
            csv.insert(fs::relative(entry.path(), session.session_path).string());
        }
    }
    std::regex chart("data-series=\"([^\"]*)\"");
    for (std::sregex_iterator it(html.begin(), html.end(), chart), end; it != end; ++it) {
        charts.insert((*it)[1]);
    }
    EXPECT_EQ(charts, csv);
    for (const char* text : {"Highest temperature: 41.5 °C (Main)", "Highest load average (1 min)",
                             "Lowest MemAvailable", "No stop time", "Server reports: 1",
                             "Interrupt tables: 2", "Media configuration: 1"}) {
        EXPECT_NE(html.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(html.find("class=\"problems\""), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_FALSE(std::regex_search(html, std::regex("(src|href)=\"[a-z]+:")));

    if (run("command -v chromium").second != 0) {
        GTEST_SKIP() << "chromium is not installed (scripts/setup installs it)";
    }
    // The page itself has no script; a frame around it counts the charts with drawn content.
    std::string frame = session.storage_root + "frame.html";
    write_file(frame,
               std::regex_replace(test_data("report/frame.html"), std::regex("@PAGE@"), page));
    std::string dom =
        run("timeout 240 chromium --headless --no-sandbox --disable-gpu "
            "--disable-quic --no-first-run --disable-background-networking "
            "--disable-component-update --disable-sync --allow-file-access-from-files "
            "--user-data-dir=" +
            q(session.storage_root + "chromium") + " --dump-dom " + q("file://" + frame))
            .first;
    EXPECT_NE(dom.find("data-result=\"charts " + std::to_string(charts.size()) + " blank \""),
              std::string::npos)
        << dom;
}

// Each line of runs.txt: the arguments of one run. The transcript and every page written must
// match the files beside it; a page's diff is read, then the program itself writes the new one.
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
        EXPECT_EQ(read_file(page.path()), test_data("report/" + page.path().filename().string()));
    }
}

// Each file of report/csv/ as the reader takes it: the header, every kept row (line, time
// stamp, cells and the number read from each) and what it left out, and why.
TEST(Csv, CapturedFilesReadAsExpected) {
    std::set<fs::path> files(fs::directory_iterator(KELVANE_TEST_DATA "report/csv"), {});
    std::ostringstream dump;
    for (const fs::path& file : files) {
        CsvTable t = csv_parse(read_file(file).value_or(""));
        dump << "== " << file.filename().string();
        for (const std::string& cell : t.header) {
            dump << " [" << cell << "]";
        }
        int date = csv_column(t.header, "date");
        for (const CsvRow& row : t.rows) {
            std::string stamp = csv_time_text(*csv_time(row.cells[date], row.cells[date + 1]));
            dump << "\n" << row.line << ": " << stamp;
            for (const std::string& cell : row.cells) {
                auto number = csv_number(cell);
                dump << " [" << cell << (number ? "]=" + std::to_string(*number) : "]");
            }
        }
        dump << "\nuntimed " << t.untimed_rows << ", repeated " << t.repeated_headers << ", broken "
             << t.broken_rows << " " << t.first_problem << "; " << t.error << "\n";
    }
    EXPECT_EQ(dump.str(), test_data("report/csv.expected"));
}
