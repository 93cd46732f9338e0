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
    std::string dir = dev.root();
};

TEST(Fileutil, SuffixBytesTruncatesAndChangesUnitAbove1024) {
    EXPECT_EQ(suffix_bytes(-5), "-5 B");
    EXPECT_EQ(suffix_bytes(1024), "1024 B");
    EXPECT_EQ(suffix_bytes(2047), "1 KiB");
    EXPECT_EQ(suffix_bytes(1LL << 20), "1024 KiB");
    EXPECT_EQ(suffix_bytes((1LL << 20) + 1024), "1 MiB");
    EXPECT_EQ(suffix_bytes(1LL << 51), "2048 TiB");
}

TEST_F(FileutilTest, FailuresAreLoggedWithTheirPaths) {
    EXPECT_EQ(filesize_human_readable(dir + "/none"), "-1 B");
    EXPECT_TRUE(log.has(
        LOG_ERR, "errno: No such file or directory) Failed getting filesize of " + dir + "/none"));
    EXPECT_EQ(file_get_contents(dir + "/none"), std::nullopt);
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not read contents of '" + dir + "/none': "));
    EXPECT_FALSE(file_rename(dir + "/none", dir + "/b"));
    EXPECT_TRUE(log.has(LOG_DEBUG, "Could not rename '" + dir + "/none'->'" + dir +
                                       "/b': No such file or directory"));
    EXPECT_FALSE(file_remove(dir + "/none"));
    EXPECT_TRUE(
        log.has(LOG_DEBUG, "Could not remove '" + dir + "/none': No such file or directory"));

    // A copy never overwrites.
    write_file(dir + "/src", "new");
    write_file(dir + "/dest", "old");
    EXPECT_FALSE(file_copy(dir + "/src", dir + "/dest"));
    EXPECT_EQ(read_file(dir + "/dest"), "old");
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not copy '" + dir + "/src' to '" + dir + "/dest': "));
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
    EXPECT_FALSE(file_replace_contents(dir + "/no/such/dir/file", "x"));
    EXPECT_EQ(read_file(path), "new\n");
    size_t entries = 0;
    for (auto& e : fs::directory_iterator(dir)) {
        entries += e.path().filename() != "usr" ? 1 : 0;
    }
    EXPECT_EQ(entries, 1u);  // no temporary file left behind
}

TEST_F(FileutilTest, RemoveRecursiveCountsEntriesAndNeverFollowsLinks) {
    EXPECT_EQ(dir_remove_recursive(dir + "/missing"), 0u);
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not open dir for removal: " + dir + "/missing"));
    write_file(dir + "/outside/keep", "data");
    write_file(dir + "/tree/a", "1");
    make_dirs(dir + "/tree/empty");
    fs::create_directory_symlink(dir + "/outside", dir + "/tree/link");
    EXPECT_EQ(dir_remove_recursive(dir + "/tree"), 4u);
    EXPECT_FALSE(fs::exists(dir + "/tree"));
    EXPECT_EQ(read_file(dir + "/outside/keep"), "data");
}

TEST_F(FileutilTest, MakeRecursiveCreatesEveryComponent) {
    EXPECT_FALSE(dir_make_recursive("relative/path"));
    EXPECT_TRUE(log.has(LOG_ERR, "dir_make_recursive: Path must be absolute"));
    EXPECT_TRUE(dir_make_recursive("/"));
    EXPECT_TRUE(dir_make_recursive(dir + "/x//y/"));
    EXPECT_TRUE(is_directory(dir + "/x/y"));
    write_file(dir + "/file", "");
    EXPECT_FALSE(dir_make_recursive(dir + "/file/sub"));
    EXPECT_TRUE(log.has(LOG_ERR, "Could not create directory '" + dir + "/file'"));
}

TEST_F(FileutilTest, PartitionUsageFromTheRealDf) {
    dev.link("/bin/df", "/bin/df");
    std::string odd = dir + "/it's \"$HOME\" `touch pwned` $(touch pwned)";
    make_dirs(odd);
    struct statvfs st;
    statvfs(dir.c_str(), &st);
    unsigned long long used = st.f_blocks - st.f_bfree, total = used + st.f_bavail;
    int use = get_storage_use_pcent(odd.c_str());
    EXPECT_NEAR(use, static_cast<int>(total == 0 ? 0 : (used * 100 + total - 1) / total), 1);
    EXPECT_EQ(check_partition_usage(odd.c_str()), use < 90);
    EXPECT_FALSE(fs::exists("pwned"));
    EXPECT_TRUE(log.entries().empty());

    // A missing path: this df prints nothing (unknown usage), BusyBox df its header only.
    std::string gone = dir + "/gone";
    EXPECT_FALSE(check_partition_usage(gone.c_str()));
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not get usage of partition for path '" + gone + "'."));
    dev.link("/bin/df", "/bin/busybox");
    EXPECT_EQ(get_storage_use_pcent(gone.c_str()), 0);
}

TEST_F(FileutilTest, PartitionUsageReadsTheCapacityColumn) {
    const std::string head = "Filesystem     1024-blocks     Used Available Capacity Mounted on\n";
    const std::string data = head + "/dev/mmcblk0p1    30436   1064  29372 ";
    const std::tuple<std::string, int, bool> cases[] = {
        {data + "90% /var/spool/storage/SD_DISK\n", 90, false},
        {data + "89% /var/spool/storage/SD_DISK\n", 89, true},
        {data + "100% /var/spool/storage/SD_DISK\n", 100, false},
        {head + "/dev/sda 1234% /\n", 234, false},  // three digits at most
        {head + "5%\n", 0, true},                   // never the line's first character
        {head + "/dev/sda 1 2 3 - /\n", 0, true},   // no percent sign
        {"", -1, false},
    };
    for (const auto& [output, use, ok] : cases) {
        // A df that prints `output` and leaves its arguments beside itself.
        dev.write("/bin/df",
                  "#!/bin/sh\necho \"$*\" > \"$0.args\"\nprintf '%s' '" + output + "'\n");
        fs::permissions(dev.path("/bin/df"), fs::perms::owner_all);
        EXPECT_EQ(get_storage_use_pcent("/var/spool/storage/SD_DISK"), use) << output;
        EXPECT_EQ(check_partition_usage("/var/spool/storage/SD_DISK"), ok) << output;
    }
    EXPECT_EQ(read_file(dev.path("/bin/df.args")), "-k -P /var/spool/storage/SD_DISK\n");
    EXPECT_TRUE(log.has(LOG_ERR, "Could not find percent char in '/dev/sda 1 2 3 - /\n'"));
    EXPECT_EQ(log.count("Could not get usage of partition"), 1u);

    // Only absolute paths are given to df.
    fs::remove(dev.path("/bin/df.args"));
    for (const char* path : {"var/spool", static_cast<const char*>(nullptr)}) {
        std::string shown = path ? path : "[NULL]";
        EXPECT_FALSE(check_partition_usage(path));
        EXPECT_TRUE(log.has(LOG_ERR, "(lib/fileutil:"));
        EXPECT_TRUE(log.has(LOG_ERR, "Expected an absolute path, got '" + shown + "'"));
        EXPECT_TRUE(
            log.has(LOG_WARNING, "Could not get usage of partition for path '" + shown + "'."));
    }
    EXPECT_FALSE(fs::exists(dev.path("/bin/df.args")));
}
