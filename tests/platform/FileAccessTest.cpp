// SPDX-License-Identifier: GPL-3.0-or-later
// Files through the operating system: what each opening mode promises, reads and writes at an
// offset up to the file's end, and what the status calls tell apart.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileAccess.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

struct FileAccessTest : ::testing::Test {
    fs::path Folder = fs::temp_directory_path() / ("kv-files-" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(Folder); }
    void TearDown() override { fs::remove_all(Folder); }
    std::string PathOf(const char* name) const { return (Folder / name).string(); }
};

bool ClosedOnExec(int fd) {
    return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
}

TEST_F(FileAccessTest, OpeningModesKeepTheirPromises) {
    const std::string path = PathOf("data");
    {
        const ScopedFile created(OpenFile(path, OpenMode::CreateNew));
        ASSERT_GE(created.Get(), 0);
        EXPECT_TRUE(ClosedOnExec(created.Get())); // never handed to a program we start
        ASSERT_TRUE(WriteAll(created.Get(), "hello", 5));
    }
    EXPECT_LT(OpenFile(path, OpenMode::CreateNew), 0);
    EXPECT_EQ(errno, EEXIST);
    {
        const ScopedFile both(OpenFile(path, OpenMode::ReadWrite)); // never truncates
        ASSERT_GE(both.Get(), 0);
        EXPECT_EQ(StatusOf(both.Get())->Size, 5u);
    }
    const std::string made = PathOf("made-by-read-write");
    const ScopedFile fresh(OpenFile(made, OpenMode::ReadWrite));
    EXPECT_GE(fresh.Get(), 0);
    EXPECT_EQ(StatusOfPath(made)->Kind, FileKind::Regular);

    EXPECT_LT(OpenFile(PathOf("missing"), OpenMode::Read), 0);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(FileAccessTest, AFifoDoesNotBlockTheOpenForReading) {
    const std::string fifo = PathOf("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto before = std::chrono::steady_clock::now();
    const ScopedFile file(OpenFile(fifo, OpenMode::Read)); // nobody writes: a blocking open hangs
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    ASSERT_GE(file.Get(), 0);
    EXPECT_EQ(StatusOf(file.Get())->Kind, FileKind::Other);
}

TEST_F(FileAccessTest, ReadsAndWritesAtAnOffsetStopAtTheEnd) {
    const ScopedFile file(OpenFile(PathOf("offsets"), OpenMode::ReadWrite));
    ASSERT_GE(file.Get(), 0);
    ASSERT_TRUE(WriteAt(file.Get(), "abcdef", 6, 0));
    ASSERT_TRUE(WriteAt(file.Get(), "XY", 2, 2));
    char buffer[16] = {};
    EXPECT_EQ(ReadAt(file.Get(), buffer, sizeof buffer, 1), std::optional<size_t>(5));
    EXPECT_EQ(std::string(buffer, 5), "bXYef");
    EXPECT_EQ(ReadAt(file.Get(), buffer, sizeof buffer, 100), std::optional<size_t>(0));

    ASSERT_TRUE(TruncateFile(file.Get(), 3));
    EXPECT_EQ(StatusOf(file.Get())->Size, 3u);
    ASSERT_TRUE(SetPermissions(file.Get(), 0640));
    EXPECT_EQ(StatusOf(file.Get())->Permissions, 0640u);
    EXPECT_TRUE(SyncFile(file.Get()));
    EXPECT_FALSE(ReadAt(-1, buffer, sizeof buffer, 0).has_value());
    EXPECT_FALSE(WriteAt(-1, "a", 1, 0));
}

TEST_F(FileAccessTest, PathsLinksFoldersAndRenames) {
    const std::string target = PathOf("target");
    const std::string link = PathOf("link");
    ASSERT_GE(ScopedFile(OpenFile(target, OpenMode::CreateNew)).Get(), 0);
    fs::create_symlink(target, link);
    EXPECT_EQ(StatusOfPath(link)->Kind, FileKind::Regular);
    EXPECT_EQ(LinkStatusOfPath(link)->Kind, FileKind::SymbolicLink);
    EXPECT_EQ(ResolvedPath(link), fs::canonical(target).string());
    EXPECT_FALSE(ResolvedPath(PathOf("missing/x")).has_value());

    const std::string folder = PathOf("folder");
    ASSERT_TRUE(MakeFolder(folder));
    EXPECT_EQ(StatusOfPath(folder)->Kind, FileKind::Directory);
    EXPECT_FALSE(MakeFolder(folder));
    EXPECT_EQ(errno, EEXIST);

    const std::string moved = folder + "/moved";
    ASSERT_TRUE(RenameFile(target, moved));
    EXPECT_FALSE(StatusOfPath(target).has_value());
    ASSERT_TRUE(RemoveFile(moved));
    EXPECT_FALSE(RemoveFile(moved));
    EXPECT_EQ(errno, ENOENT);
}

} // namespace
} // namespace kv
