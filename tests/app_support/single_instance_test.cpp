#include "app/single_instance.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include "helper_process.h"
#include "support/qt_pump.h"

namespace volmar {
namespace {

using testing::PumpFor;
using testing::PumpUntil;

const QString Name = QStringLiteral("volmarsim");

// Starts this test binary as another copy of the program in Folder.
void StartHelper(QProcess& Process, const char* Mode, const QString& Folder) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(testing::HelperModeVar), QString::fromLatin1(Mode));
    env.insert(QString::fromLatin1(testing::HelperFolderVar), Folder);
    env.insert(QString::fromLatin1(testing::HelperNameVar), Name);
    Process.setProcessEnvironment(env);
    Process.setProcessChannelMode(QProcess::SeparateChannels);
    Process.start(QCoreApplication::applicationFilePath(), {});
}

// Waits for the helper's end while this copy's event loop keeps running.
bool PumpUntilFinished(QProcess& Process) {
    return PumpUntil([&] { return Process.state() == QProcess::NotRunning; }, 20000);
}

// Sends raw bytes to a listening copy, as any program could.
void SendRaw(const QString& SocketPath, const QByteArray& Bytes) {
    QLocalSocket socket;
    socket.connectToServer(SocketPath);
    ASSERT_TRUE(socket.waitForConnected(5000)) << qPrintable(socket.errorString());
    socket.write(Bytes);
    ASSERT_TRUE(socket.waitForBytesWritten(5000));
    socket.disconnectFromServer();
}

TEST(RuntimeFolder, APrivateFolderOfThisUsersOrNone) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString expected = dir.filePath(QStringLiteral("volmarsim-%1").arg(::getuid()));
    const QByteArray path = QFile::encodeName(expected);
    const auto mode = [&] {
        struct stat st{};
        ::stat(path.constData(), &st);
        return st.st_mode & 07777;
    };
    EXPECT_EQ(PrivateRuntimeFolder(dir.path()), expected);
    EXPECT_EQ(mode(), 0700u);
    ASSERT_EQ(::chmod(path.constData(), 0755), 0);
    EXPECT_EQ(PrivateRuntimeFolder(dir.path()), expected);
    EXPECT_EQ(mode(), 0700u) << "an open folder is closed again";

    QTemporaryDir planted;
    ASSERT_TRUE(planted.isValid());
    ASSERT_TRUE(QFile::link(dir.path(), planted.filePath(QFileInfo(expected).fileName())));
    EXPECT_EQ(PrivateRuntimeFolder(planted.path()), QString()) << "a link is never followed";
    QTemporaryDir file;
    ASSERT_TRUE(file.isValid());
    QFile(file.filePath(QFileInfo(expected).fileName())).open(QIODevice::WriteOnly);
    EXPECT_EQ(PrivateRuntimeFolder(file.path()), QString());
}

TEST(SingleInstance, FirstCopyWinsAndALaterOneAsksItToRaise) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TSingleInstance first(Name, dir.path());
    int raised = 0;
    first.OnRaiseRequest = [&] { ++raised; };
    ASSERT_TRUE(first.IsFirst());
    EXPECT_TRUE(QFileInfo::exists(first.LockPath()));
    EXPECT_TRUE(first.LockPath().startsWith(dir.path()));
    EXPECT_TRUE(first.SocketPath().startsWith(dir.path()));

    TSingleInstance second(Name, dir.path());
    int secondRaised = 0;
    second.OnRaiseRequest = [&] { ++secondRaised; };
    EXPECT_FALSE(second.IsFirst());
    EXPECT_TRUE(PumpUntil([&] { return raised == 1; }, 10000));
    // Asking again neither takes the lock nor raises once more.
    EXPECT_FALSE(second.IsFirst());
    EXPECT_TRUE(first.IsFirst());
    PumpFor(100);
    EXPECT_EQ(raised, 1);
    EXPECT_EQ(secondRaised, 0);
}

TEST(SingleInstance, TheLockGoesWithTheRunningCopy) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto first = std::make_unique<TSingleInstance>(Name, dir.path());
    ASSERT_TRUE(first->IsFirst());
    const QString lockPath = first->LockPath();
    first.reset();
    EXPECT_FALSE(QFileInfo::exists(lockPath));

    TSingleInstance next(Name, dir.path());
    int raised = 0;
    next.OnRaiseRequest = [&] { ++raised; };
    EXPECT_TRUE(next.IsFirst());
    TSingleInstance later(Name, dir.path());
    EXPECT_FALSE(later.IsFirst());
    EXPECT_TRUE(PumpUntil([&] { return raised == 1; }, 10000));
}

TEST(SingleInstance, MakesAMissingFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("run/volmar"));
    TSingleInstance first(Name, folder);
    EXPECT_TRUE(first.IsFirst());
    EXPECT_TRUE(QFileInfo::exists(first.LockPath()));
    TSingleInstance second(Name, folder);
    EXPECT_FALSE(second.IsFirst());
}

TEST(SingleInstance, WithoutAFolderUsesTheRuntimeFolder) {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    ASSERT_FALSE(runtime.isEmpty());
    // A name of its own, so that a simulator running on this desktop is left alone.
    const QString name =
        QStringLiteral("volmarsim-test-%1").arg(QCoreApplication::applicationPid());
    TSingleInstance first(name);
    EXPECT_EQ(QFileInfo(first.LockPath()).absolutePath(), QFileInfo(runtime).absoluteFilePath());
    EXPECT_EQ(QFileInfo(first.SocketPath()).absolutePath(), QFileInfo(runtime).absoluteFilePath());
    EXPECT_TRUE(first.IsFirst());
    EXPECT_TRUE(QFileInfo::exists(first.LockPath()));
    TSingleInstance second(name);
    EXPECT_FALSE(second.IsFirst());
}

TEST(SingleInstance, OtherTrafficIsNoRaiseRequest) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TSingleInstance first(Name, dir.path());
    int raised = 0;
    first.OnRaiseRequest = [&] { ++raised; };
    ASSERT_TRUE(first.IsFirst());

    SendRaw(first.SocketPath(), "hello\n");
    SendRaw(first.SocketPath(), "rais");
    SendRaw(first.SocketPath(), QByteArray(1000, 'x'));
    PumpFor(300);
    EXPECT_EQ(raised, 0);

    SendRaw(first.SocketPath(), TSingleInstance::RaiseRequest);
    EXPECT_TRUE(PumpUntil([&] { return raised == 1; }, 10000));
}

TEST(SingleInstance, NoRaiseHandlerIsNoFault) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TSingleInstance first(Name, dir.path());
    ASSERT_TRUE(first.IsFirst());
    TSingleInstance second(Name, dir.path());
    EXPECT_FALSE(second.IsFirst());
    PumpFor(200);
    // Still serving: a handler set now sees the next request.
    int raised = 0;
    first.OnRaiseRequest = [&] { ++raised; };
    TSingleInstance third(Name, dir.path());
    EXPECT_FALSE(third.IsFirst());
    EXPECT_TRUE(PumpUntil([&] { return raised == 1; }, 10000));
}

TEST(SingleInstance, ACrashedCopyDoesNotBlockTheNextStart) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QProcess crashed;
    StartHelper(crashed, testing::HelperCrash, dir.path());
    ASSERT_TRUE(PumpUntilFinished(crashed));
    ASSERT_EQ(crashed.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(crashed.exitCode(), testing::HelperFirst) << crashed.readAllStandardError().data();

    TSingleInstance next(Name, dir.path());
    // The crashed copy's files are still there.
    ASSERT_TRUE(QFileInfo::exists(next.LockPath()));
    ASSERT_TRUE(QFileInfo::exists(next.SocketPath()));

    int raised = 0;
    next.OnRaiseRequest = [&] { ++raised; };
    EXPECT_TRUE(next.IsFirst());
    // And it listens where the old socket was.
    TSingleInstance later(Name, dir.path());
    EXPECT_FALSE(later.IsFirst());
    EXPECT_TRUE(PumpUntil([&] { return raised == 1; }, 10000));
}

TEST(SingleInstance, ALaterCopyInAnotherProcessRaisesThisOne) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TSingleInstance first(Name, dir.path());
    int raised = 0;
    first.OnRaiseRequest = [&] { ++raised; };
    ASSERT_TRUE(first.IsFirst());

    QProcess later;
    StartHelper(later, testing::HelperSecond, dir.path());
    ASSERT_TRUE(PumpUntilFinished(later));
    EXPECT_EQ(later.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(later.exitCode(), testing::HelperNotFirst) << later.readAllStandardError().data();
    EXPECT_TRUE(PumpUntil([&] { return raised == 1; }, 10000));
}

TEST(SingleInstance, ACopyRunningInAnotherProcessIsRaised) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QProcess running;
    StartHelper(running, testing::HelperHold, dir.path());
    ASSERT_TRUE(running.waitForStarted(10000));
    ASSERT_TRUE(PumpUntil([&] { return running.canReadLine() ||
                                       running.state() == QProcess::NotRunning; },
                          20000));
    ASSERT_EQ(running.readLine(), QByteArray("ready\n")) << running.readAllStandardError().data();

    TSingleInstance later(Name, dir.path());
    EXPECT_FALSE(later.IsFirst());
    ASSERT_TRUE(PumpUntilFinished(running));
    EXPECT_EQ(running.readAllStandardOutput(), QByteArray("raised\n"));
    EXPECT_EQ(running.exitCode(), testing::HelperFirst);

    // Its lock went with it.
    TSingleInstance next(Name, dir.path());
    EXPECT_TRUE(next.IsFirst());
}

TEST(SingleInstance, AnOldLockOfARunningCopyStillHolds) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QProcess running;
    StartHelper(running, testing::HelperHold, dir.path());
    ASSERT_TRUE(running.waitForStarted(10000));
    ASSERT_TRUE(PumpUntil([&] { return running.canReadLine() ||
                                       running.state() == QProcess::NotRunning; },
                          20000));
    ASSERT_EQ(running.readLine(), QByteArray("ready\n")) << running.readAllStandardError().data();

    // A copy started days ago.
    QFile lock(dir.filePath(Name + QStringLiteral(".lock")));
    ASSERT_TRUE(lock.open(QIODevice::ReadWrite));
    ASSERT_TRUE(lock.setFileTime(QDateTime::currentDateTime().addDays(-3),
                                 QFileDevice::FileModificationTime));
    lock.close();

    TSingleInstance later(Name, dir.path());
    EXPECT_FALSE(later.IsFirst());
    ASSERT_TRUE(PumpUntilFinished(running));
    EXPECT_EQ(running.readAllStandardOutput(), QByteArray("raised\n"));
}

TEST(RaiseWindow, RestoresAMinimisedWindow) {
    QWidget window;
    window.resize(200, 100);
    window.showMinimized();
    ASSERT_TRUE(window.isMinimized());
    RaiseWindow(&window);
    EXPECT_FALSE(window.isMinimized());
    EXPECT_FALSE(window.isMaximized());
    EXPECT_TRUE(window.isVisible());
}

TEST(RaiseWindow, KeepsTheMaximisedState) {
    QWidget window;
    window.showMaximized();
    PumpFor(20);
    window.showMinimized();
    ASSERT_TRUE(window.isMinimized());
    RaiseWindow(&window);
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.isMaximized());
    EXPECT_TRUE(window.isVisible());
}

TEST(RaiseWindow, ShowsAHiddenWindow) {
    QWidget window;
    window.resize(200, 100);
    ASSERT_FALSE(window.isVisible());
    RaiseWindow(&window);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
}

} // namespace
} // namespace volmar
