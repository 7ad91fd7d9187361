#include "ScopedEnv.h"
#include "Screenshot.h"
#include "ScriptedMsgBox.h"
#include "TempAppFolder.h"
#include "app/InstanceLock.h"
#include "app/PictureButton.h"
#include "app/Startup.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "common/modMain.h"
#include "settings/frmSetup.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <qpa/qwindowsysteminterface.h>

#include <gtest/gtest.h>

namespace {

// A private runtime folder for the instance lock, the real main menu behind
// modMain::ShowMainMenu(), and no window left over for the next test.
class ShellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        env.set("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path())); // programs started here inherit it
        frmMain::InstallAsMainMenu();
    }
    void TearDown() override
    {
        modMain::SetMainMenuHandler(nullptr);
        QList<QPointer<QWidget>> windows;
        for (QWidget* w : QApplication::topLevelWidgets())
            windows.append(w);
        for (const QPointer<QWidget>& w : std::as_const(windows))
            delete w.data();
        modMain::ReleaseInstanceLock();
        frmMain::SetToolFactories(frmMain::DefaultToolFactories());
    }
    // Visible top-level windows with the given object name (any name when empty).
    static QList<QWidget*> visibleWindows(const QString& objectName = QString())
    {
        QList<QWidget*> out = QApplication::topLevelWidgets();
        out.removeIf(
            [&](QWidget* w) { return !w->isVisible() || !(objectName.isEmpty() || w->objectName() == objectName); });
        return out;
    }
    QTemporaryDir runtimeDir;
    ScopedEnv env;
};

class MainMenu : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        modMain::ComposeAppCaption();
        frmMain::ShowMenu();
        menu = frmMain::Instance();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    }
    QPointer<frmMain> menu;
};

using Screens = ShellTest;

// A tool form as every tool is built: deletes itself on close and shows the menu again.
struct StandInTool : QWidget {
    explicit StandInTool(const char* name) { setObjectName(name), setAttribute(Qt::WA_DeleteOnClose); }
    void closeEvent(QCloseEvent*) override { modMain::ShowMainMenu(); }
    static QWidget* make(const char* name) { return new StandInTool(name); }
};

// A close-box click as the window system delivers it: only those count as the operator's.
void clickCloseBox(QWidget* window)
{
    QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(window->windowHandle());
}

// The cursor a picture button shows while the pointer is over it.
QCursor hoverCursor(PictureButton* button)
{
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(button, &enter);
    const QCursor cursor = button->cursor();
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(button, &leave);
    return cursor;
}

// Pixels other than the background at a widget's place in its rendered window.
int drawnPixels(const QImage& shot, const QWidget* w, QRgb background)
{
    const QRect r(w->mapTo(w->window(), QPoint(0, 0)), w->size());
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += shot.pixel(x, y) != background;
    return n;
}

} // namespace

// The real program runs as the first copy; this process is the second start.
TEST_F(ShellTest, secondCopyIsRefusedAKilledCopyDoesNotBlockAndTheSplashHandsOverOnceByTimerOrKey)
{
    const QString appDir = QStringLiteral(CORVANE_APP_DIR);
    modMain::SetApplicationFolder(appDir);
    QProcess first;
    first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    first.start(appDir + "/corvane", {});
    const QByteArray pid = QByteArray::number(first.processId()) + '\n'; // in its lock file once it runs
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            QFile f(InstanceLock::lockFileFor(appDir));
            return f.open(QIODevice::ReadOnly) && f.readAll() == pid;
        },
        20000))
        << "the program took no lock: " << first.errorString().toStdString();
    {
        ScriptedMsgBox boxes{MsgBoxAnswer::OK};
        modMain::Main();
        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_EQ(boxes.calls()[0].text, "Corvane is already running");
    }
    EXPECT_TRUE(visibleWindows().isEmpty());
    EXPECT_EQ(first.state(), QProcess::Running); // the running copy is not disturbed

    // Killed, it cannot clean up: its lock file stays behind, and must not count.
    first.kill();
    ASSERT_TRUE(first.waitForFinished(5000));
    ASSERT_TRUE(QFile::exists(InstanceLock::lockFileFor(appDir)));
    QStringList captionsAtMenuLoad;
    modMain::SetMainMenuHandler([&] {
        captionsAtMenuLoad << modMain::AppCaption();
        frmMain::ShowMenu();
    });
    ScriptedMsgBox none; // any box fails the test
    modMain::Main();
    QPointer<QWidget> splash = visibleWindows("frmSplash").value(0);
    ASSERT_FALSE(splash.isNull());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(splash));
    QTest::mouseClick(splash, Qt::LeftButton);
    for (Qt::Key key : {Qt::Key_Shift, Qt::Key_Control, Qt::Key_Left, Qt::Key_F1})
        QTest::keyClick(splash, key);
    QTest::qWait(50);
    EXPECT_EQ(frmMain::Instance(), nullptr);                             // none of these hands over
    EXPECT_TRUE(QTest::qWaitFor([&] { return splash.isNull(); }, 6000)); // the timer does
    EXPECT_EQ(captionsAtMenuLoad, QStringList{"Corvane - File Migration Tool v1.0 BETA"});

    // A character key, even Escape, hands over at once, and the timer adds nothing after it.
    frmMain::Instance()->hide();
    splash = new frmSplash;
    splash->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(splash));
    QTest::keyClick(splash, Qt::Key_Escape);
    EXPECT_EQ(captionsAtMenuLoad.size(), 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return splash.isNull(); }, 2000));
    QTest::qWait(3300);
    EXPECT_EQ(captionsAtMenuLoad.size(), 2);
    EXPECT_EQ(visibleWindows().size(), 1);
}

TEST_F(MainMenu, pictureButtonsShowTheHandOnHoverAndOpenToolsThatBringTheMenuBack)
{
    const std::tuple<PictureButton*, QString, QString> buttons[] = {
        {menu->imgSettings, "Click here to update settings.", "frmSetup"},
        {menu->imgMigrate, "Click here to migrate files.", "frmMigrate"},
        {menu->imgUpdateAD, "Click here to update Active Directory", "frmLDAPUpdate"},
        {menu->imgAbout, "Click here to find out more.", "frmAbout"}};
    modMain::SetApplicationFolder(QStringLiteral(CORVANE_APP_DIR)); // the hand cursor file is read from here
    for (const auto& [button, tip, name] : buttons) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(button->toolTip(), tip);
        const QCursor cursor = hoverCursor(button);
        ASSERT_EQ(cursor.shape(), Qt::BitmapCursor);
        EXPECT_EQ(cursor.hotSpot(), QPoint(12, 1));
    }

    TempAppFolder app; // the real settings form reads from here
    frmMain::SetToolFactories({std::bind_front(&StandInTool::make, "frmMigrate"),
                               std::bind_front(&StandInTool::make, "frmLDAPUpdate"),
                               std::bind_front(&StandInTool::make, "frmAbout")});
    for (const auto& [button, tip, name] : buttons) {
        SCOPED_TRACE(name.toStdString());
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_FALSE(menu->isVisible());
        const QList<QWidget*> shown = visibleWindows();
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(shown[0]->objectName(), name);
        QPointer<QWidget> tool = shown[0];
        tool->close();
        EXPECT_TRUE(QTest::qWaitFor([&] { return tool.isNull(); }, 2000));
        EXPECT_TRUE(menu->isVisible());
        EXPECT_EQ(frmMain::Instance(), menu.data());
    }
}

TEST_F(MainMenu, exitAnsweredNoKeepsEverythingYesClosesEveryFormAndEndsAndAProgramCloseAsksNothing)
{
    QPointer<QWidget> other = new StandInTool("frmOther");
    other->show();
    QPointer<QWidget> hidden = new StandInTool("frmHidden"); // loaded but not shown
    {
        ScriptedMsgBox boxes{MsgBoxAnswer::No};
        clickCloseBox(menu);
        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_EQ(boxes.calls()[0].text, "Are you sure you want to Exit?");
        QTest::qWait(20);
        ASSERT_FALSE(menu.isNull());
        EXPECT_TRUE(menu->isVisible());
        EXPECT_TRUE(other->isVisible());
    }
    {
        ScriptedMsgBox boxes{MsgBoxAnswer::Yes};
        // The program's event loop ends once its last window has closed.
        QTimer::singleShot(0, [&] { clickCloseBox(menu); });
        QTimer::singleShot(10000, [] { QApplication::exit(99); });
        EXPECT_EQ(QApplication::exec(), 0) << "the program did not end";
        EXPECT_EQ(boxes.calls().size(), 1u);
        EXPECT_TRUE(other.isNull());
        EXPECT_TRUE(hidden.isNull());
        EXPECT_TRUE(QTest::qWaitFor([&] { return menu.isNull(); }, 2000));
        EXPECT_EQ(frmMain::Instance(), nullptr);
    }
    ScriptedMsgBox none; // any box fails the test
    frmMain::ShowMenu();
    menu = frmMain::Instance();
    EXPECT_TRUE(menu->close());
    EXPECT_TRUE(QTest::qWaitFor([&] { return menu.isNull(); }, 2000));
}

// Each window is rendered to a picture (saved when scripts/screenshots.sh asks);
// its pictures are drawn and the settings form's error labels show.
TEST_F(Screens, splashMainMenuAndSettingsFormRenderWithPicturesDrawnAndErrorLabelsShown)
{
    modMain::ComposeAppCaption();
    TempAppFolder app;
    auto* splash = new frmSplash;
    splash->Timer1->stop(); // hold the picture still
    splash->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(splash));
    QImage shot = renderWindow(splash, "frmSplash");
    EXPECT_GT(drawnPixels(shot, splash->Image1, splash->palette().color(QPalette::Window).rgb()), 1000);

    frmMain::ShowMenu();
    frmMain* menu = frmMain::Instance();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    shot = renderWindow(menu, "frmMain");
    for (QWidget* w : {static_cast<QWidget*>(menu->Image1), static_cast<QWidget*>(menu->imgAbout)})
        EXPECT_GT(drawnPixels(shot, w, qRgb(255, 255, 255)), 1000) << w->objectName().toStdString();

    auto* form = new frmSetup;
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    QTest::mouseClick(form->cmdLDAPConnect, Qt::LeftButton); // two failed checks: both error labels up
    form->txtUsername->setText("Domain Admins");
    QTest::mouseClick(form->cmdLDAPConnect, Qt::LeftButton);
    renderWindow(form, "frmSetup-errors");
    ASSERT_TRUE(form->lblLDAPPassErr->isVisible());
}
