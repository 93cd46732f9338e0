#include "lib/fremo.hpp"

#include "lib/device.hpp"

#define LOG_MODULE "lib/fremo"

namespace {

std::string credentials(const std::string& user, const std::string& pass) {
    return "\"" + shell_escape_double_quoted(user) + "\":\"" + shell_escape_double_quoted(pass) +
           "\"";
}

std::string curl() {
    return shell_escape_unquoted(device::path(device::kCurl));
}

std::string url(const std::string& path) {
    return "'http://" + shell_escape_single_quoted(device::http_address()) +
           shell_escape_single_quoted(path) + "'";
}

}  // namespace

Pipe fremo_get(const std::string& fremo_user, const std::string& fremo_pass,
               const std::string& path) {
    std::string cmd = curl() + " -sS -u " + credentials(fremo_user, fremo_pass) + " " + url(path);
    Pipe pipe = pipe_open(cmd);
    if (!pipe) {
        LOG_ERRNO(LOG_ERR, "Could not execute command: %s", cmd.c_str());
    }
    return pipe;
}

bool fremo_download(const std::string& fremo_user, const std::string& fremo_pass,
                    const std::string& path, const std::string& dest) {
    return ovra_systemf("%s -sS -u %s -o \"%s\" %s", curl().c_str(),
                        credentials(fremo_user, fremo_pass).c_str(),
                        shell_escape_double_quoted(dest).c_str(), url(path).c_str());
}
