#include "support/bus.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "support/device_root.hpp"

namespace {

const std::string kTemplates = std::string(KELVANE_SOURCE_DIR) + "/tests/support/dbus/";

// The value of `NAME = "..."` in a template.
std::string template_constant(const std::string& template_name, const std::string& name) {
    auto text = read_file(kTemplates + template_name + ".py").value_or("");
    std::string key = "\n" + name + " = \"";
    auto pos = text.find(key);
    if (pos == std::string::npos) {
        return "";
    }
    pos += key.size();
    return text.substr(pos, text.find('"', pos) - pos);
}

std::string bus_name_of(const std::string& template_name) {
    return template_constant(template_name, "BUS_NAME");
}

pid_t spawn(const std::vector<std::string>& args) {
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        // Mocks print tracebacks on errors; keep the test output readable.
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int run(const std::vector<std::string>& args) {
    int status = -1;
    pid_t pid = spawn(args);
    return pid > 0 && waitpid(pid, &status, 0) == pid ? status : -1;
}

void stop_process(pid_t pid, int signal) {
    if (pid > 0) {
        kill(pid, signal);
        waitpid(pid, nullptr, 0);
    }
}

}  // namespace

PrivateBus::PrivateBus() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kelvane-bus-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
        return;
    }
    dir_ = tmpl;
    write_file(
        dir_ + "/bus.conf",
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>system</type><listen>unix:path=" +
            dir_ +
            "/bus</listen><auth>EXTERNAL</auth><policy context=\"default\">"
            "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
            "<allow eavesdrop=\"true\"/><allow receive_sender=\"*\"/></policy></busconfig>\n");
    std::string cmd =
        "dbus-daemon --config-file=" + dir_ + "/bus.conf --fork --print-address=1 --print-pid=1";
    std::FILE* out = popen(cmd.c_str(), "r");
    char line[512];
    if (out != nullptr && std::fgets(line, sizeof line, out) != nullptr) {
        address_ = line;
        address_.erase(address_.find_last_not_of("\n") + 1);
        if (std::fgets(line, sizeof line, out) != nullptr) {
            daemon_pid_ = static_cast<pid_t>(std::atoi(line));
        }
    }
    if (out != nullptr) {
        pclose(out);
    }
    if (address_.empty() || daemon_pid_ <= 0) {
        ADD_FAILURE() << "could not start dbus-daemon";
        return;
    }
    if (const char* old = getenv("DBUS_SYSTEM_BUS_ADDRESS")) {
        saved_address_ = old;
    }
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
}

PrivateBus::~PrivateBus() {
    for (auto& [name, pid] : services_) {
        stop_process(pid, SIGKILL);
    }
    if (daemon_pid_ > 0) {
        kill(daemon_pid_, SIGTERM);
    }
    if (saved_address_) {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", saved_address_->c_str(), 1);
    } else {
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

bool PrivateBus::start(const std::string& name, const std::string& parameters) {
    stop(name, true);
    std::string bus_name = bus_name_of(name);
    pid_t pid = spawn({"/usr/bin/python3", "-m", "dbusmock", "--system", "-t",
                       kTemplates + name + ".py", "-p", parameters});
    services_[name] = pid;
    std::string wait = "gdbus wait -y --timeout 10 " + bus_name;
    bool up = !bus_name.empty() && std::system(wait.c_str()) == 0;
    if (!up) {
        ADD_FAILURE() << "mock service " << name << " did not come up";
    }
    return up;
}

bool PrivateBus::configure(const std::string& name, const std::string& parameters) {
    bool done = run({"/usr/bin/dbus-send", "--system", "--print-reply",
                     "--dest=" + bus_name_of(name), template_constant(name, "MAIN_OBJ"),
                     "com.norv.Mock.SetParameters", "string:" + parameters}) == 0;
    if (!done) {
        ADD_FAILURE() << "could not configure mock service " << name;
    }
    return done;
}

void PrivateBus::stop(const std::string& name, bool kill_it) {
    auto it = services_.find(name);
    if (it == services_.end()) {
        return;
    }
    stop_process(it->second, kill_it ? SIGKILL : SIGTERM);
    services_.erase(it);
    // The bus needs a moment to drop the name; wait until nobody owns it.
    std::string wait_gone =
        "for i in $(seq 50); do gdbus call -y -d org.freedesktop.DBus -o "
        "/org/freedesktop/DBus -m org.freedesktop.DBus.NameHasOwner " +
        bus_name_of(name) + " 2>/dev/null | grep -q true || exit 0; sleep 0.05; done";
    std::system(wait_gone.c_str());
}

std::string json_string(const std::string& value) {
    std::string out = "\"";
    for (unsigned char c : value) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}
