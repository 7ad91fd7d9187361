#include "LiveUpdateEnvironment.h"
#include "ScriptedSeams.h"
#include "Version.h"
#include "app/frmAbout.h"
#include "common/FormKit.h"
#include "common/modMain.h"
#include "liveupdate/frmUpdate.h"
#include "liveupdate/vcUPDATECTL.h"

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class AboutBox : public ::testing::Test {
protected:
    void SetUp() override
    {
        FormKit::InstallFontSubstitutes(); // as the program does at start
        modMain::ComposeAppCaption();
        modMain::SetMainMenuHandler([this] { ++menuShown; });
        about = new frmAbout;
        about->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(about));
    }
    void TearDown() override
    {
        delete about.data();
        modMain::SetMainMenuHandler(nullptr);
    }

    LiveUpdateEnvironment env; // the update dialog must not touch the real desktop
    QPointer<frmAbout> about;
    int menuShown = 0;
};

} // namespace

TEST_F(AboutBox, siteButtonsOpenTheirSitesAndLeaveTheBoxOpen)
{
    RecordingBrowser browser;
    QTest::mouseClick(about->cmdTarnwellSite, Qt::LeftButton);
    QTest::mouseClick(about->cmdBrindleProjects, Qt::LeftButton);
    QTest::mouseClick(about->cmdBrindleForums, Qt::LeftButton);
    EXPECT_EQ(browser.urls(), std::vector<QUrl>({QUrl(corvane::build::siteTarnwell), QUrl(corvane::build::siteProjects),
                                                 QUrl(corvane::build::siteForums)}));
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(menuShown, 0);
}

TEST_F(AboutBox, checkForUpdatesOpensTheUpdateDialogModallyOverIt)
{
    QPointer<frmUpdate> seen;
    bool modalToAbout = false;
    QTimer::singleShot(0, about, [&] {
        ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000));
        seen = qobject_cast<frmUpdate*>(QApplication::activeModalWidget());
        ASSERT_FALSE(seen.isNull());
        modalToAbout = seen->parentWidget() == about && seen->isModal();
        QTest::mouseClick(seen->vcUPDATECTL1->cmdCANCEL, Qt::LeftButton);
    });
    QTest::mouseClick(about->cmdUpdate, Qt::LeftButton); // returns once the dialog has closed
    EXPECT_TRUE(modalToAbout);
    EXPECT_TRUE(QTest::qWaitFor([&] { return seen.isNull(); }, 5000));
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(menuShown, 0);
}

TEST_F(AboutBox, closingBringsTheMenuBackAndDestroysTheBox)
{
    EXPECT_TRUE(about->close());
    EXPECT_EQ(menuShown, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return about.isNull(); }, 5000));
    EXPECT_EQ(menuShown, 1);
}
