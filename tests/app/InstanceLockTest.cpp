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
    void TearDown() override
    {
        if (saved.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", saved);
    }
    QTemporaryDir runtime;
    QTemporaryDir app;
    QByteArray saved;
};

} // namespace

TEST_F(Lock, secondHolderIsRefusedUntilTheFirstLetsGo)
{
    InstanceLock first;
    InstanceLock second;
    ASSERT_EQ(first.tryAcquire(app.path()), InstanceLock::Result::Acquired);
    EXPECT_EQ(second.tryAcquire(app.path()), InstanceLock::Result::HeldElsewhere);
    EXPECT_FALSE(second.held());
    first.release();
    EXPECT_EQ(second.tryAcquire(app.path()), InstanceLock::Result::Acquired);
    EXPECT_TRUE(InstanceLock::lockFileFor(app.path()).startsWith(runtime.path() + "/"));
}

TEST_F(Lock, sameFolderSpelledDifferentlyIsTheSameLock)
{
    QTemporaryDir links;
    const QString viaLink = links.path() + "/app-link";
    ASSERT_TRUE(QFile::link(app.path(), viaLink));
    InstanceLock first;
    ASSERT_EQ(first.tryAcquire(app.path() + "/"), InstanceLock::Result::Acquired);
    InstanceLock second;
    EXPECT_EQ(second.tryAcquire(viaLink), InstanceLock::Result::HeldElsewhere);
    EXPECT_EQ(second.tryAcquire(app.path() + "/./"), InstanceLock::Result::HeldElsewhere);
    QTemporaryDir elsewhere;
    EXPECT_EQ(second.tryAcquire(elsewhere.path()), InstanceLock::Result::Acquired);
}

TEST_F(Lock, programsStartedByTheHolderDoNotKeepTheLock)
{
    InstanceLock first;
    ASSERT_EQ(first.tryAcquire(app.path()), InstanceLock::Result::Acquired);
    QProcess child;
    child.start("sleep", {"30"});
    ASSERT_TRUE(child.waitForStarted());
    first.release();
    InstanceLock next;
    EXPECT_EQ(next.tryAcquire(app.path()), InstanceLock::Result::Acquired);
    child.kill();
    child.waitForFinished();
}

TEST_F(Lock, aRuntimeFolderOthersCanWriteIsNotTrusted)
{
    ASSERT_TRUE(QFile::setPermissions(runtime.path(), QFileDevice::Permissions(0x7777)));
    const QString path = InstanceLock::lockFileFor(app.path());
    EXPECT_FALSE(path.startsWith(runtime.path() + "/")) << path.toStdString();
    // It falls back to a private folder of its own in the temporary folder.
    if (!path.isEmpty()) {
        EXPECT_TRUE(path.startsWith(QDir::tempPath() + "/corvane-runtime-"));
        InstanceLock lock;
        EXPECT_EQ(lock.tryAcquire(app.path()), InstanceLock::Result::Acquired);
    }
}
