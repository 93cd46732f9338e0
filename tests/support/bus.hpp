// A private D-Bus daemon that stands for the device's system bus, with python3-dbusmock
// services on it. Commands run by the code under test reach it through
// DBUS_SYSTEM_BUS_ADDRESS, which the fixture sets for its lifetime. Everything it started is
// stopped when it goes out of scope, also when a test fails.
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

    // Starts the mock service of tests/support/dbus/<name>.py with `parameters` (JSON) and
    // waits until its bus name is owned. A running service of the same template is replaced.
    bool start(const std::string& name, const std::string& parameters = "{}");
    // Hands new `parameters` (JSON) to a running service whose template offers the test-only
    // method com.norv.Mock.SetParameters, without restarting it.
    bool configure(const std::string& name, const std::string& parameters);
    // Stops (SIGKILL when `kill`, else SIGTERM) a service started with `start`.
    void stop(const std::string& name, bool kill = false);

  private:
    std::string dir_;
    std::string address_;
    pid_t daemon_pid_ = -1;
    std::optional<std::string> saved_address_;
    std::map<std::string, pid_t> services_;
};

// JSON text of a string (for building mock parameters).
std::string json_string(const std::string& value);
