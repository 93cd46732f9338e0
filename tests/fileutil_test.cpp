#include "lib/fileutil.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

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
