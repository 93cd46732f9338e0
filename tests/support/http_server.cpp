#include "support/http_server.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "lib/device.hpp"
#include "support/device_root.hpp"
#include "support/process.hpp"

namespace fs = std::filesystem;

HttpServer::HttpServer(const std::string& user, const std::string& password)
    : dir_((fs::temp_directory_path() / "kelvane-http-XXXXXX").string()) {
    EXPECT_NE(mkdtemp(dir_.data()), nullptr);
    // Credentials go by file: no shell quoting stands between them and the server.
    write_file(dir_ + "/user", user);
    write_file(dir_ + "/password", password);
    std::string line;
    pid_ = spawn({"/usr/bin/python3", std::string(KELVANE_SOURCE_DIR) + "/sim/http_api.py", dir_},
                 &line);
    int pid = 0, port = 0;
    EXPECT_TRUE(std::sscanf(line.c_str(), "%d %d", &pid, &port) == 2 && pid == pid_)
        << "HTTP server did not start";
    address_ = "127.0.0.1:" + std::to_string(port);
    device::set_http_address(address_);
}

HttpServer::~HttpServer() {
    shut_down();
    device::set_http_address("127.0.0.1");
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

void HttpServer::serve(const std::string& name, const std::string& body, int status) {
    write_file(dir_ + "/body/" + name, body);
    write_file(dir_ + "/body/" + name + ".status", std::to_string(status));
}

void HttpServer::shut_down() {
    end(pid_, SIGKILL);
    pid_ = -1;
}

std::vector<HttpServer::Request> HttpServer::requests() const {
    std::vector<Request> out;
    std::istringstream log(read_file(dir_ + "/requests.log").value_or(""));
    for (Request r; std::getline(log, r.path, '\0') && std::getline(log, r.user, '\0') &&
                    std::getline(log, r.password, '\0');) {
        out.push_back(r);
    }
    return out;
}
