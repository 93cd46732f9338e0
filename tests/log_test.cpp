#include <gtest/gtest.h>

#include <cerrno>

#include "lib/log.hpp"
#include "support/log_capture.hpp"

#define LOG_MODULE "lib/test_module"

TEST(Log, ErrnoPrefixResetsErrnoAndGLibErrorsAreClearedWarnings) {
    LogCapture log;
    errno = ENOENT;
    std::string line = std::to_string(__LINE__ + 1);
    LOG_ERRNO(LOG_ERR, "Could not open file '%s'", "/x");
    EXPECT_EQ(errno, 0);
    GError* error = g_error_new_literal(G_FILE_ERROR, G_FILE_ERROR_NOENT, "gone away");
    log_gerror(&error);
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(log.entries(),
              (std::vector<std::pair<int, std::string>>{
                  {LOG_ERR, "(lib/test_module:" + line +
                                ", errno: No such file or directory) Could not open file '/x'"},
                  {LOG_WARNING, "gone away"}}));
}
