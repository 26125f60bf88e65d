// Standard error's journal prefixes, with standard error a file of the test's.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "serial/standard_error.h"

namespace volmar {
namespace {

TEST(StandardError, UnderTheJournalEachLineCarriesItsPriority) {
    char name[] = "/tmp/volmarstderrXXXXXX";
    const int file = ::mkstemp(name);
    ASSERT_GE(file, 0);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file, STDERR_FILENO);

    struct stat st{};
    ::fstat(file, &st);
    ::setenv("JOURNAL_STREAM", "1:2", 1);
    const bool other = JournalStreamIsStandardError();
    ::setenv("JOURNAL_STREAM",
             (std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)).c_str(), 1);
    const bool same = JournalStreamIsStandardError();
    ::unsetenv("JOURNAL_STREAM");

    WriteStandardError("plain");
    SetJournalPrefixes(true);
    WriteStandardError("port lost\nwhat to do", TPriority::Error);
    WriteStandardError("dropped", TPriority::Warning);
    WriteStandardError("settings in /x", TPriority::Note);
    SetJournalPrefixes(false);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);

    std::string written(4096, '\0');
    written.resize(static_cast<std::size_t>(::pread(file, written.data(), written.size(), 0)));
    ::close(file);
    std::remove(name);
    EXPECT_FALSE(other);
    EXPECT_TRUE(same);
    EXPECT_EQ(written, "plain\n<3>port lost\n<3>what to do\n<4>dropped\n<6>settings in /x\n");
}

} // namespace
} // namespace volmar
