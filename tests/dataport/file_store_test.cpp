#include "dataport/file_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

#include "support/file_fixtures.h"

namespace volmar {
namespace {

namespace fs = std::filesystem;

class FileStore : public ::testing::Test {
protected:
    std::string Path(const std::string& Name = "COUNTERS.DAT") const {
        return (FDir / Name).string();
    }
    void Put(const std::string& Name, const std::string& Bytes) const {
        std::ofstream(FDir / Name, std::ios::binary) << Bytes;
    }
    std::string Get(const std::string& Name) const {
        std::ostringstream bytes;
        bytes << std::ifstream(FDir / Name, std::ios::binary).rdbuf();
        return bytes.str();
    }
    std::set<std::string> Names(const std::string& Folder = ".") const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(FDir / Folder))
            names.insert(entry.path().filename().string());
        return names;
    }

    const test::TScratchFolder FScratch;
    const fs::path& FDir = FScratch.Path();
};

TEST_F(FileStore, FailedSaveKeepsTheOldFileAndLeavesNoTemporary) {
    struct Case {
        std::string Name;
        rlim_t SizeLimit;
        std::string Error;
    };
    // A full disk; and a name so long that no temporary can be named beside it.
    for (const Case& c : {Case{"COUNTERS.DAT", 4, "Unable to write to "},
                          Case{std::string(250, 'C'), RLIM_INFINITY, "Cannot create file "}}) {
        Put(c.Name, "old contents");
        EXPECT_EQ(test::ErrorUnderLimit<EFileStoreError>(RLIMIT_FSIZE, c.SizeLimit, [&] {
                      ReplaceFile(Path(c.Name), "new contents, more than the disk takes");
                  }),
                  c.Error + Path(c.Name));
        EXPECT_EQ(Get(c.Name), "old contents");
        EXPECT_EQ(Names(), std::set<std::string>{c.Name});
        fs::remove(Path(c.Name));
    }
}

TEST_F(FileStore, LinksAreWrittenThroughToTheirTargets) {
    fs::create_directory(FDir / "data");
    Put("data/real.dat", "old");
    fs::create_symlink("data/real.dat", FDir / "COUNTERS.DAT");
    fs::create_symlink("data/absent.ini", FDir / "VolmarSim.Ini");

    ReplaceFile(Path(), "new");
    ReplaceFile(Path("VolmarSim.Ini"), "[Comms]\n");

    EXPECT_TRUE(fs::is_symlink(FDir / "COUNTERS.DAT"));
    EXPECT_TRUE(fs::is_symlink(FDir / "VolmarSim.Ini"));
    EXPECT_EQ(Get("data/real.dat"), "new");
    EXPECT_EQ(Get("data/absent.ini"), "[Comms]\n");
    EXPECT_EQ(Names("data"), (std::set<std::string>{"absent.ini", "real.dat"}));
}

// A FIFO where the file would go is someone else's: refused, and left as it is.
TEST_F(FileStore, AFifoIsNeverReplaced) {
    ASSERT_EQ(::mkfifo(Path().c_str(), 0600), 0);
    fs::create_symlink("COUNTERS.DAT", FDir / "linked.dat");
    for (const std::string name : {"COUNTERS.DAT", "linked.dat"}) {
        std::string error;
        try {
            ReplaceFile(Path(name), "counts");
        } catch (const EFileStoreError& e) {
            error = e.what();
        }
        EXPECT_EQ(error, "Unable to write to " + Path(name));
    }
    EXPECT_TRUE(fs::is_fifo(Path()));
    EXPECT_EQ(Names(), (std::set<std::string>{"COUNTERS.DAT", "linked.dat"}));
}

TEST_F(FileStore, AReplacedFileKeepsItsPermissions) {
    Put("COUNTERS.DAT", "old");
    fs::permissions(Path(), fs::perms(0640));
    ReplaceFile(Path(), "new");
    EXPECT_EQ(fs::status(Path()).permissions(), fs::perms(0640));
}

TEST_F(FileStore, LeftoverTemporariesAreRemovedAndNothingElse) {
    fs::create_directory(FDir / "data");
    Put("data/real.dat", "counts");
    fs::create_symlink("data/real.dat", FDir / "COUNTERS.DAT");
    // A save killed midway, by the signal of the file size limit, leaves its temporary behind.
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_DFL);
        rlimit limit{0, 0};
        ::setrlimit(RLIMIT_CORE, &limit);
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 4;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            ReplaceFile(Path(), "more than four bytes");
        } catch (...) {
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
    ASSERT_EQ(Names("data").size(), 2u);

    const std::set<std::string> decoys = {".COUNTERS.DAT.tmp-Ab12C", ".COUNTERS.DAT.tmp-Ab12Cd7",
                                          ".COUNTERS.DAT.tmp-A_12Cd", "COUNTERS.DAT.tmp-Ab12Cd",
                                          ".OTHER.DAT.tmp-Ab12Cd"};
    for (const std::string& name : decoys) Put(name, "keep");
    fs::create_directory(FDir / ".COUNTERS.DAT.tmp-Folder");
    fs::create_symlink("data/real.dat", FDir / ".COUNTERS.DAT.tmp-Linked");
    const std::set<std::string> kept = Names();
    Put(".COUNTERS.DAT.tmp-x9Y8z7", "");  // from before the file became a link

    RemoveLeftoverTemporaries(Path());

    EXPECT_EQ(Names("data"), std::set<std::string>{"real.dat"});
    EXPECT_EQ(Get("data/real.dat"), "counts");
    EXPECT_EQ(Names(), kept);
}

TEST_F(FileStore, KeepAsideNamesTheCopyAndNeverReplacesOne) {
    struct InUtc {
        std::optional<std::string> Saved;
        InUtc() {
            if (const char* zone = std::getenv("TZ")) Saved = zone;
            ::setenv("TZ", "UTC0", 1);
            ::tzset();
        }
        ~InUtc() {
            Saved ? ::setenv("TZ", Saved->c_str(), 1) : ::unsetenv("TZ");
            ::tzset();
        }
    } utc;
    constexpr std::time_t kWhen = 1700000000;  // 2023-11-14 22:13:20 UTC
    const std::string first = Path() + ".unreadable-20231114-221320";

    Put("COUNTERS.DAT", "one");
    EXPECT_EQ(KeepAside(Path(), "unreadable", kWhen), first);
    Put("COUNTERS.DAT", "two");
    EXPECT_EQ(KeepAside(Path(), "unreadable", kWhen), first + "-2");
    fs::create_symlink("elsewhere", Path());
    EXPECT_EQ(KeepAside(Path(), "unreadable", kWhen), first + "-3");

    EXPECT_EQ(Get(fs::path(first).filename()), "one");
    EXPECT_EQ(Get(fs::path(first + "-2").filename()), "two");
    EXPECT_TRUE(fs::is_symlink(first + "-3")) << "the link itself is kept aside";
    EXPECT_THROW(KeepAside(Path(), "unreadable", kWhen), EFileStoreError) << "nothing left";
}

TEST_F(FileStore, ReadsOnlyRegularFilesAndAtMostTheLimit) {
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    Put("COUNTERS.DAT", big);
    EXPECT_EQ(ReadRegularFile(Path(), 150001), big.substr(0, 150001));
    EXPECT_EQ(ReadRegularFile(Path(), 1 << 20), big);
    EXPECT_EQ(ReadRegularFile(Path("absent"), 100), std::nullopt);
    fs::create_symlink("absent", FDir / "dangling");
    EXPECT_EQ(ReadRegularFile(Path("dangling"), 100), std::nullopt);

    fs::create_symlink("/dev/zero", FDir / "zeros");
    const test::TFifo fifo(Path("fifo"));
    for (const std::string& special : {Path("zeros"), Path("fifo"), FDir.string()}) {
        try {
            ReadRegularFile(special, 100);
            ADD_FAILURE() << special << " was read";
        } catch (const EFileStoreError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Cannot open file " + special + ": not a regular file");
        }
    }
}

} // namespace
} // namespace volmar
