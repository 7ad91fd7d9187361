#include "app/frmSplash.h"
#include "AppTestSupport.h"
#include "app/frmMain.h"
#include "common/modMain.h"

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

TEST_F(Splash, timerBringsTheMenuOnceWhileClicksAndModifierArrowOrFunctionKeysDoNothing)
{
    QTest::mouseClick(splash, Qt::LeftButton);
    for (Qt::Key key : {Qt::Key_Shift, Qt::Key_Control, Qt::Key_Left, Qt::Key_F1})
        QTest::keyClick(splash, key);
    QTest::qWait(50);
    EXPECT_EQ(menuShown, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return menuShown > 0; }, 6000));
    EXPECT_TRUE(splashGone());
    EXPECT_TRUE(frmMain::Instance()->isVisible());
    EXPECT_EQ(visibleWindows().size(), 1);
    EXPECT_EQ(menuShown, 1);
}

TEST_F(Splash, aCharacterKeyEvenEscapeBringsTheMenuAtOnceAndOnlyOnce)
{
    QTest::keyClick(splash, Qt::Key_Escape);
    EXPECT_EQ(menuShown, 1);
    EXPECT_TRUE(splashGone());
    // Past the moment the timer would have fired: nothing more happens.
    QTest::qWait(3300);
    EXPECT_EQ(menuShown, 1);
    EXPECT_EQ(visibleWindows().size(), 1);
}
