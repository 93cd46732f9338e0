#include "lib/fileutil.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

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
    EXPECT_EQ(suffix_bytes(0), "0 B");
    EXPECT_EQ(suffix_bytes(-5), "-5 B");
    EXPECT_EQ(suffix_bytes(1024), "1024 B");
    EXPECT_EQ(suffix_bytes(1025), "1 KiB");
    EXPECT_EQ(suffix_bytes(2047), "1 KiB");
    EXPECT_EQ(suffix_bytes(1LL << 20), "1024 KiB");
    EXPECT_EQ(suffix_bytes((1LL << 20) + 1024), "1 MiB");
    EXPECT_EQ(suffix_bytes(1LL << 50), "1024 TiB");
    EXPECT_EQ(suffix_bytes(1LL << 51), "2048 TiB");
}

TEST_F(FileutilTest, SizesAndPathTests) {
    write_file(dir + "/f", std::string(3000, 'x'));
    EXPECT_TRUE(is_file(dir + "/f"));
    EXPECT_FALSE(is_directory(dir + "/f"));
    EXPECT_TRUE(is_directory(dir));
    EXPECT_FALSE(is_file(dir));
    EXPECT_EQ(filesize(dir + "/f"), 3000);
    EXPECT_EQ(filesize_human_readable(dir + "/f"), "2 KiB");
    EXPECT_EQ(filesize_human_readable(dir + "/missing"), "-1 B");
    EXPECT_TRUE(log.has(LOG_ERR, "errno: No such file or directory) Failed getting filesize of " +
                                     dir + "/missing"));
}

TEST_F(FileutilTest, CopyNeverOverwritesAndReportsGLibError) {
    write_file(dir + "/src", "new");
    write_file(dir + "/dest", "old");
    EXPECT_FALSE(file_copy(dir + "/src", dir + "/dest"));
    EXPECT_EQ(read_file(dir + "/dest"), "old");
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not copy '" + dir + "/src' to '" + dir + "/dest': "));
    EXPECT_TRUE(file_copy(dir + "/src", dir + "/copy"));
    EXPECT_EQ(read_file(dir + "/copy"), "new");
}

TEST_F(FileutilTest, WholeFileReadWriteRemoveRename) {
    EXPECT_EQ(file_get_contents(dir + "/none"), std::nullopt);
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not read contents of '" + dir + "/none': "));
    EXPECT_TRUE(file_put_string(dir + "/a", "text\n"));
    EXPECT_EQ(file_get_contents(dir + "/a"), "text\n");
    EXPECT_TRUE(file_rename(dir + "/a", dir + "/b"));
    EXPECT_FALSE(file_rename(dir + "/a", dir + "/b"));
    EXPECT_TRUE(log.has(
        LOG_DEBUG, "Could not rename '" + dir + "/a'->'" + dir + "/b': No such file or directory"));
    EXPECT_TRUE(empty_file_if_possible(dir + "/b"));
    EXPECT_EQ(read_file(dir + "/b"), "");
    EXPECT_TRUE(file_remove(dir + "/b"));
    EXPECT_FALSE(file_remove(dir + "/b"));
    EXPECT_TRUE(log.has(LOG_DEBUG, "Could not remove '" + dir + "/b': No such file or directory"));
}

TEST_F(FileutilTest, ReplaceContentsKeepsOldFileWhenWriteFails) {
    std::string path = dir + "/state.txt";
    write_file(path, "old\n");
    ASSERT_TRUE(file_replace_contents(path, "new\n"));
    EXPECT_EQ(read_file(path), "new\n");

    // A folder that can't take the temporary file: the old file stays, no debris.
    if (geteuid() != 0) {
        chmod(dir.c_str(), 0555);
        EXPECT_FALSE(file_replace_contents(path, "newer\n"));
        chmod(dir.c_str(), 0755);
        EXPECT_EQ(read_file(path), "new\n");
    }
    EXPECT_FALSE(file_replace_contents(dir + "/no/such/dir/file", "x"));
    size_t entries = 0;
    for (auto& e : fs::directory_iterator(dir)) {
        entries += e.path().filename() != "usr" ? 1 : 0;
    }
    EXPECT_EQ(entries, 1u);
}

TEST_F(FileutilTest, RemoveRecursiveCountsEntriesAndNeverFollowsLinks) {
    EXPECT_EQ(dir_remove_recursive(dir + "/missing"), 0u);
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not open dir for removal: " + dir + "/missing"));

    write_file(dir + "/outside/keep", "data");
    write_file(dir + "/tree/a", "1");
    write_file(dir + "/tree/b", "2");
    make_dirs(dir + "/tree/empty");
    fs::create_directory_symlink(dir + "/outside", dir + "/tree/link");
    EXPECT_EQ(dir_remove_recursive(dir + "/tree"), 5u);
    EXPECT_FALSE(fs::exists(dir + "/tree"));
    EXPECT_EQ(read_file(dir + "/outside/keep"), "data");
}

TEST_F(FileutilTest, MakeRecursiveCreatesEveryComponent) {
    EXPECT_FALSE(dir_make_recursive("relative/path"));
    EXPECT_TRUE(log.has(LOG_ERR, "dir_make_recursive: Path must be absolute"));
    EXPECT_FALSE(fs::exists("relative"));
    EXPECT_TRUE(dir_make_recursive("/"));
    EXPECT_TRUE(dir_make_recursive(dir + "/a/b/c"));
    EXPECT_TRUE(is_directory(dir + "/a/b/c"));
    EXPECT_TRUE(dir_make_recursive(dir + "/x//y/"));
    EXPECT_TRUE(is_directory(dir + "/x/y"));

    write_file(dir + "/file", "");
    EXPECT_FALSE(dir_make_recursive(dir + "/file/sub"));
    EXPECT_TRUE(log.has(LOG_ERR, "Could not create directory '" + dir + "/file'"));
}

TEST_F(FileutilTest, ReadLineTakesWholeLinesOfAnyLength) {
    std::string longline(5000, 'q');
    write_file(dir + "/lines", longline + "\nCR\r\nlast");
    File f = file_open(dir + "/lines", "r");
    ASSERT_TRUE(f);
    std::string line;
    ASSERT_TRUE(file_read_line(f.get(), line));
    EXPECT_EQ(line, longline);
    ASSERT_TRUE(file_read_line(f.get(), line));
    EXPECT_EQ(line, "CR\r");
    ASSERT_TRUE(file_read_line(f.get(), line));
    EXPECT_EQ(line, "last");
    EXPECT_FALSE(file_read_line(f.get(), line));
}

// Partition usage

namespace {

// What df reports for the file system holding `path`: used of used + available, rounded up.
int df_percent(const std::string& path) {
    struct statvfs st;
    statvfs(path.c_str(), &st);
    unsigned long long used = st.f_blocks - st.f_bfree, total = used + st.f_bavail;
    return total == 0 ? 0 : static_cast<int>((used * 100 + total - 1) / total);
}

// A df that prints `output` (no single quotes) and leaves its arguments in /bin/df.args.
void fake_df(const DeviceRoot& dev, const std::string& output) {
    dev.write("/bin/df", "#!/bin/sh\necho \"$*\" > \"$0.args\"\nprintf '%s' '" + output + "'\n");
    fs::permissions(dev.path("/bin/df"), fs::perms::owner_all, fs::perm_options::add);
}

}  // namespace

TEST_F(FileutilTest, PartitionUsageFromTheRealDf) {
    dev.link("/bin/df", "/bin/df");
    // Shell metacharacters in the path reach df as they are.
    std::string odd = dir + "/it's \"$HOME\" `touch pwned` $(touch pwned)";
    make_dirs(odd);
    int use = get_storage_use_pcent(odd.c_str());
    EXPECT_NEAR(use, df_percent(dir), 1);
    EXPECT_EQ(check_partition_usage(odd.c_str()), use < 90);
    EXPECT_FALSE(fs::exists("pwned"));
    EXPECT_TRUE(log.entries().empty());

    // A missing path: this df prints nothing (unknown usage), BusyBox df its header only (empty).
    std::string gone = dir + "/gone";
    EXPECT_FALSE(check_partition_usage(gone.c_str()));
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not get usage of partition for path '" + gone + "'."));
    dev.link("/bin/df", "/bin/busybox");
    EXPECT_EQ(get_storage_use_pcent(gone.c_str()), 0);
    fs::remove(dev.path("/bin/df"));
    EXPECT_EQ(get_storage_use_pcent(dir.c_str()), -1);
}

TEST_F(FileutilTest, PartitionUsageReadsTheCapacityColumn) {
    const char* storage = "/var/spool/storage/SD_DISK";
    const std::string header =
        "Filesystem     1024-blocks     Used Available Capacity Mounted on\n";
    const std::string data = header + "/dev/mmcblk0p1    30436   1064  29372 ";
    const std::tuple<std::string, int, bool> cases[] = {
        {data + "90% /var/spool/storage/SD_DISK\n", 90, false},
        {data + "89% /var/spool/storage/SD_DISK\n", 89, true},
        {data + "100% /var/spool/storage/SD_DISK\n", 100, false},
        {header + "/dev/sda 1234% /\n", 234, false},  // three digits at most
        {header + "5%\n", 0, true},                   // never the line's first character
        {header + "/dev/sda 1 2 3 - /\n", 0, true},   // no percent sign
        {"", -1, false},
    };
    for (const auto& [output, use, ok] : cases) {
        fake_df(dev, output);
        EXPECT_EQ(get_storage_use_pcent(storage), use) << output;
        EXPECT_EQ(check_partition_usage(storage), ok) << output;
    }
    EXPECT_EQ(read_file(dev.path("/bin/df.args")), "-k -P /var/spool/storage/SD_DISK\n");
    EXPECT_TRUE(log.has(LOG_ERR, "Could not find percent char in '/dev/sda 1 2 3 - /\n'"));
    EXPECT_EQ(log.count("Could not get usage of partition"), 1u);

    // Only absolute paths are given to df.
    fs::remove(dev.path("/bin/df.args"));
    EXPECT_FALSE(check_partition_usage("var/spool"));
    EXPECT_TRUE(log.has(LOG_ERR, "(lib/fileutil:"));
    EXPECT_TRUE(log.has(LOG_ERR, "Expected an absolute path, got 'var/spool'"));
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not get usage of partition for path 'var/spool'."));
    EXPECT_FALSE(check_partition_usage(nullptr));
    EXPECT_TRUE(log.has(LOG_ERR, "Expected an absolute path, got '[NULL]'"));
    EXPECT_TRUE(log.has(LOG_WARNING, "Could not get usage of partition for path '[NULL]'."));
    EXPECT_FALSE(fs::exists(dev.path("/bin/df.args")));
}
