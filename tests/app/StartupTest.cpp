#include "app/Startup.h"
#include "AppTestSupport.h"
#include "ScriptedMsgBox.h"
#include "app/InstanceLock.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "common/modMain.h"

#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTest>

namespace {

// The real program, started from its application folder, as the copy that is
// already running.
class RunningCopy {
public:
    explicit RunningCopy(const QString& runtimeDir)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtimeDir);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(CORVANE_APP_DIR "/corvane"), {});
    }
    ~RunningCopy()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    // True once the copy holds its lock. The holder writes its process id into
    // the lock file; probing with a lock of our own could make the copy itself
    // believe another one was running.
    bool holdsLock(const QString& folder)
    {
        const QString path = InstanceLock::lockFileFor(folder);
        const QByteArray pid = QByteArray::number(process.processId()) + '\n';
        const bool written = QTest::qWaitFor(
            [&] {
                QFile f(path);
                return process.state() == QProcess::Running && f.open(QIODevice::ReadOnly) && f.readAll() == pid;
            },
            20000);
        InstanceLock probe;
        return written && probe.tryAcquire(folder) == InstanceLock::Result::HeldElsewhere;
    }
    QProcess process;
};

} // namespace

TEST_F(ShellTest, initControlLibraryReportsSuccess)
{
    EXPECT_TRUE(modMain::InitControlLibrary());
}

TEST_F(ShellTest, firstStartShowsTheSplashAndComposesTheCaptionBeforeTheMenuLoads)
{
    ASSERT_EQ(modMain::AppCaption(), ""); // nothing composed it yet in this process
    QString captionWhenMenuLoaded;
    modMain::SetMainMenuHandler([&] {
        captionWhenMenuLoaded = modMain::AppCaption();
        frmMain::ShowMenu();
    });
    ScriptedMsgBox boxes;
    modMain::Main();
    EXPECT_TRUE(boxes.calls().empty());
    ASSERT_EQ(visibleWindows().size(), 1);
    auto* splash = qobject_cast<frmSplash*>(visibleWindows("frmSplash").value(0));
    ASSERT_NE(splash, nullptr);
    EXPECT_EQ(splash->lblVersion->text(), "v1.0.122 BETA");
    EXPECT_EQ(modMain::AppCaption(), "Corvane - File Migration Tool v1.0 BETA");
    EXPECT_EQ(frmMain::Instance(), nullptr); // the menu waits for the splash

    ASSERT_TRUE(QTest::qWaitForWindowExposed(splash));
    QTest::keyClick(splash, Qt::Key_Space);
    ASSERT_NE(frmMain::Instance(), nullptr);
    EXPECT_EQ(captionWhenMenuLoaded, "Corvane - File Migration Tool v1.0 BETA");
    EXPECT_EQ(frmMain::Instance()->windowTitle(), "Corvane - File Migration Tool v1.0 BETA");
}

TEST_F(ShellTest, secondCopyIsRefusedWhileTheProgramRunsAndAKilledCopyDoesNotBlock)
{
    const QString appDir = QStringLiteral(CORVANE_APP_DIR);
    modMain::SetApplicationFolder(appDir);
    // The caption is composed once per process: only a fresh process can show it was left unset.
    const bool captionUnsetBefore = modMain::AppCaption().isEmpty();
    RunningCopy first(runtimeDir.path());
    ASSERT_TRUE(first.holdsLock(appDir)) << "the program took no lock: state " << first.process.state() << ", "
                                         << first.process.errorString().toStdString() << ", exit code "
                                         << first.process.exitCode();

    {
        ScriptedMsgBox boxes{MsgBoxAnswer::OK};
        modMain::Main();
        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_EQ(boxes.calls()[0].text, "Corvane is already running");
        EXPECT_EQ(boxes.calls()[0].title, "Corvane - File Migration Tool v1.0");
        EXPECT_EQ(boxes.calls()[0].style, vbOKOnly); // OK only, no icon
    }
    EXPECT_TRUE(visibleWindows().isEmpty());
    if (captionUnsetBefore) {
        EXPECT_EQ(modMain::AppCaption(), "");
    }
    EXPECT_EQ(first.process.state(), QProcess::Running); // the running copy is not disturbed

    // Killed, it cannot clean up: its lock file stays behind, and must not count.
    first.process.kill();
    ASSERT_TRUE(first.process.waitForFinished(5000));
    ASSERT_TRUE(QFile::exists(InstanceLock::lockFileFor(appDir)));
    ScriptedMsgBox none;
    modMain::Main();
    EXPECT_TRUE(none.calls().empty());
    EXPECT_EQ(visibleWindows("frmSplash").size(), 1);
    EXPECT_EQ(modMain::AppCaption(), "Corvane - File Migration Tool v1.0 BETA");
    modMain::SetApplicationFolder(QString());
}

TEST_F(ShellTest, copiesInOtherApplicationFoldersRunSideBySide)
{
    QTemporaryDir otherFolder;
    InstanceLock other;
    ASSERT_EQ(other.tryAcquire(otherFolder.path()), InstanceLock::Result::Acquired);
    ScriptedMsgBox boxes;
    modMain::Main();
    EXPECT_TRUE(boxes.calls().empty());
    EXPECT_EQ(visibleWindows("frmSplash").size(), 1);
}
