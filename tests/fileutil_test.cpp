#include "lib/fileutil.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

const std::string kData = KELVANE_SOURCE_DIR "/tests/data/fileutil/";

class FileutilTest : public ::testing::Test {
  protected:
    DeviceRoot dev;
    LogCapture log;
    std::string dir = dev.root(), none = dir + "/none";
};

// A failed rewrite is the information file's test; here the temporary file of a good one.
TEST_F(FileutilTest, FailuresAreLoggedWithTheirPathsAndAReplacedFileGetsTheDefaultMode) {
    EXPECT_EQ(filesize_human_readable(none), "-1 B");
    EXPECT_EQ(file_get_contents(none), std::nullopt);
    EXPECT_FALSE(file_rename(none, dir + "/b"));
    EXPECT_FALSE(file_remove(none));
    EXPECT_TRUE(is_readable(dir) && is_writable(dir) && is_executable(dir));
    EXPECT_FALSE(is_readable(none) || is_writable(none) || is_executable(none));
    EXPECT_EQ(log_lines(log, dev), read_file(kData + "failures.log"));

    ASSERT_TRUE(file_replace_contents(dir + "/state.txt", "new\n"));
    EXPECT_EQ(fs::status(dir + "/state.txt").permissions(),
              fs::status(dir + "/usr").permissions() &
                  ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec));
    // Only the device's usr and the state file.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

TEST_F(FileutilTest, MakeAndRemoveRecursiveNeverFollowLinks) {
    errno = 0;  // as the fixture's own calls left it
    EXPECT_FALSE(dir_make_recursive("relative/path"));
    EXPECT_TRUE(dir_make_recursive("/") && dir_make_recursive(dir + "/tree//empty/"));
    EXPECT_TRUE(dir_make_recursive(dir + "/outside") && is_directory(dir + "/outside"));
    write_file(dir + "/outside/keep", "data");
    write_file(dir + "/tree/a", "1");
    EXPECT_FALSE(dir_make_recursive(dir + "/tree/a/sub"));
    fs::create_directory_symlink(dir + "/outside", dir + "/tree/link");
    fs::create_directory_symlink(dir + "/outside", dir + "/top_link");
    EXPECT_EQ(dir_remove_recursive(dir + "/top_link"), 1u);
    EXPECT_EQ(dir_remove_recursive(dir + "/tree"), 4u);
    EXPECT_FALSE(fs::exists(dir + "/tree"));
    EXPECT_EQ(read_file(dir + "/outside/keep"), "data");
    EXPECT_EQ(dir_remove_recursive(none), 0u);
    EXPECT_EQ(log_lines(log, dev), read_file(kData + "make_and_remove.log"));
}

// What df prints is the df table's test; here the real one on a path with shell syntax.
TEST_F(FileutilTest, PartitionUsageFromTheRealDf) {
    dev.link("/bin/df", "/bin/df");
    std::string odd = dir + "/it's \"$HOME\" `touch $PWNED` $(touch $PWNED)";
    make_dirs(odd);
    int use = get_storage_use_pcent(odd.c_str());
    EXPECT_TRUE(use >= 0 && use <= 100) << use;
    EXPECT_FALSE(fs::exists(dir + "/pwned"));
    errno = ENOENT;  // as an earlier call may leave it: a refused path is no failed call
    for (const char* path : {"var/spool", static_cast<const char*>(nullptr), none.c_str()}) {
        EXPECT_FALSE(check_partition_usage(path));
    }
    EXPECT_EQ(log_lines(log, dev), read_file(kData + "partition.log"));
}
