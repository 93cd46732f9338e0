#include <gtest/gtest.h>

#include <cerrno>

#include "lib/log.hpp"
#include "support/log_capture.hpp"

#define LOG_MODULE "lib/test_module"

TEST(Log, ErrnoPrefixCarriesModuleLineAndErrorTextThenResetsErrno) {
    LogCapture log;
    errno = ENOENT;
    int line = __LINE__ + 1;
    LOG_ERRNO(LOG_ERR, "Could not open file '%s'", "/x");
    EXPECT_EQ(errno, 0);
    LOG_ERRNO(LOG_EMERG, "Out of %s.", "memory");
    ASSERT_EQ(log.entries().size(), 2u);
    EXPECT_EQ(log.entries()[0].first, LOG_ERR);
    EXPECT_EQ(log.entries()[0].second, "(lib/test_module:" + std::to_string(line) +
                                           ", errno: No such file or directory) Could not open "
                                           "file '/x'");
    EXPECT_EQ(log.entries()[1].second,
              "(lib/test_module:" + std::to_string(line + 2) + ", errno: None) Out of memory.");
}

TEST(Log, GLibErrorIsAWarningWithItsOwnTextAndIsCleared) {
    LogCapture log;
    GError* error = g_error_new_literal(G_FILE_ERROR, G_FILE_ERROR_NOENT, "gone away");
    log_gerror(&error);
    EXPECT_EQ(error, nullptr);
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_EQ(log.entries()[0], std::make_pair(LOG_WARNING, std::string("gone away")));
}
