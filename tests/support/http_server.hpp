// A loopback HTTP server with Basic credentials for the device's web server: it serves
// "/norv-cgi/<name>", records every request, and the device's HTTP address points at it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class HttpServer {
  public:
    HttpServer(const std::string& user, const std::string& password);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;
    const std::string& address() const { return address_; }  // "127.0.0.1:PORT"
    // The body (and status) of "/norv-cgi/<name>"; unset names answer 404.
    void serve(const std::string& name, const std::string& body, int status = 200);
    void shut_down();  // connections are refused from now on

    struct Request {
        std::string path, user, password;
    };
    std::vector<Request> requests() const;

  private:
    std::string dir_, address_;
    pid_t pid_ = -1;
};
