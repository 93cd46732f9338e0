// A private D-Bus daemon standing for the device's system bus, with python3-dbusmock services on
// it; DBUS_SYSTEM_BUS_ADDRESS points at it while it lives. Everything it started dies with it or
// with the test process. When the bus did not come up it changes nothing and starts no mock.
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
    // Starts (or restarts) the mock sim/dbus/<name>.py and waits until it owns its bus name.
    bool start(const std::string& name, const std::string& parameters = "{}");
    // Hands new parameters to a running mock through com.norv.Mock.SetParameters.
    bool configure(const std::string& name, const std::string& parameters);
    // Stops a mock and waits until its bus name is free.
    void stop(const std::string& name, bool kill = false);

  private:
    std::string dir_, address_;
    pid_t daemon_pid_ = -1;
    std::optional<std::string> saved_address_;
    std::map<std::string, pid_t> services_;
};

// JSON text of a string (for building mock parameters).
std::string json_string(const std::string& value);
