// A private D-Bus daemon standing for the device's system bus, with python3-dbusmock services
// on it. DBUS_SYSTEM_BUS_ADDRESS points at it for the fixture's lifetime, so that commands run
// by the code under test reach it. Everything it started is stopped with it, also when a test
// fails, and it all dies with the test process. When the bus did not come up, the fixture
// changes nothing and starts no mock.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>

class PrivateBus {
  public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    const std::string& address() const { return address_; }
    // Starts the mock of sim/dbus/<name>.py with `parameters` (JSON), replacing a
    // running one, and waits until it owns its bus name.
    bool start(const std::string& name, const std::string& parameters = "{}");
    // Hands new `parameters` to a running mock that offers com.norv.Mock.SetParameters.
    bool configure(const std::string& name, const std::string& parameters);
    // Stops (SIGKILL when `kill`, else SIGTERM) a mock and waits until its bus name is free.
    void stop(const std::string& name, bool kill = false);

  private:
    std::string dir_, address_;
    pid_t daemon_pid_ = -1;
    bool active_ = false;  // the bus is up and DBUS_SYSTEM_BUS_ADDRESS points at it
    std::optional<std::string> saved_address_;
    std::map<std::string, pid_t> services_;
};

// JSON text of a string (for building mock parameters).
std::string json_string(const std::string& value);
