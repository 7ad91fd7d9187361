#include "Screenshot.h"
#include "LiveUpdateTestKit.h"
#include "ScriptedSeams.h"
#include "Version.h"
#include "app/frmAbout.h"
#include "common/FormKit.h"
#include "common/modMain.h"
#include "liveupdate/frmUpdate.h"
#include "liveupdate/vcUPDATECTL.h"

#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Renders the window and tells whether the part shows more than one colour, so an empty window fails.
bool drawn(QWidget* window, const QString& name, const QWidget* part)
{
    const QImage image = renderWindow(window, name).copy(QRect(part->mapTo(window, QPoint()), part->size()));
    QImage blank = image;
    blank.fill(image.pixel(0, 0));
    return image != blank;
}

} // namespace

TEST(Screenshots, aboutBoxOpensItsSitesAndReturnsToTheMenuAndTheThreeWizardPagesAreDrawn)
{
    FormKit::InstallFontSubstitutes(); // as the program does at start
    QLocale::setDefault(QLocale::c());
    modMain::ComposeAppCaption();
    int menuShown = 0;
    modMain::SetMainMenuHandler([&] { ++menuShown; });
    QPointer<frmAbout> about = new frmAbout;
    about->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about));
    EXPECT_TRUE(drawn(about, "frmAbout", about->lblCredit1));

    RecordingBrowser browser;
    QTest::mouseClick(about->cmdTarnwellSite, Qt::LeftButton);
    QTest::mouseClick(about->cmdBrindleProjects, Qt::LeftButton);
    QTest::mouseClick(about->cmdBrindleForums, Qt::LeftButton);
    EXPECT_EQ(browser.urls(), std::vector<QUrl>({QUrl(corvane::build::siteTarnwell), QUrl(corvane::build::siteProjects),
                                                 QUrl(corvane::build::siteForums)}));
    EXPECT_TRUE(about->close());
    EXPECT_TRUE(QTest::qWaitFor([&] { return about.isNull(); }, 5000));
    EXPECT_EQ(menuShown, 1);
    modMain::SetMainMenuHandler(nullptr);

    LiveUpdateEnvironment env;
    LoopbackHttpServer server;
    server.setRoute("/corvane-1.1.tar.gz", {200, QByteArray(350000, 'x')});
    server.setRoute("/c.txt", {200, "Corvane 1.1\r\n1.1.0\r\n" + server.url("/corvane-1.1.tar.gz").toUtf8() + "\r\n"});
    frmUpdate dialog;
    vcUPDATECTL* c = dialog.vcUPDATECTL1;
    c->setConfigFileURL(server.url("/c.txt"));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_TRUE(drawn(&dialog, "frmUpdate-1-welcome", c->lblSTEP1));

    QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c->lblYES->isVisible(); }, 20000));
    EXPECT_TRUE(drawn(&dialog, "frmUpdate-2-update-available", c->lblYES));

    QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c->cmdCANCEL->text() == "Finish"; }, 20000));
    EXPECT_TRUE(drawn(&dialog, "frmUpdate-3-downloaded", c->lblUPDATE));
}
