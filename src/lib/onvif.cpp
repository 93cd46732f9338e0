#include "lib/onvif.hpp"

#include "lib/dateutil.hpp"
#include "lib/device.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/timeseries.hpp"

#define LOG_MODULE "lib/onvif"

void onvif_copy_media_conf(const std::string& session_path) {
    std::string source = device::path(device::kMediaConf);
    if (!is_file(source)) {
        log_msg(LOG_DEBUG, "'%s' is not a file.", source.c_str());
        return;
    }
    std::string stamp = date_format_now("%Y%m%d_%H%M%S", 20);
    file_copy(source,
              monitoring_folder(session_path, "monitoring_onvif") + "/" + stamp + "_media.conf");
}
