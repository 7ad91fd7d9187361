#include "LiveUpdateEnvironment.h"
#include "ScriptedSeams.h"
#include "Version.h"
#include "app/frmAbout.h"
#include "common/FormKit.h"
#include "common/modMain.h"
#include "liveupdate/frmUpdate.h"
#include "liveupdate/vcUPDATECTL.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
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
        while (QWidget* modal = QApplication::activeModalWidget())
            delete modal;
        delete about.data();
        modMain::SetMainMenuHandler(nullptr);
    }

    LiveUpdateEnvironment env; // the update dialog must not touch the real desktop
    QPointer<frmAbout> about;
    int menuShown = 0;
};

} // namespace

TEST_F(AboutBox, showsTitleHeadingsAndCreditsInTheirPlaces)
{
    EXPECT_EQ(about->objectName(), "frmAbout");
    EXPECT_EQ(about->windowTitle(), "Corvane - File Migration Tool v1.0 BETA");
    EXPECT_EQ(about->size(), QSize(504, 434));
    EXPECT_TRUE(about->testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_EQ(about->Label1->text(), "Corvane - File Migration Tool");
    EXPECT_EQ(about->lblTitle2->text(), "including fix permissions and fast migration technology.");
    EXPECT_EQ(about->Label3->text(), "Concept");
    EXPECT_EQ(about->lblCredit1->text(), "Design & Programming");
    EXPECT_EQ(about->lblCredit2->text(), "With thanks");
    EXPECT_EQ(about->frmeCredits->title(), "Credits");
    EXPECT_EQ(about->frmeWebsites->title(), "Websites");
    EXPECT_TRUE(about->lblCredit3->text().endsWith("(Tarnwell)"));
    EXPECT_TRUE(about->lblCredit4->text().contains("Brindle"));
    EXPECT_TRUE(about->lblCredit4->text().endsWith(QUrl(corvane::build::siteForums).host()));
    EXPECT_EQ(about->lblFooter->text(), frmAbout::FooterText());
    EXPECT_TRUE(about->lblFooter->text().startsWith('"') && about->lblFooter->text().endsWith('"'));

    // Twips geometry (15 twips to the pixel), relative to each control's container.
    EXPECT_EQ(about->frmeCredits->geometry(), QRect(80, 96, 337, 185));
    EXPECT_EQ(about->lblCredit4->parentWidget(), about->frmeCredits);
    EXPECT_EQ(about->lblCredit4->geometry(), QRect(24, 144, 278, 13));
    EXPECT_EQ(about->cmdUpdate->parentWidget(), about->Picture1);
    EXPECT_EQ(about->Picture1->parentWidget(), about->frmeWebsites);
    EXPECT_EQ(about->cmdUpdate->geometry(), QRect(104, 48, 105, 25));
    EXPECT_EQ(about->lblFooter->geometry(), QRect(72, 408, 356, 16));
}

TEST_F(AboutBox, everyCaptionIsWhollyVisibleInsideItsContainer)
{
    for (QLabel* label : about->findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue; // the logo
        const QFontMetrics fm(label->font());
        const std::string name = label->objectName().toStdString();
        // The ink must not be clipped (the advance past the last glyph may be).
        EXPECT_LT(fm.tightBoundingRect(label->text()).right(), label->width()) << name;
        EXPECT_LE(fm.height(), label->height() + 3) << name;
        EXPECT_TRUE(label->parentWidget()->rect().contains(label->geometry())) << name;
    }
    for (QPushButton* button : about->findChildren<QPushButton*>())
        EXPECT_LE(QFontMetrics(button->font()).horizontalAdvance(button->text()), button->width() - 8)
            << button->objectName().toStdString();
}

TEST_F(AboutBox, siteButtonsOpenTheirSitesAndLeaveTheBoxOpen)
{
    RecordingBrowser browser;
    QTest::mouseClick(about->cmdTarnwellSite, Qt::LeftButton);
    QTest::mouseClick(about->cmdBrindleProjects, Qt::LeftButton);
    QTest::mouseClick(about->cmdBrindleForums, Qt::LeftButton);
    ASSERT_EQ(browser.urls().size(), 3u);
    EXPECT_EQ(browser.urls()[0], QUrl(corvane::build::siteTarnwell));
    EXPECT_EQ(browser.urls()[1], QUrl(corvane::build::siteProjects));
    EXPECT_EQ(browser.urls()[2], QUrl(corvane::build::siteForums));
    for (const QUrl& url : browser.urls()) {
        EXPECT_EQ(url.scheme(), "http");
        EXPECT_EQ(url.path(), "/");
    }
    EXPECT_FALSE(about.isNull());
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(menuShown, 0);
}

TEST_F(AboutBox, buttonsTakeTheFocusInTheirOrder)
{
    EXPECT_EQ(about->cmdTarnwellSite->nextInFocusChain(), about->cmdBrindleProjects);
    EXPECT_EQ(about->cmdBrindleProjects->nextInFocusChain(), about->cmdBrindleForums);
    EXPECT_EQ(about->cmdBrindleForums->nextInFocusChain(), about->cmdUpdate);
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
        EXPECT_EQ(seen->windowTitle(), modMain::AppCaption());
        EXPECT_EQ(seen->vcUPDATECTL1->wizardStep(), 0);
        QTest::mouseClick(seen->vcUPDATECTL1->cmdCANCEL, Qt::LeftButton);
    });
    QTest::mouseClick(about->cmdUpdate, Qt::LeftButton); // returns once the dialog has closed
    EXPECT_TRUE(modalToAbout);
    EXPECT_TRUE(QTest::qWaitFor([&] { return seen.isNull(); }, 5000));
    EXPECT_TRUE(about->findChildren<frmUpdate*>().isEmpty());
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
