// Files written whole or not at all, where the file system refuses unnamed files too, and made
// durable before they take their names.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "output/output_file.hpp"
#include "test_support.hpp"

namespace umbrascope {
namespace {

namespace fs = std::filesystem;

// The system calls replaced for one test, and put back after it.
class Calls {
public:
    Calls() : saved_(file_system_calls()) {}
    ~Calls() { file_system_calls() = saved_; }
    Calls(const Calls&) = delete;
    Calls& operator=(const Calls&) = delete;

private:
    FileSystemCalls saved_;
};

std::vector<std::string> names_in(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Where the first open (of an unnamed file) fails, as on NFS, CIFS or vfat, a hidden named file
// beside the target takes the bytes, and is renamed whole over the old file, or removed.
TEST(OutputFiles, WithoutUnnamedFilesAHiddenFileTakesTheirPlace)
{
    const Calls restore;
    file_system_calls().open_unnamed = [](const char*) {
        errno = EOPNOTSUPP;
        return -1;
    };
    testing::TempFolder folder;
    const fs::path path = folder.path() / "film.mp4";
    folder.write("film.mp4", "the old film");
    {
        OutputFile file(path);
        EXPECT_FALSE(file.unnamed());
        file.write("a new ");
        // While it is written, the old film is there as it was, and one hidden file beside it.
        EXPECT_EQ(testing::read_file(path), "the old film");
        const std::vector<std::string> during = names_in(folder.path());
        ASSERT_EQ(during.size(), 2U);
        EXPECT_EQ(during[0].rfind(".film.mp4.", 0), 0U) << during[0];
        file.write("film");
        file.commit();
    }
    EXPECT_EQ(testing::read_file(path), "a new film");
    EXPECT_EQ(names_in(folder.path()), std::vector<std::string>{"film.mp4"});
    {
        OutputFile abandoned(path);  // never committed: gone with its hidden file
        abandoned.write("half");
    }
    EXPECT_EQ(testing::read_file(path), "a new film");
    EXPECT_EQ(names_in(folder.path()), std::vector<std::string>{"film.mp4"});
    write_file(folder.path() / "new.png", "bytes");
    EXPECT_EQ(testing::read_file(folder.path() / "new.png"), "bytes");
}

// The bytes are synced while the file has no name yet, in both ways of making it.
TEST(OutputFiles, TheBytesAreSyncedBeforeTheFileIsNamed)
{
    for (const bool unnamed : {true, false}) {
        const Calls restore;
        if (!unnamed)
            file_system_calls().open_unnamed = [](const char*) {
                errno = EOPNOTSUPP;
                return -1;
            };
        static int syncs = 0;
        static bool named_when_synced = false;
        static fs::path target;
        syncs = 0;
        named_when_synced = false;
        testing::TempFolder folder;
        target = folder.path() / "frame.png";
        file_system_calls().sync = [](int fd) {
            if (syncs++ == 0)
                named_when_synced = fs::exists(target);
            return ::fsync(fd);
        };
        OutputFile file(target);
        file.write("pixels");
        file.commit();
        EXPECT_GE(syncs, 1) << (unnamed ? "unnamed" : "hidden");
        EXPECT_FALSE(named_when_synced) << (unnamed ? "unnamed" : "hidden");
        EXPECT_EQ(testing::read_file(target), "pixels");
        // A sync that fails is an error, and the name is never given.
        file_system_calls().sync = [](int) {
            errno = EIO;
            return -1;
        };
        OutputFile failing(folder.path() / "other.png");
        failing.write("pixels");
        EXPECT_THROW(failing.commit(), WriteError);
        EXPECT_FALSE(fs::exists(folder.path() / "other.png"));
    }
}

}  // namespace
}  // namespace umbrascope
