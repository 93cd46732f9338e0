#include "support/http_server.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "lib/device.hpp"
#include "support/device_root.hpp"

namespace {

std::string unhex(const std::string& hex) {
    std::string out;
    if (hex == "-") {
        return out;
    }
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

}  // namespace

HttpServer::HttpServer(const std::string& user, const std::string& password) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kelvane-http-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
        return;
    }
    dir_ = tmpl;
    int fds[2];
    if (pipe(fds) != 0) {
        ADD_FAILURE() << "pipe failed";
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::string script = std::string(KELVANE_SOURCE_DIR) + "/tests/support/http_server.py";
        execl("/usr/bin/python3", "python3", script.c_str(), dir_.c_str(), user.c_str(),
              password.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string port;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') {
        port += c;
    }
    close(fds[0]);
    if (port.empty()) {
        ADD_FAILURE() << "HTTP server did not start";
        return;
    }
    address_ = "127.0.0.1:" + port;
    device::set_http_address(address_);
}

HttpServer::~HttpServer() {
    shut_down();
    device::set_http_address("127.0.0.1");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void HttpServer::serve(const std::string& name, const std::string& body, int status) {
    write_file(dir_ + "/" + name, body);
    write_file(dir_ + "/" + name + ".status", std::to_string(status));
}

void HttpServer::shut_down() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

std::vector<HttpServer::Request> HttpServer::requests() const {
    std::vector<Request> out;
    std::istringstream lines(read_file(dir_ + "/requests.log").value_or(""));
    std::string path, user, password;
    while (lines >> path >> user >> password) {
        out.push_back({unhex(path), unhex(user), unhex(password)});
    }
    return out;
}
