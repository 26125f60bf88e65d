#include "app/data_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace volmar {
namespace {

struct DataFolderTest : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("bin")));
    }
    QString Program() const { return dir.filePath(QStringLiteral("bin")); }
    QString PerUser() const { return dir.filePath(QStringLiteral("home/.local/share/volmarsim")); }

    QTemporaryDir dir;
};

TEST_F(DataFolderTest, AWritableProgramFolderKeepsTheFiles) {
    const TDataFolder choice = ChooseDataFolder(QString(), Program(), PerUser());
    EXPECT_EQ(choice.Path, Program());
    EXPECT_FALSE(choice.PerUser);
    EXPECT_FALSE(QFileInfo::exists(PerUser())) << "nothing made in the user's folder";
}

TEST_F(DataFolderTest, AnUnwritableProgramFolderSendsThemToThePerUserFolder) {
    const TDataFolder choice = ChooseDataFolder(QString(), Program(), PerUser(),
                                                [this](const QString& F) { return F != Program(); });
    EXPECT_EQ(choice.Path, PerUser());
    EXPECT_TRUE(choice.PerUser);
    EXPECT_TRUE(QFileInfo(PerUser()).isDir()) << "made on first start";
    EXPECT_TRUE(choice.Error.isEmpty());
}

TEST_F(DataFolderTest, AnInstalledProgramsFolderIsNeverUsedEvenWhenWritable) {
    const TDataFolder choice =
        ChooseDataFolder(QString(), QStringLiteral("/usr/bin"), PerUser(), [](const QString&) { return true; });
    EXPECT_EQ(choice.Path, PerUser()) << "root may write /usr/bin, but the files do not belong there";
}

TEST_F(DataFolderTest, TheNamedFolderWins) {
    const QString named = dir.filePath(QStringLiteral("elsewhere/machine2"));
    const TDataFolder choice = ChooseDataFolder(named + QStringLiteral("/"), Program(), PerUser(),
                                                [this](const QString& F) { return F != Program(); });
    EXPECT_EQ(choice.Path, named);
    EXPECT_FALSE(choice.PerUser);
    EXPECT_TRUE(QFileInfo(named).isDir());
}

TEST_F(DataFolderTest, AFolderThatCannotBeMadeOrWrittenIsReported) {
    QFile file(dir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const TDataFolder choice =
        ChooseDataFolder(file.fileName() + QStringLiteral("/sub"), Program(), PerUser());
    EXPECT_TRUE(choice.Error.contains(file.fileName())) << qPrintable(choice.Error);
    EXPECT_TRUE(choice.Error.contains(QStringLiteral("Not a directory"))) << qPrintable(choice.Error);

    const TDataFolder closed =
        ChooseDataFolder(Program(), Program(), PerUser(), [](const QString&) { return false; });
    EXPECT_TRUE(closed.Error.contains(QStringLiteral("cannot be written"))) << qPrintable(closed.Error);
}

TEST_F(DataFolderTest, WritabilityIsWhatThisUserCanDo) {
    // Root may write a folder its mode bits close: the answer must follow
    // what happens, not the bits.
    for (const mode_t mode : {0755, 0555}) {
        ASSERT_EQ(::chmod(QFile::encodeName(Program()).constData(), mode), 0);
        QFile probe(QDir(Program()).filePath(QStringLiteral("probe")));
        const bool made = probe.open(QIODevice::WriteOnly);
        probe.remove();
        EXPECT_EQ(UserMayWrite(Program()), made) << "mode " << std::oct << mode;
    }
    ::chmod(QFile::encodeName(Program()).constData(), 0755);
}

TEST_F(DataFolderTest, OneInstanceNamePerFolder) {
    const QString spelledOtherwise = dir.filePath(QStringLiteral("bin/../bin/"));
    EXPECT_EQ(InstanceName(Program()), InstanceName(spelledOtherwise));
    EXPECT_NE(InstanceName(Program()), InstanceName(PerUser()));
}

} // namespace
} // namespace volmar
