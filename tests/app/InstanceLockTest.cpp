#include "app/InstanceLock.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class Lock : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }
    void TearDown() override { saved.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", saved); }
    QTemporaryDir runtime;
    QTemporaryDir app;
    QByteArray saved;
};

} // namespace

TEST_F(Lock, secondHolderOfTheSameFolderHoweverSpelledIsRefusedUntilTheFirstLetsGo)
{
    QTemporaryDir links;
    ASSERT_TRUE(QFile::link(app.path(), links.path() + "/app-link"));
    InstanceLock first;
    InstanceLock second;
    ASSERT_EQ(first.tryAcquire(app.path() + "/"), InstanceLock::Result::Acquired);
    EXPECT_EQ(second.tryAcquire(app.path()), InstanceLock::Result::HeldElsewhere);
    EXPECT_EQ(second.tryAcquire(links.path() + "/app-link"), InstanceLock::Result::HeldElsewhere);
    EXPECT_EQ(second.tryAcquire(app.path() + "/./"), InstanceLock::Result::HeldElsewhere);
    EXPECT_EQ(InstanceLock().tryAcquire(links.path()), InstanceLock::Result::Acquired); // another folder
    // A program started by the holder does not keep the lock.
    QProcess child;
    child.start("sleep", {"30"});
    ASSERT_TRUE(child.waitForStarted());
    first.release();
    EXPECT_EQ(second.tryAcquire(app.path()), InstanceLock::Result::Acquired);
    EXPECT_TRUE(InstanceLock::lockFileFor(app.path()).startsWith(runtime.path() + "/"));
    child.kill();
    child.waitForFinished();
}

TEST_F(Lock, aRuntimeFolderOthersCanWriteIsNotTrusted)
{
    ASSERT_TRUE(QFile::setPermissions(runtime.path(), QFileDevice::Permissions(0x7777)));
    const QString path = InstanceLock::lockFileFor(app.path());
    EXPECT_FALSE(path.startsWith(runtime.path() + "/")) << path.toStdString();
    if (!path.isEmpty()) {
        EXPECT_TRUE(path.startsWith(QDir::tempPath() + "/corvane-runtime-"));
    }
}
