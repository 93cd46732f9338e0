#include "support/bus.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <vector>

#include "lib/fileutil.hpp"
#include "lib/sysutil.hpp"
#include "support/device_root.hpp"

namespace {

const std::string kTemplates = std::string(KELVANE_SOURCE_DIR) + "/tests/support/dbus/";

// The value of `key = "..."` in a mock template.
std::string constant(const std::string& name, const std::string& key) {
    std::string text = read_file(kTemplates + name + ".py").value_or("");
    std::smatch m;
    return std::regex_search(text, m, std::regex("\n" + key + " = \"([^\"]*)\"")) ? m.str(1) : "";
}

// Starts `args` with its output dropped: mocks print tracebacks on errors.
pid_t spawn(const std::vector<std::string>& args) {
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Stops a process that spawn started; nothing when it could not start (never kill(-1, ...)).
void end(pid_t pid, int signal) {
    if (pid > 0) {
        kill(pid, signal);
        waitpid(pid, nullptr, 0);
    }
}

}  // namespace

PrivateBus::PrivateBus() {
    // The session configuration lets anyone own and call anything, as the tests need.
    Pipe out(popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r"));
    std::string pid;
    if (out && file_read_line(out.get(), address_) && file_read_line(out.get(), pid)) {
        daemon_pid_ = static_cast<pid_t>(std::stoi(pid));
    }
    if (daemon_pid_ <= 0) {
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
        end(pid, SIGKILL);
    }
    if (daemon_pid_ > 0) {
        kill(daemon_pid_, SIGTERM);
    }
    if (saved_address_) {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", saved_address_->c_str(), 1);
    } else {
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
}

bool PrivateBus::start(const std::string& name, const std::string& parameters) {
    stop(name, true);
    services_[name] = spawn({"/usr/bin/python3", "-m", "dbusmock", "--system", "-t",
                             kTemplates + name + ".py", "-p", parameters});
    std::string bus_name = constant(name, "BUS_NAME");
    bool up =
        !bus_name.empty() && std::system(("gdbus wait -y --timeout 10 " + bus_name).c_str()) == 0;
    EXPECT_TRUE(up) << "mock service " << name << " did not come up";
    return up;
}

bool PrivateBus::configure(const std::string& name, const std::string& parameters) {
    pid_t pid = spawn({"/usr/bin/dbus-send", "--system", "--print-reply",
                       "--dest=" + constant(name, "BUS_NAME"), constant(name, "MAIN_OBJ"),
                       "com.norv.Mock.SetParameters", "string:" + parameters});
    int status = -1;
    bool done = pid > 0 && waitpid(pid, &status, 0) == pid && status == 0;
    EXPECT_TRUE(done) << "could not configure mock service " << name;
    return done;
}

void PrivateBus::stop(const std::string& name, bool kill_it) {
    auto it = services_.find(name);
    if (it == services_.end()) {
        return;
    }
    end(it->second, kill_it ? SIGKILL : SIGTERM);
    services_.erase(it);
    // The bus drops the name a moment after the process.
    std::system(("for i in $(seq 50); do gdbus call -y -d org.freedesktop.DBus -o "
                 "/org/freedesktop/DBus -m org.freedesktop.DBus.NameHasOwner " +
                 constant(name, "BUS_NAME") +
                 " 2>/dev/null | grep -q true || exit 0; sleep 0.05; done")
                    .c_str());
}

std::string json_string(const std::string& value) {
    std::string out = "\"";
    for (unsigned char c : value) {
        if (c < 0x20) {
            out += str_printf("\\u%04x", c);
        } else {
            out += (c == '"' || c == '\\' ? "\\" : "") + std::string(1, static_cast<char>(c));
        }
    }
    return out + "\"";
}
