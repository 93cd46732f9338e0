#include "lib/fileutil.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/statvfs.h>

#include <filesystem>
#include <tuple>

#include "support/device_root.hpp"
#include "support/log_capture.hpp"

namespace fs = std::filesystem;

class FileutilTest : public ::testing::Test {
  protected:
    DeviceRoot dev;
    LogCapture log;
    std::string dir = dev.root(), none = dir + "/none";
};

TEST_F(FileutilTest, SizesAndFailuresAreLoggedWithTheirPaths) {
    // Truncated, and the next unit only above 1024.
    EXPECT_EQ(suffix_bytes(1024), "1024 B");
    EXPECT_EQ(suffix_bytes(2047), "1 KiB");
    EXPECT_EQ(suffix_bytes(1LL << 20), "1024 KiB");
    EXPECT_EQ(suffix_bytes((1LL << 20) + 1024), "1 MiB");
    EXPECT_EQ(suffix_bytes(1LL << 51), "2048 TiB");
    EXPECT_EQ(filesize_human_readable(none), "-1 B");
    EXPECT_TRUE(
        log.has(LOG_ERR, "errno: No such file or directory) Failed getting filesize of " + none));
    EXPECT_EQ(file_get_contents(none), std::nullopt);
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not read contents of '" + none + "': "));
    EXPECT_FALSE(file_rename(none, dir + "/b"));
    EXPECT_TRUE(log.has(
        LOG_DEBUG, "Could not rename '" + none + "'->'" + dir + "/b': No such file or directory"));
    EXPECT_FALSE(file_remove(none));
    EXPECT_TRUE(log.has(LOG_DEBUG, "Could not remove '" + none + "': No such file or directory"));
}

TEST_F(FileutilTest, ReplaceContentsKeepsTheOldFileWhenTheWriteFails) {
    std::string path = dir + "/state.txt";
    write_file(path, "old\n");
    ASSERT_TRUE(file_replace_contents(path, "new\n"));
    // Writes beyond a small file size limit fail, even for root.
    rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small{1000, saved.rlim_max};
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_FALSE(file_replace_contents(path, std::string(5000, 'x')));
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(read_file(path), "new\n");
    // No temporary file left behind: only the device's usr and the state file.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

TEST_F(FileutilTest, MakeAndRemoveRecursiveNeverFollowLinks) {
    EXPECT_FALSE(dir_make_recursive("relative/path"));
    EXPECT_TRUE(log.has(LOG_ERR, "dir_make_recursive: Path must be absolute"));
    EXPECT_TRUE(dir_make_recursive("/"));
    EXPECT_TRUE(dir_make_recursive(dir + "/tree//empty/"));
    // The last component also when the path does not end in '/'.
    EXPECT_TRUE(dir_make_recursive(dir + "/outside") && is_directory(dir + "/outside"));
    write_file(dir + "/outside/keep", "data");
    write_file(dir + "/tree/a", "1");
    EXPECT_FALSE(dir_make_recursive(dir + "/tree/a/sub"));
    EXPECT_TRUE(log.has(LOG_ERR, "Could not create directory '" + dir + "/tree/a'"));
    fs::create_directory_symlink(dir + "/outside", dir + "/tree/link");
    fs::create_directory_symlink(dir + "/outside", dir + "/top_link");
    EXPECT_EQ(dir_remove_recursive(dir + "/top_link"), 1u);
    EXPECT_EQ(dir_remove_recursive(dir + "/tree"), 4u);
    EXPECT_FALSE(fs::exists(dir + "/tree"));
    EXPECT_EQ(read_file(dir + "/outside/keep"), "data");
    EXPECT_EQ(dir_remove_recursive(none), 0u);
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not open dir for removal: " + none));
}

TEST_F(FileutilTest, PartitionUsageReadsTheCapacityColumnOfDf) {
    // The real df, on a path full of shell metacharacters.
    dev.link("/bin/df", "/bin/df");
    std::string odd = dir + "/it's \"$HOME\" `touch pwned` $(touch pwned)";
    make_dirs(odd);
    struct statvfs st;
    statvfs(dir.c_str(), &st);
    auto used = static_cast<double>(st.f_blocks - st.f_bfree);
    int use = get_storage_use_pcent(odd.c_str());
    EXPECT_NEAR(use, 100 * used / (used + static_cast<double>(st.f_bavail)), 1);
    EXPECT_EQ(check_partition_usage(odd.c_str()), use < 90);
    EXPECT_FALSE(fs::exists("pwned"));
    EXPECT_TRUE(log.entries().empty());
    // A missing path: this df prints nothing (unknown usage), BusyBox df its header only.
    EXPECT_FALSE(check_partition_usage(none.c_str()));
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not get usage of partition for path '" + none + "'."));
    dev.link("/bin/df", "/bin/busybox");
    EXPECT_EQ(get_storage_use_pcent(none.c_str()), 0);

    // What no real file system shows on demand: a df that prints `output` and leaves its
    // arguments beside itself.
    const std::string sd = "/var/spool/storage/SD_DISK";
    const std::string head =
        "Filesystem 1024-blocks Used Available Capacity Mounted on\n/dev/sda 9 9 9 ";
    const std::tuple<std::string, int, bool> cases[] = {
        {head + "90% /\n", 90, false},   {head + "89% /\n", 89, true},
        {head + "100% /\n", 100, false}, {head + "1234% /\n", 234, false},  // three digits at most
        {"Filesystem\n5%\n", 0, true},  // never the line's first character
        {head + "- /\n", 0, true},      // no percent sign
    };
    for (const auto& [output, pcent, ok] : cases) {
        dev.write("/bin/df",
                  "#!/bin/sh\necho \"$*\" > \"$0.args\"\nprintf '%s' '" + output + "'\n");
        fs::permissions(dev.path("/bin/df"), fs::perms::owner_all);
        EXPECT_EQ(get_storage_use_pcent(sd.c_str()), pcent) << output;
        EXPECT_EQ(check_partition_usage(sd.c_str()), ok) << output;
    }
    EXPECT_EQ(read_file(dev.path("/bin/df.args")), "-k -P " + sd + "\n");
    EXPECT_TRUE(log.has(LOG_ERR, "(lib/fileutil:"));
    EXPECT_TRUE(log.has(LOG_ERR, "Could not find percent char in '/dev/sda 9 9 9 - /\n'"));
    EXPECT_EQ(log.count("Could not get usage of partition"), 1u);  // only for the missing path
    // Only absolute paths are given to df.
    EXPECT_FALSE(check_partition_usage("var/spool"));
    EXPECT_FALSE(check_partition_usage(nullptr));
    EXPECT_TRUE(log.has(LOG_ERR, "Expected an absolute path, got 'var/spool'"));
    EXPECT_TRUE(log.has(LOG_ERR, "Expected an absolute path, got '[NULL]'"));
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not get usage of partition for path '[NULL]'."));
}
