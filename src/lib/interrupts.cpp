#include "lib/interrupts.hpp"

#include "lib/device.hpp"
#include "lib/log.hpp"
#include "lib/sysutil.hpp"
#include "lib/timeseries.hpp"

#define LOG_MODULE "lib/interrupts"

namespace {

constexpr int kSecondsBetweenReadings = 3;

}  // namespace

void create_interrupts_snapshot(const std::string& session_path) {
    // The device's own date names the copies; two readings show the counters' rate.
    std::string source = shell_escape_unquoted(device::path(device::kProcInterrupts));
    std::string folder =
        shell_escape_double_quoted(monitoring_folder(session_path, "monitoring_interrupts"));
    ovra_systemf("cp %s \"%s/$(date +%%Y%%m%%d_%%H%%M%%S)_interrupts.txt\"", source.c_str(),
                 folder.c_str());
    ovra_systemf("sleep %d && cp %s \"%s/$(date +%%Y%%m%%d_%%H%%M%%S)_interrupts.txt\"",
                 kSecondsBetweenReadings, source.c_str(), folder.c_str());
}
