#include "app/frmSplash.h"
#include "AppTestSupport.h"
#include "app/frmMain.h"
#include "common/modMain.h"

#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QTimer>

namespace {

class Splash : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        modMain::ComposeAppCaption();
        modMain::SetMainMenuHandler([this] {
            ++menuShown;
            frmMain::ShowMenu();
        });
        splash = new frmSplash;
        splash->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(splash));
    }
    bool splashGone()
    {
        return QTest::qWaitFor([&] { return splash.isNull(); }, 2000);
    }
    QPointer<frmSplash> splash;
    int menuShown = 0;
};

} // namespace

TEST_F(Splash, showsTitleAndVersionInABorderlessWindow)
{
    EXPECT_EQ(splash->size(), QSize(486, 111));
    EXPECT_TRUE(splash->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(splash->Label1->text(), "Corvane - File Migration Tool");
    EXPECT_EQ(splash->lblTitle2->text(), "including fix permissions and fast migration technology.");
    EXPECT_EQ(splash->lblVersion->text(), "v1.0.122 BETA");
    EXPECT_TRUE(splash->lblVersion->alignment() & Qt::AlignRight);
    ASSERT_NE(splash->Image1->pixmap().isNull(), true);
    EXPECT_EQ(splash->Image1->pixmap().size(), QSize(64, 64));
    EXPECT_EQ(splash->Timer1->interval(), 3000);
    EXPECT_TRUE(splash->Timer1->isActive());
    EXPECT_EQ(menuShown, 0);
}

TEST_F(Splash, timerBringsTheMenuAfterThreeSecondsAndTheSplashGoes)
{
    QTest::mouseClick(splash, Qt::LeftButton); // clicks do nothing
    EXPECT_EQ(menuShown, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return menuShown > 0; }, 6000));
    EXPECT_TRUE(splashGone());
    ASSERT_NE(frmMain::Instance(), nullptr);
    EXPECT_TRUE(frmMain::Instance()->isVisible());
    EXPECT_EQ(visibleWindows().size(), 1);
    EXPECT_EQ(menuShown, 1);
}

TEST_F(Splash, characterKeyBringsTheMenuAtOnceAndOnlyOnce)
{
    QTest::keyClick(splash, Qt::Key_A);
    EXPECT_EQ(menuShown, 1);
    ASSERT_NE(frmMain::Instance(), nullptr);
    EXPECT_TRUE(frmMain::Instance()->isVisible());
    EXPECT_TRUE(splashGone());
    // Past the moment the timer would have fired: nothing more happens.
    QTest::qWait(3300);
    EXPECT_EQ(menuShown, 1);
    EXPECT_EQ(visibleWindows().size(), 1);
}

TEST_F(Splash, enterEscapeAndBackspaceCountAsCharacterKeys)
{
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Backspace}) {
        menuShown = 0;
        delete frmMain::Instance();
        splash = new frmSplash;
        splash->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(splash));
        QTest::keyClick(splash, key);
        EXPECT_EQ(menuShown, 1) << key;
        EXPECT_TRUE(splashGone()) << key;
    }
}

TEST_F(Splash, modifierArrowAndFunctionKeysAloneDoNothing)
{
    for (Qt::Key key : {Qt::Key_Shift, Qt::Key_Control, Qt::Key_Left, Qt::Key_Down, Qt::Key_F1, Qt::Key_F5})
        QTest::keyClick(splash, key);
    QTest::qWait(50);
    EXPECT_EQ(menuShown, 0);
    EXPECT_FALSE(splash.isNull());
    EXPECT_TRUE(splash->isVisible());
}
