#include "app/Startup.h"
#include "AppTestSupport.h"
#include "ScriptedMsgBox.h"
#include "app/InstanceLock.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "common/modMain.h"

#include <QFile>
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
    // True once the copy has written its process id into its lock file.
    bool holdsLock(const QString& folder)
    {
        const QByteArray pid = QByteArray::number(process.processId()) + '\n';
        return QTest::qWaitFor(
            [&] {
                QFile f(InstanceLock::lockFileFor(folder));
                return f.open(QIODevice::ReadOnly) && f.readAll() == pid;
            },
            20000);
    }
    QProcess process;
};

} // namespace

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
    auto* splash = qobject_cast<frmSplash*>(visibleWindows("frmSplash").value(0));
    ASSERT_NE(splash, nullptr);
    EXPECT_EQ(modMain::AppCaption(), "Corvane - File Migration Tool v1.0 BETA");
    EXPECT_EQ(frmMain::Instance(), nullptr); // the menu waits for the splash

    ASSERT_TRUE(QTest::qWaitForWindowExposed(splash));
    QTest::keyClick(splash, Qt::Key_Space);
    ASSERT_NE(frmMain::Instance(), nullptr);
    EXPECT_EQ(captionWhenMenuLoaded, "Corvane - File Migration Tool v1.0 BETA");
}

TEST_F(ShellTest, secondCopyIsRefusedWhileTheProgramRunsAndAKilledCopyDoesNotBlock)
{
    const QString appDir = QStringLiteral(CORVANE_APP_DIR);
    modMain::SetApplicationFolder(appDir);
    // The caption is composed once per process: only a fresh process can show it was left unset.
    const bool captionUnsetBefore = modMain::AppCaption().isEmpty();
    RunningCopy first(runtimeDir.path());
    ASSERT_TRUE(first.holdsLock(appDir)) << "the program took no lock: " << first.process.errorString().toStdString();

    {
        ScriptedMsgBox boxes{MsgBoxAnswer::OK};
        modMain::Main();
        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_EQ(boxes.calls()[0].text, "Corvane is already running");
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
    modMain::SetApplicationFolder(QString());
}
