#include "support/process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "lib/fileutil.hpp"

pid_t spawn(const std::vector<std::string>& args, std::string* first_line) {
    // Everything the child needs is ready before fork: it may only make plain system calls.
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    int out[2] = {-1, -1};
    if (first_line != nullptr && pipe2(out, O_CLOEXEC) != 0) {
        return -1;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {  // the test died before the line above
            _exit(127);
        }
        int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        dup2(first_line != nullptr ? out[1] : null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (first_line != nullptr) {
        close(out[1]);
        File reader(fdopen(out[0], "r"));
        first_line->clear();
        if (reader) {
            file_read_line(reader.get(), *first_line);
        }
    }
    return pid;
}

void end(pid_t pid, int signal) {
    if (pid > 0) {
        kill(pid, signal);
        waitpid(pid, nullptr, 0);
    }
}

bool wait_until(const std::function<bool()>& done, int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
