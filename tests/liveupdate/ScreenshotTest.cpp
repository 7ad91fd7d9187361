#include "Screenshot.h"
#include "LiveUpdateTestKit.h"
#include "app/frmAbout.h"
#include "common/FormKit.h"
#include "common/modMain.h"
#include "liveupdate/frmUpdate.h"
#include "liveupdate/vcUPDATECTL.h"

#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTest>

#include <memory>

#include <gtest/gtest.h>

namespace {

// Counts pixels that differ clearly from the background, so an empty window fails.
int inkPixels(const QImage& image, const QRect& area)
{
    int n = 0;
    const QRgb background = image.pixel(area.topLeft());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += qGray(image.pixel(x, y)) + 60 < qGray(background) ? 1 : 0;
    return n;
}

} // namespace

TEST(Screenshots, aboutBoxAndTheThreeWizardPagesAreDrawn)
{
    FormKit::InstallFontSubstitutes();
    QLocale::setDefault(QLocale::c());
    modMain::ComposeAppCaption();
    modMain::SetMainMenuHandler([] {});
    auto about = std::make_unique<frmAbout>();
    about->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about.get()));
    const QImage image = renderWindow(about.get(), "frmAbout");
    EXPECT_GT(inkPixels(image, about->lblCredit1->geometry().translated(about->frmeCredits->pos())), 40);
    about.reset();
    modMain::SetMainMenuHandler(nullptr);

    LiveUpdateEnvironment env;
    LoopbackHttpServer server;
    server.setRoute("/f/corvane-1.1.tar.gz", {200, QByteArray(350000, 'x')});
    server.setRoute("/c.txt",
                    {200, "Corvane 1.1\r\n1.1.0\r\n" + server.url("/f/corvane-1.1.tar.gz").toUtf8() + "\r\n"});
    auto dialog = std::make_unique<frmUpdate>();
    vcUPDATECTL* c = dialog->vcUPDATECTL1;
    c->setConfigFileURL(server.url("/c.txt"));
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    const QImage welcome = renderWindow(dialog.get(), "frmUpdate-1-welcome");
    EXPECT_GT(inkPixels(welcome, c->lblSTEP1->geometry().translated(c->fraFRAME[0]->pos())), 200);

    QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c->lblYES->isVisible(); }, 20000));
    const QImage check = renderWindow(dialog.get(), "frmUpdate-2-update-available");
    EXPECT_GT(inkPixels(check, c->lblYES->geometry().translated(c->fraFRAME[1]->pos())), 100);

    QTest::mouseClick(c->cmdNEXT, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c->cmdCANCEL->text() == "Finish"; }, 20000));
    const QImage done = renderWindow(dialog.get(), "frmUpdate-3-downloaded");
    EXPECT_GT(inkPixels(done, c->lblUPDATE->geometry().translated(c->fraFRAME[2]->pos())), 100);
}
