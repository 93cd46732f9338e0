// One place for the device's fixed paths and the address of its HTTP API.
// Production uses the paths as they stand; tests move them under a folder of their own.
#pragma once

#include <string>
#include <string_view>

namespace device {

inline constexpr std::string_view kPackageDir = "/usr/local/packages/Kelvane";
inline constexpr std::string_view kLocalDataDir = "/usr/local/packages/Kelvane/localdata";
inline constexpr std::string_view kShellDir = "/usr/local/packages/Kelvane/shell";
inline constexpr std::string_view kStateFile =
    "/usr/local/packages/Kelvane/localdata/current_monitoring_session.txt";
// Held by the daemon through each minute tick, so that a session's end can wait for one.
inline constexpr std::string_view kTickLockFile =
    "/usr/local/packages/Kelvane/localdata/minute_tick.lock";
// Held by the session tool while it starts, stops or deletes a session.
inline constexpr std::string_view kSessionToolLockFile =
    "/usr/local/packages/Kelvane/localdata/session_tool.lock";
inline constexpr std::string_view kPtzTestIntervalFile =
    "/usr/local/packages/Kelvane/localdata/automatic_PTZ_test_interval.info";
inline constexpr std::string_view kPtzTestTimesFile =
    "/usr/local/packages/Kelvane/localdata/automatic_PTZ_test_times.info";
inline constexpr std::string_view kProcDir = "/proc";
inline constexpr std::string_view kProcNetDev = "/proc/net/dev";
inline constexpr std::string_view kProcMeminfo = "/proc/meminfo";
inline constexpr std::string_view kProcVmstat = "/proc/vmstat";
inline constexpr std::string_view kProcBuddyinfo = "/proc/buddyinfo";
inline constexpr std::string_view kProcInterrupts = "/proc/interrupts";
inline constexpr std::string_view kMediaConf = "/etc/ws/onvif/media/media.conf";
inline constexpr std::string_view kStorageDir = "/var/spool/storage/";
inline constexpr std::string_view kRadarDir = "/tmp/radar-diagnostics";
inline constexpr std::string_view kLogDir = "/var/log";
inline constexpr std::string_view kCurl = "/usr/bin/curl";
inline constexpr std::string_view kDf = "/bin/df";
inline constexpr std::string_view kTail = "/usr/bin/tail";

// `fixed` (one of the paths above, or a path below one) as seen on this machine.
std::string path(std::string_view fixed);

// The loopback address (host or host:port) of the device's web server.
const std::string& http_address();

// Test seams: the folder that stands for "/" and the web server's address.
void set_root(std::string root);
void set_http_address(std::string address);

}  // namespace device
