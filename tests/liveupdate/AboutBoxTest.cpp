#include "ScriptedSeams.h"
#include "Version.h"
#include "app/frmAbout.h"
#include "common/FormKit.h"
#include "common/modMain.h"

#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

TEST(AboutBox, siteButtonsOpenTheSitesThroughTheBrowserAndClosingBringsTheMenuBack)
{
    FormKit::InstallFontSubstitutes(); // as the program does at start
    modMain::ComposeAppCaption();
    int menuShown = 0;
    modMain::SetMainMenuHandler([&] { ++menuShown; });
    QPointer<frmAbout> about = new frmAbout;
    about->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about));

    RecordingBrowser browser;
    QTest::mouseClick(about->cmdTarnwellSite, Qt::LeftButton);
    QTest::mouseClick(about->cmdBrindleProjects, Qt::LeftButton);
    QTest::mouseClick(about->cmdBrindleForums, Qt::LeftButton);
    EXPECT_EQ(browser.urls(), std::vector<QUrl>({QUrl(corvane::build::siteTarnwell), QUrl(corvane::build::siteProjects),
                                                 QUrl(corvane::build::siteForums)}));
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(menuShown, 0);

    EXPECT_TRUE(about->close());
    EXPECT_TRUE(QTest::qWaitFor([&] { return about.isNull(); }, 5000));
    EXPECT_EQ(menuShown, 1);
    delete about.data();
    modMain::SetMainMenuHandler(nullptr);
}
