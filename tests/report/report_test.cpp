#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <thread>

#include "kelvane_daemon.hpp"
#include "lib/environment.hpp"
#include "support/bus.hpp"
#include "support/busybox_path.hpp"
#include "support/device_root.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

namespace {

std::string q(const std::string& s) {
    return "'" + std::regex_replace(s, std::regex("'"), "'\\''") + "'";
}

// Output (stdout and stderr) and exit status of a shell command.
std::pair<std::string, int> run(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> out(popen((command + " 2>&1").c_str(), "r"), &pclose);
    std::string text;
    char buffer[4096];
    while (out && fgets(buffer, sizeof buffer, out.get()) != nullptr) {
        text += buffer;
    }
    int status = out ? pclose(out.release()) : -1;
    return {text, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

std::set<std::string> data_series(const std::string& html) {
    std::set<std::string> found;
    std::regex attr("data-series=\"([^\"]*)\"");
    for (std::sregex_iterator it(html.begin(), html.end(), attr), end; it != end; ++it) {
        found.insert((*it)[1]);
    }
    return found;
}

// A session that the daemon's own tick wrote on a device with a sensor, a heater, a fan and a
// stream, packed as the daemon packs it.
class SessionReport : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dev = new DeviceRoot;
        {
            PrivateBus bus;
            HttpServer http{"root", "pass"};
            BusyBoxPath busybox;
            LogCapture log;
            for (const char* proc : {"/proc/net/dev", "/proc/meminfo", "/proc/vmstat",
                                     "/proc/buddyinfo", "/proc/interrupts"}) {
                dev->write(proc, read_file(proc).value_or(""));
            }
            dev->write("/etc/ws/onvif/media/media.conf", "<media/>\n");
            dev->write("/bin/df",
                       "#!/bin/sh\necho 'Filesystem 1024-blocks Used Available "
                       "Capacity Mounted on'\necho '/dev/sd 1000 500 500 17% /'\n");
            fs::permissions(dev->path("/bin/df"), fs::perms::owner_all, fs::perm_options::add);
            dev->link("/usr/bin/curl", "/usr/bin/curl");
            dev->link("/usr/local/packages/Kelvane/shell", KELVANE_SOURCE_DIR "/shell");
            http.serve("serverreport.cgi", "Server report\n");
            http.serve("param.cgi", "root.TemperatureControl.Sensor.S0.Name=Main\n");
            bus.start("norv_storage", R"({"storages": [["SD_DISK", "SD card",
                "/var/spool/storage/SD_DISK", "OK", 1, false, true, false, false, false, false,
                false, false, false, false, false, false]]})");
            bus.start("norv_temperature", R"({"temperatures": [[0, 41.5]], "heaters":
                ["stopped"], "fans": [[0, "running"]]})");
            bus.start("norv_streamer", R"({"streams": ["stream_a:mjpeg:640x480"]})");
            init_environment_monitor_settings("root", "pass");
            session =
                lay_down_session(*dev, dev->path("/var/spool/storage/SD_DISK/Kelvane/"), "SD_DISK");
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
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
            while (run(busy).second != 1 && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        zip = session.session_path + ".zip";
        run("cd " + q(session.storage_root) + " && zip -qr " + q(zip) + " " + q(session.folder));
        html_path = session.session_path + ".html";
        report = run(q(KELVANE_REPORT_PATH) + " " + q(zip));
        html = read_file(html_path).value_or("");
    }
    static void TearDownTestSuite() { delete dev; }

    static inline DeviceRoot* dev;
    static inline LaidSession session;
    static inline std::string zip, html_path, html;
    static inline std::pair<std::string, int> report;
};

}  // namespace

TEST_F(SessionReport, OneChartPerCsvFileAndTheFacts) {
    ASSERT_EQ(report.second, 0) << report.first;
    std::set<std::string> csv;
    for (auto& entry : fs::recursive_directory_iterator(session.session_path)) {
        if (entry.path().extension() == ".csv") {
            csv.insert(fs::relative(entry.path(), session.session_path).string());
        }
    }
    EXPECT_EQ(data_series(html), csv);
    std::ifstream info(session.session_path + "/Session_Information.txt");
    for (std::string line; std::getline(info, line);) {
        auto colon = line.find(": ");
        EXPECT_NE(html.find("<dt>" + line.substr(0, colon) + "</dt><dd>" + line.substr(colon + 2)),
                  std::string::npos)
            << line;
    }
    for (const char* text : {"Highest temperature: 41.5 °C (Main)", "Highest load average (1 min)",
                             "Lowest MemAvailable", "No stop time", "Server reports: 1",
                             "Interrupt tables: 2", "Media configuration: 1"}) {
        EXPECT_NE(html.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(html.find("class=\"problems\""), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(std::regex_search(html, std::regex("(src|href)=\"[a-z]+:")), false);
}

TEST_F(SessionReport, ChromiumDrawsEveryChart) {
    if (run("command -v chromium").second != 0) {
        GTEST_SKIP() << "chromium is not installed (scripts/setup installs it)";
    }
    ASSERT_EQ(report.second, 0) << report.first;
    // The page itself has no script; a frame around it counts the charts with drawn content.
    std::string frame = session.storage_root + "frame.html";
    write_file(
        frame,
        "<iframe id=f width=1000 height=800 src=\"" + html_path +
            "\"></iframe><script>"
            "f.onload=()=>{const c=[...f.contentDocument.querySelectorAll('[data-series]')];"
            "const blank=c.filter(e=>![...e.querySelectorAll('path,rect[fill]')].some(s=>{"
            "const b=s.getBBox();return b.width>0||b.height>0;}));document.body.dataset.result="
            "'charts '+c.length+' blank '+blank.map(e=>e.dataset.series).join(' ');};</script>");
    auto [dom, status] = run(
        "timeout 240 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync "
        "--allow-file-access-from-files --user-data-dir=" +
        q(session.storage_root + "chromium") + " --dump-dom " + q("file://" + frame));
    ASSERT_EQ(status, 0) << dom;
    EXPECT_NE(
        dom.find("data-result=\"charts " + std::to_string(data_series(html).size()) + " blank \""),
        std::string::npos)
        << dom;
}

TEST(ReportInput, WhatCannotBeReadIsListed) {
    DeviceRoot tmp;
    std::string dir = tmp.path("/in"), good = "Date,Time,v\n2024-03-07,14:05:09,1\n";
    write_file(dir + "/s/system_monitoring/monitoring_load/load.csv", good + "2024-03-07,14:0");
    write_file(dir + "/s/system_monitoring/monitoring_self/blob.csv", std::string("\0\1", 2));
    write_file(dir + "/noise.zip", "not an archive\n");
    // A stored archive with a flipped byte in one entry's data.
    write_file(dir + "/z/a.csv", good);
    write_file(dir + "/z/b.csv", good);
    run("cd " + q(dir) + " && zip -q0rX z.zip z");
    std::string zip = read_file(dir + "/z.zip").value_or("");
    write_file(dir + "/cut.zip", zip.substr(0, zip.find("z/b.csv") + 7 + 20));
    zip[zip.find("z/b.csv") + 7 + 20] ^= 1;
    write_file(dir + "/z.zip", zip);
    const struct {
        std::string input;
        int status;
        std::vector<std::string> expected;  // in the output, or in the report when one is written
    } cases[] = {
        {dir + "/missing", 1, {"nothing could be read", "missing: no such file or folder"}},
        {dir + "/noise.zip", 1, {"nothing could be read", "noise.zip: Not a zip archive"}},
        {dir + "/s",
         0,
         {"Session_Information.txt: missing",
          "load.csv: 1 row(s) left out, first at line 3: 2 cells where the header has 3 (cut off)",
          "blob.csv: binary content, not a CSV file",
          "data-series=\"system_monitoring/monitoring_load/load.csv\""}},
        {dir + "/z.zip", 0, {"b.csv: CRC error", "data-series=\"a.csv\""}},
        {dir + "/cut.zip",
         0,
         {"z/b.csv: cut off", "2 entries read from what is left", "data-series=\"a.csv\""}},
    };
    for (const auto& c : cases) {
        auto [out, status] =
            run(q(KELVANE_REPORT_PATH) + " " + q(c.input) + " -o " + q(dir + "/r.html"));
        EXPECT_EQ(status, c.status) << c.input << ": " << out;
        std::string text = out + (status == 0 ? read_file(dir + "/r.html").value_or("") : "");
        for (const std::string& e : c.expected) {
            EXPECT_NE(text.find(e), std::string::npos) << c.input << ": " << e << "\n" << out;
        }
        fs::remove(dir + "/r.html");
    }
}
