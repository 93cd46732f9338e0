#include "support/bus.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "lib/sysutil.hpp"
#include "support/device_root.hpp"
#include "support/process.hpp"

namespace fs = std::filesystem;

namespace {

const std::string kTemplates = std::string(KELVANE_SOURCE_DIR) + "/sim/dbus/";

// The value of `key = "..."` in a mock template.
std::string constant(const std::string& name, const std::string& key) {
    std::string text = read_file(kTemplates + name + ".py").value_or("");
    std::smatch m;
    return std::regex_search(text, m, std::regex("\n" + key + " = \"([^\"]*)\"")) ? m.str(1) : "";
}

}  // namespace

PrivateBus::PrivateBus() : dir_((fs::temp_directory_path() / "kelvane-bus-XXXXXX").string()) {
    EXPECT_NE(mkdtemp(dir_.data()), nullptr);
    daemon_pid_ = spawn(
        {"/usr/bin/dbus-daemon", "--config-file=" KELVANE_SOURCE_DIR "/tests/data/bus/system.conf",
         "--address=unix:path=" + dir_ + "/socket", "--nofork", "--print-address=1"},
        &address_);
    if (address_.empty()) {
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
    end(daemon_pid_, address_.empty() ? SIGKILL : SIGTERM);
    if (saved_address_) {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", saved_address_->c_str(), 1);
    } else if (!address_.empty()) {
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

bool PrivateBus::start(const std::string& name, const std::string& parameters) {
    if (address_.empty()) {  // a mock would reach the host's own system bus
        return false;
    }
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
    pid_t pid = address_.empty()
                    ? -1
                    : spawn({"/usr/bin/dbus-send", "--system", "--print-reply",
                             "--dest=" + constant(name, "BUS_NAME"), constant(name, "MAIN_OBJ"),
                             "com.norv.Mock.SetParameters", "string:" + parameters});
    int status = -1;
    bool done = pid > 0 && waitpid(pid, &status, 0) == pid && status == 0;
    EXPECT_TRUE(done) << "could not configure mock service " << name;
    return done;
}

void PrivateBus::stop(const std::string& name, bool kill_it) {
    if (services_.count(name) == 0) {
        return;
    }
    end(services_[name], kill_it ? SIGKILL : SIGTERM);
    services_.erase(name);
    // The bus drops the name a moment after the process.
    EXPECT_EQ(std::system(("for i in $(seq 50); do gdbus call -y -d org.freedesktop.DBus -o "
                           "/org/freedesktop/DBus -m org.freedesktop.DBus.NameHasOwner " +
                           constant(name, "BUS_NAME") +
                           " 2>/dev/null | grep -q true || exit 0; sleep 0.05; done")
                              .c_str()),
              0);
}

std::string json_string(const std::string& value) {
    std::string out = "\"";
    for (unsigned char c : value) {
        out += c < 0x20 ? str_printf("\\u%04x", c)
                        : (c == '"' || c == '\\' ? "\\" : "") + std::string(1, char(c));
    }
    return out + "\"";
}
